// CAN frames in can-utils' notation, shared by the demo and the bus tools:
// cansend's ID#DATA in, candump's line form and candump -L log lines out
// and back in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace notation {

inline constexpr std::uint32_t kStandardIdMask = 0x7FF;
inline constexpr std::uint32_t kExtendedIdMask = 0x1FFFFFFF;

struct Frame {
    std::uint32_t id = 0; // 11 or 29 bits
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
// remote frames with "remote request" in place of the data. An empty
// direction leaves its column out, as candump prints received frames.
std::string candumpLine(std::string_view channel, std::string_view direction, const Frame& frame);

// The longest candump line for a channel and a direction of these lengths.
constexpr std::size_t maxCandumpLine(std::size_t channelLength, std::size_t directionLength)
{
    return 2 + channelLength + 2 + directionLength + 2 + 8 + 4 + 3 + 1 + 1 + 3 * 8;
}

// The same line written to `out`, which has room for maxCandumpLine()
// characters, without a newline; returns the number written.
std::size_t candumpLine(char* out, std::string_view channel, std::string_view direction,
                        const Frame& frame);

// One line of a candump -L log: "(1702300000.123456) vcan0 123#DEADBEEF".
struct LogLine {
    std::int64_t micros = 0;  // the time, in microseconds
    std::string_view channel; // points into the text read
    Frame frame;
};

// The longest log line logLine writes, with its newline, for a channel
// name of `channelLength` characters.
constexpr std::size_t maxLogLine(std::size_t channelLength)
{
    return 2 + 20 + 1 + 6 + 2 + channelLength + 1 + 8 + 1 + 16 + 1;
}

// Writes the log line and a newline to `out`, which has room for
// maxLogLine(channel.size()) characters; returns the number written.
std::size_t logLine(char* out, std::int64_t micros, std::string_view channel, const Frame& frame);

// Reads one log line (without its newline). Without a frame, `error` says
// what is wrong with the line.
std::optional<LogLine> parseLogLine(std::string_view line, std::string& error);

} // namespace notation
