#include "setup/info.h"

#include "api/module_state.h"
#include "driver/channel_catalogue.h"

#include <cstring>

namespace morvantis {

void fillDllInfo(CanDllInfo& info)
{
    info.infoTag = 1;
    std::memcpy(info.dllVersion, "1.00", sizeof info.dllVersion);
    info.trailChar = '0';
    // Outside the catalogue there is no name to give: 20 NUL bytes.
    const ChannelEntry* channel = findChannel(canSettings.channelIndex);
    const NameField noName{};
    const NameField& name = channel != nullptr ? channel->displayName : noName;
    std::memcpy(info.channelName, name.data(), sizeof info.channelName);
    std::memcpy(info.makerName, hardwareMaker.data(), sizeof info.makerName);
    std::memcpy(info.placeholderText, "???", sizeof info.placeholderText);
    // Byte 10 (`unused`) is left as the caller had it.
}

void fillStatus(CanStatusRecord& status)
{
    for (std::int32_t& value : status.value) {
        value = -1;
    }
    status.value[MORVANTIS_STATUS_BITRATE] = canSettings.bitrate;
}

} // namespace morvantis
