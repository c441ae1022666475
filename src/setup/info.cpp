#include "setup/info.h"

#include "driver/channel_catalogue.h"
#include "morvantis_version.h"
#include "state/library_state.h"

#include <cstring>

namespace morvantis {

void FillDllInfo(CanDllInfo& info)
{
    info.infoTag = 1;
    static_assert(sizeof MORVANTIS_VERSION_NUMBER == sizeof info.dllVersion);
    std::memcpy(info.dllVersion, MORVANTIS_VERSION_NUMBER, sizeof info.dllVersion);
    info.trailChar = MORVANTIS_VERSION_TRAIL;
    // Outside the catalogue there is no name to give: 20 NUL bytes.
    const NameField& name = LookupChannel(libraryState.settings.channelIndex).displayName;
    std::memcpy(info.channelName, name.data(), sizeof info.channelName);
    std::memcpy(info.makerName, hardwareMaker.data(), sizeof info.makerName);
    std::memcpy(info.placeholderText, "???", sizeof info.placeholderText);
    // Byte 10 (`unused`) is left as the caller had it.
}

void FillStatus(CanStatusRecord& status)
{
    for (std::int32_t& value : status.value) {
        value = -1;
    }
    status.value[MORVANTIS_STATUS_BITRATE] = libraryState.settings.bitrate;
}

} // namespace morvantis
