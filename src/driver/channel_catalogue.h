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

// The driver's triple for catalogue `index`; for an index outside the
// catalogue the triple that stands for no channel: type 0, index -1,
// channel 0.
void LookupChannel(std::int32_t index, std::int32_t& hardwareType, std::int32_t& hardwareIndex,
                   std::int32_t& hardwareChannel);

// The catalogue entry at `index`, or null outside the catalogue.
const ChannelEntry* findChannel(std::int32_t index);

} // namespace morvantis
