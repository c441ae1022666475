// CAN frames as the demo takes them from its command line and prints them:
// the ID#DATA notation of can-utils' cansend in, candump's line form out.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace demo {

inline constexpr std::uint32_t kStandardIdMask = 0x7FF;
inline constexpr std::uint32_t kExtendedIdMask = 0x1FFFFFFF;
inline constexpr std::uint32_t kExtendedMark = 0x80000000u; // bit 31, the driver's convention

struct Frame {
    std::uint32_t id = 0; // 11 or 29 bits, without the extended mark
    bool extended = false;
    bool remote = false;
    std::uint8_t length = 0; // data length code, 0 to 8
    std::array<std::uint8_t, 8> data{};

    bool operator==(const Frame&) const = default;
};

// Reads one frame in cansend's notation:
//   123#11.22.33    standard identifier (3 hex digits, at most 7FF), data as
//                   hex byte pairs, '.' allowed between them, at most 8 bytes
//   12345678#       extended identifier (8 hex digits, at most 1FFFFFFF)
//   123#R  123#R3   remote frame, optionally with its data length code
// Without a frame, `error` says what is wrong with the text.
std::optional<Frame> parseFrame(std::string_view text, std::string& error);

// The frame in cansend's notation, as parseFrame reads it.
std::string notation(const Frame& frame);

// One line in candump's form: "  <channel>  <direction>  123   [3]  11 22 33",
// remote frames with "remote request" in place of the data.
std::string candumpLine(std::string_view channel, std::string_view direction, const Frame& frame);

// The identifier in the driver's form (bit 31 marks an extended one) and back.
std::uint32_t driverId(const Frame& frame);
void setFromDriverId(Frame& frame, std::uint32_t id);

// The identifier with which the peer answers `id` (driver form): one more,
// wrapping within its 11 or 29 bits and keeping its kind.
std::uint32_t answerId(std::uint32_t id);

} // namespace demo
