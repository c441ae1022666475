#include "driver/bringup.h"

#include "api/module_state.h"
#include "driver/channel_catalogue.h"
#include "driver/status_report.h"
#include "driver/vcand32.h"

namespace morvantis {
namespace {

constexpr std::int32_t kFailure = -1;
constexpr NcdStatus kWrongParameter = 101;
constexpr std::int32_t kMaxKbit = INT32_MAX / 1000; // the bit/s value fits

// A refused step after the port is open: tell the user, close the port.
std::int32_t abandonPort(NcdStatus status, const char* text)
{
    ReportDriverStatus(status, text);
    ncdClosePort(driverConnection.portHandle);
    driverConnection.portHandle = kNoPort;
    return kFailure;
}

NcdStatus setBitrate(std::int32_t kbit)
{
    if (kbit > kMaxKbit || kbit < -kMaxKbit) {
        return kWrongParameter; // not expressible in bit/s
    }
    return ncdSetChannelBitrate(driverConnection.portHandle, driverConnection.permissionMask,
                                kbit * 1000);
}

NcdStatus setAcceptance(std::uint32_t code, std::uint32_t mask)
{
    AcceptanceFilter filter{code, mask};
    return ncdSetChannelAcceptance(driverConnection.portHandle, driverConnection.channelMask,
                                   &filter);
}

// The acceptance step: the settings' two filters, or one identifier.
NcdStatus applyFilters(std::uint32_t filterId)
{
    if (filterId == kSettingsFilters) {
        const NcdStatus status =
            setAcceptance(static_cast<std::uint32_t>(canSettings.globalCodeStd),
                          static_cast<std::uint32_t>(canSettings.globalMaskStd));
        if (status != kNcdSuccess) {
            return status;
        }
        return setAcceptance(static_cast<std::uint32_t>(canSettings.globalCodeXtd) | kExtendedId,
                             static_cast<std::uint32_t>(canSettings.globalMaskXtd) | kExtendedId);
    }
    const bool extended = (filterId & kExtendedId) != 0;
    return setAcceptance(filterId, extended ? 0x9FFFFFFFu : 0x7FFu);
}

} // namespace

std::int32_t InitChannel(std::uint32_t filterId)
{
    DriverConnection& connection = driverConnection;
    if (connection.initialised) {
        return 0;
    }
    if (ncdOpenDriver() != kNcdSuccess) {
        return kFailure;
    }

    std::int32_t hardwareType = 0;
    std::int32_t hardwareIndex = 0;
    std::int32_t hardwareChannel = 0;
    LookupChannel(canSettings.channelIndex, hardwareType, hardwareIndex, hardwareChannel);
    connection.channelMask = ncdGetChannelMask(hardwareType, hardwareIndex, hardwareChannel);
    if (connection.channelMask == 0) {
        ReportDriverStatus(0, "Could not GetChannelMask");
        return kFailure;
    }

    if (connection.portWithoutInitAccess) {
        ncdClosePort(connection.portHandle);
        connection.portHandle = kNoPort;
        connection.portWithoutInitAccess = false;
    }
    const NcdStatus openStatus =
        ncdOpenPort(&connection.portHandle, kApplicationName.data(), connection.channelMask,
                    connection.channelMask, &connection.permissionMask, kReceiveQueueSize);
    if (openStatus == kNcdPortNotOpened || connection.portHandle == kNoPort) {
        ReportDriverStatus(openStatus, "Could not OpenPort");
        return kFailure;
    }
    if (connection.permissionMask == 0) {
        connection.portWithoutInitAccess = true;
        return 0;
    }

    NcdStatus status = setBitrate(canSettings.bitrate);
    if (status != kNcdSuccess) {
        return abandonPort(status, "Could not SetChannelBitrate");
    }
    status = ncdSetChannelOutput(connection.portHandle, connection.permissionMask, kOutputNormal);
    if (status != kNcdSuccess) {
        return abandonPort(status, "Could not SetChannelOutput");
    }
    status = applyFilters(filterId);
    if (status != kNcdSuccess) {
        return abandonPort(status, "Could not SetChannelAcceptance");
    }
    status = ncdSetChannelMode(connection.portHandle, connection.channelMask, 0, 0);
    if (status != kNcdSuccess) {
        return abandonPort(status, "Could not SetChannelMode");
    }
    status = ncdActivateChannel(connection.portHandle, connection.channelMask);
    if (status != kNcdSuccess) {
        return abandonPort(status, "Could not ActivateChannel");
    }
    connection.initialised = true;
    return 0;
}

std::int32_t canInit()
{
    return InitChannel(kSettingsFilters);
}

std::int32_t canExit()
{
    ncdClosePort(driverConnection.portHandle);
    driverConnection.portHandle = kNoPort;
    driverConnection.portWithoutInitAccess = false;
    ncdCloseDriver();
    driverConnection.initialised = false;
    return 0;
}

std::int32_t canReset()
{
    canExit();
    return canInit();
}

std::int32_t canBitrate(std::int32_t kbit)
{
    canSettings.bitrate = kbit;
    return canReset();
}

std::int32_t canInitOneId(std::int32_t kbit, std::uint32_t filterId)
{
    if (kbit != 0) {
        canSettings.bitrate = kbit;
        canExit();
    }
    return InitChannel(filterId);
}

} // namespace morvantis
