// The fixed catalogue of the channels the library can serve, with the
// numbers by which the driver library identifies each.
#pragma once

#include <array>
#include <cstdint>

namespace morvantis {

using NameField = std::array<char, 20>; // the text, then NUL bytes

struct ChannelEntry {
    NameField displayName;
    std::int32_t hardwareType;
    std::int32_t hardwareIndex;
    std::int32_t hardwareChannel;
};

inline constexpr std::int32_t kChannelCount = 19;

extern const std::array<ChannelEntry, kChannelCount> kChannelCatalogue;
extern const NameField hardwareMaker;

// The catalogue entry at `index`. Outside the catalogue, the entry that
// stands for no channel: no name (all NUL bytes), and the driver's triple
// type 0, index -1, channel 0.
const ChannelEntry& LookupChannel(std::int32_t index);

} // namespace morvantis
