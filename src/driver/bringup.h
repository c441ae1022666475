// Putting the configured channel on the bus and taking it off again.
#pragma once

#include <cstdint>

namespace morvantis {

// A filterId of -1 takes the standard and extended filters of the
// settings; any other value is the one identifier to accept (bit 31 set:
// extended).
inline constexpr std::uint32_t kSettingsFilters = 0xFFFFFFFFu;

// Brings the channel up with the settings; 0 or -1. Does nothing and
// returns 0 when the channel is already up.
std::int32_t InitChannel(std::uint32_t filterId);

std::int32_t canInit();
std::int32_t canExit();
std::int32_t canReset();
std::int32_t canBitrate(std::int32_t kbit);
std::int32_t canInitOneId(std::int32_t kbit, std::uint32_t filterId);

} // namespace morvantis
