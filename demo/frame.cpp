#include "frame.h"

#include <cstdio>

namespace demo {
namespace {

constexpr std::size_t kStandardDigits = 3;
constexpr std::size_t kExtendedDigits = 8;
constexpr std::size_t kMaxLength = 8;

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool parseIdentifier(std::string_view digits, Frame& frame, std::string& error)
{
    if (digits.size() != kStandardDigits && digits.size() != kExtendedDigits) {
        error = "the identifier needs 3 hex digits (standard) or 8 (extended)";
        return false;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        const int digit = hexValue(c);
        if (digit < 0) {
            error = "the identifier is not hexadecimal";
            return false;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    frame.extended = digits.size() == kExtendedDigits;
    if (value > (frame.extended ? kExtendedIdMask : kStandardIdMask)) {
        error = frame.extended ? "an extended identifier is at most 1FFFFFFF"
                               : "a standard identifier is at most 7FF";
        return false;
    }
    frame.id = value;
    return true;
}

bool parseRemote(std::string_view rest, Frame& frame, std::string& error)
{
    frame.remote = true;
    if (rest.empty()) {
        return true;
    }
    if (rest.size() == 1 && rest[0] >= '0' && rest[0] <= '8') {
        frame.length = static_cast<std::uint8_t>(rest[0] - '0');
        return true;
    }
    error = "a remote frame takes one data length code digit, 0 to 8";
    return false;
}

bool parseData(std::string_view text, Frame& frame, std::string& error)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '.') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || hexValue(text[i]) < 0 || hexValue(text[i + 1]) < 0) {
            error = "data are hex byte pairs, optionally separated by '.'";
            return false;
        }
        if (frame.length == kMaxLength) {
            error = "a frame carries at most 8 data bytes";
            return false;
        }
        frame.data[frame.length++] =
            static_cast<std::uint8_t>(hexValue(text[i]) << 4 | hexValue(text[i + 1]));
        i += 2;
    }
    return true;
}

} // namespace

std::optional<Frame> parseFrame(std::string_view text, std::string& error)
{
    const std::size_t hash = text.find('#');
    if (hash == std::string_view::npos) {
        error = "a frame is written <id>#<data> or <id>#R";
        return std::nullopt;
    }
    Frame frame;
    if (!parseIdentifier(text.substr(0, hash), frame, error)) {
        return std::nullopt;
    }
    const std::string_view rest = text.substr(hash + 1);
    const bool remote = !rest.empty() && (rest[0] == 'R' || rest[0] == 'r');
    const bool parsed =
        remote ? parseRemote(rest.substr(1), frame, error) : parseData(rest, frame, error);
    if (!parsed) {
        return std::nullopt;
    }
    return frame;
}

std::string notation(const Frame& frame)
{
    char text[32];
    int used = std::snprintf(text, sizeof text, frame.extended ? "%08X#" : "%03X#",
                             static_cast<unsigned>(frame.id));
    std::string result(text, static_cast<std::size_t>(used));
    if (frame.remote) {
        result += 'R';
        if (frame.length != 0) {
            result += static_cast<char>('0' + frame.length);
        }
        return result;
    }
    for (std::size_t i = 0; i < frame.length; ++i) {
        used = std::snprintf(text, sizeof text, "%02X", frame.data[i]);
        result.append(text, static_cast<std::size_t>(used));
    }
    return result;
}

std::string candumpLine(std::string_view channel, std::string_view direction, const Frame& frame)
{
    std::string line = "  ";
    line += channel;
    line += "  ";
    line += direction;
    char text[32];
    int used = std::snprintf(text, sizeof text, frame.extended ? "  %08X" : "  %03X",
                             static_cast<unsigned>(frame.id));
    line.append(text, static_cast<std::size_t>(used));
    used = std::snprintf(text, sizeof text, "   [%u]", static_cast<unsigned>(frame.length));
    line.append(text, static_cast<std::size_t>(used));
    if (frame.remote) {
        line += "  remote request";
        return line;
    }
    if (frame.length != 0) {
        line += ' ';
    }
    for (std::size_t i = 0; i < frame.length && i < frame.data.size(); ++i) {
        used = std::snprintf(text, sizeof text, " %02X", frame.data[i]);
        line.append(text, static_cast<std::size_t>(used));
    }
    return line;
}

std::uint32_t driverId(const Frame& frame)
{
    return frame.extended ? (frame.id | kExtendedMark) : frame.id;
}

void setFromDriverId(Frame& frame, std::uint32_t id)
{
    frame.extended = (id & kExtendedMark) != 0;
    frame.id = frame.extended ? (id & kExtendedIdMask) : id;
}

std::uint32_t answerId(std::uint32_t id)
{
    if ((id & kExtendedMark) != 0) {
        return ((id + 1) & kExtendedIdMask) | kExtendedMark;
    }
    return (id + 1) & kStandardIdMask;
}

} // namespace demo
