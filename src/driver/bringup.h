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

// Closes the port and the driver; always 0.
std::int32_t ExitChannel();

// ExitChannel, then InitChannel with the settings' filters.
std::int32_t ResetChannel();

// Sets the bitrate (kbit/s) in the settings and resets the channel.
std::int32_t ChangeBitrate(std::int32_t kbit);

// Brings the channel up accepting only `filterId` (kSettingsFilters: the
// settings' filters). A kbit other than 0 sets the bitrate and takes the
// channel off the bus first, so that the new bitrate applies.
std::int32_t InitOneId(std::int32_t kbit, std::uint32_t filterId);

} // namespace morvantis
