#include "driver/bringup.h"

#include "driver/channel_catalogue.h"
#include "driver/status_report.h"
#include "driver/vcand32.h"
#include "state/library_state.h"
#include "state/result.h"

#include <array>

namespace morvantis {
namespace {

// The name with which the library opens its port, in a zero-filled array
// of the size the driver expects.
constexpr std::array<char, 36> kApplicationName = {'M', 'O', 'R', 'V', 'A', 'N', 'T', 'I', 'S'};

constexpr std::int32_t kMaxKbit = INT32_MAX / 1000; // the bit/s value fits

// Closes the port (an unknown handle included, as the driver takes it) and
// forgets it.
void closePort()
{
    DriverConnection& connection = libraryState.connection;
    ncdClosePort(connection.portHandle);
    connection.portHandle = kNoPort;
    connection.portWithoutInitAccess = false;
}

// A refused step after the port is open: tell the user, close the port.
std::int32_t abandonPort(NcdStatus status, const char* text)
{
    ReportDriverStatus(status, text);
    closePort();
    return kFailure;
}

NcdStatus setBitrate(std::int32_t kbit)
{
    if (kbit > kMaxKbit || kbit < -kMaxKbit) {
        return NCD_WRONG_PARAMETER; // not expressible in bit/s
    }
    const DriverConnection& connection = libraryState.connection;
    return ncdSetChannelBitrate(connection.portHandle, connection.permissionMask, kbit * 1000);
}

NcdStatus setAcceptance(std::uint32_t code, std::uint32_t mask)
{
    AcceptanceFilter filter{code, mask};
    const DriverConnection& connection = libraryState.connection;
    return ncdSetChannelAcceptance(connection.portHandle, connection.channelMask, &filter);
}

// The acceptance step: the settings' two filters, or one identifier.
NcdStatus applyFilters(std::uint32_t filterId)
{
    if (filterId == kSettingsFilters) {
        const CanSettings& settings = libraryState.settings;
        const NcdStatus status = setAcceptance(static_cast<std::uint32_t>(settings.globalCodeStd),
                                               static_cast<std::uint32_t>(settings.globalMaskStd));
        if (status != NCD_SUCCESS) {
            return status;
        }
        return setAcceptance(static_cast<std::uint32_t>(settings.globalCodeXtd) | NCD_EXTENDED_ID,
                             static_cast<std::uint32_t>(settings.globalMaskXtd) | NCD_EXTENDED_ID);
    }
    const bool extended = (filterId & NCD_EXTENDED_ID) != 0;
    return setAcceptance(filterId, extended ? NCD_MATCH_EXTENDED_ID : NCD_MATCH_STANDARD_ID);
}

} // namespace

std::int32_t InitChannel(std::uint32_t filterId)
{
    DriverConnection& connection = libraryState.connection;
    if (connection.initialised) {
        return kSuccess;
    }
    if (ncdOpenDriver() != NCD_SUCCESS) {
        return kFailure;
    }

    const ChannelEntry& channel = LookupChannel(libraryState.settings.channelIndex);
    connection.channelMask =
        ncdGetChannelMask(channel.hardwareType, channel.hardwareIndex, channel.hardwareChannel);
    if (connection.channelMask == 0) {
        ReportDriverStatus(0, "Could not GetChannelMask");
        return kFailure;
    }

    if (connection.portWithoutInitAccess) {
        closePort();
    }
    const NcdStatus openStatus =
        ncdOpenPort(&connection.portHandle, kApplicationName.data(), connection.channelMask,
                    connection.channelMask, &connection.permissionMask, kReceiveQueueSize);
    if (openStatus == NCD_PORT_NOT_OPENED || connection.portHandle == kNoPort) {
        ReportDriverStatus(openStatus, "Could not OpenPort");
        return kFailure;
    }
    if (connection.permissionMask == 0) {
        connection.portWithoutInitAccess = true;
        return kSuccess;
    }

    NcdStatus status = setBitrate(libraryState.settings.bitrate);
    if (status != NCD_SUCCESS) {
        return abandonPort(status, "Could not SetChannelBitrate");
    }
    status = ncdSetChannelOutput(connection.portHandle, connection.permissionMask, kOutputNormal);
    if (status != NCD_SUCCESS) {
        return abandonPort(status, "Could not SetChannelOutput");
    }
    status = applyFilters(filterId);
    if (status != NCD_SUCCESS) {
        return abandonPort(status, "Could not SetChannelAcceptance");
    }
    status = ncdSetChannelMode(connection.portHandle, connection.channelMask, 0, 0);
    if (status != NCD_SUCCESS) {
        return abandonPort(status, "Could not SetChannelMode");
    }
    status = ncdActivateChannel(connection.portHandle, connection.channelMask);
    if (status != NCD_SUCCESS) {
        return abandonPort(status, "Could not ActivateChannel");
    }
    connection.initialised = true;
    return kSuccess;
}

std::int32_t ExitChannel()
{
    closePort();
    ncdCloseDriver();
    libraryState.connection.initialised = false;
    return kSuccess;
}

std::int32_t ResetChannel()
{
    ExitChannel();
    return InitChannel(kSettingsFilters);
}

std::int32_t ChangeBitrate(std::int32_t kbit)
{
    libraryState.settings.bitrate = kbit;
    return ResetChannel();
}

std::int32_t InitOneId(std::int32_t kbit, std::uint32_t filterId)
{
    if (kbit != 0) {
        libraryState.settings.bitrate = kbit;
        ExitChannel();
    }
    return InitChannel(filterId);
}

} // namespace morvantis
