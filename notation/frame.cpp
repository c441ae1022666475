#include "frame.h"

#include <cstdio>
#include <cstring>

namespace notation {
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

std::size_t candumpLine(char* out, std::string_view channel, std::string_view direction,
                        const Frame& frame)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    char* p = out;
    const auto text = [&p](std::string_view part) {
        std::memcpy(p, part.data(), part.size());
        p += part.size();
    };
    text("  ");
    text(channel);
    if (!direction.empty()) {
        text("  ");
        text(direction);
    }
    text("  ");
    for (int shift = frame.extended ? 28 : 8; shift >= 0; shift -= 4) {
        *p++ = kHex[(frame.id >> shift) & 0xF];
    }
    text("   [");
    if (frame.length >= 100) {
        *p++ = static_cast<char>('0' + frame.length / 100);
    }
    if (frame.length >= 10) {
        *p++ = static_cast<char>('0' + frame.length / 10 % 10);
    }
    *p++ = static_cast<char>('0' + frame.length % 10);
    *p++ = ']';
    if (frame.remote) {
        text("  remote request");
        return static_cast<std::size_t>(p - out);
    }
    if (frame.length != 0) {
        *p++ = ' ';
    }
    for (std::size_t i = 0; i < frame.length && i < frame.data.size(); ++i) {
        *p++ = ' ';
        *p++ = kHex[frame.data[i] >> 4];
        *p++ = kHex[frame.data[i] & 0xF];
    }
    return static_cast<std::size_t>(p - out);
}

std::string candumpLine(std::string_view channel, std::string_view direction, const Frame& frame)
{
    std::string line(maxCandumpLine(channel.size(), direction.size()), '\0');
    line.resize(candumpLine(line.data(), channel, direction, frame));
    return line;
}

std::size_t logLine(char* out, std::int64_t micros, std::string_view channel, const Frame& frame)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    char* p = out;
    const int used =
        std::snprintf(p, 32, "(%lld.%06lld) ", static_cast<long long>(micros / 1000000),
                      static_cast<long long>(micros % 1000000));
    p += used;
    for (const char c : channel) {
        *p++ = c;
    }
    *p++ = ' ';
    for (int shift = frame.extended ? 28 : 8; shift >= 0; shift -= 4) {
        *p++ = kHex[(frame.id >> shift) & 0xF];
    }
    *p++ = '#';
    if (frame.remote) {
        *p++ = 'R';
        if (frame.length != 0) {
            *p++ = static_cast<char>('0' + frame.length);
        }
    } else {
        for (std::size_t i = 0; i < frame.length; ++i) {
            *p++ = kHex[frame.data[i] >> 4];
            *p++ = kHex[frame.data[i] & 0xF];
        }
    }
    *p++ = '\n';
    return static_cast<std::size_t>(p - out);
}

std::optional<LogLine> parseLogLine(std::string_view line, std::string& error)
{
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const std::size_t close = line.find(')');
    if (line.empty() || line[0] != '(' || close == std::string_view::npos) {
        error = "a log line starts with the time in parentheses, (SECONDS.MICROSECONDS)";
        return std::nullopt;
    }
    const std::string_view time = line.substr(1, close - 1);
    const std::size_t dot = time.find('.');
    const std::string_view seconds = time.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view{} : time.substr(dot + 1);
    const auto allDigits = [](std::string_view digits) {
        return digits.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (seconds.empty() || seconds.size() > 12 || fraction.size() > 6 || !allDigits(seconds) ||
        !allDigits(fraction)) {
        error = "the time \"" + std::string(time) + "\" is not SECONDS.MICROSECONDS";
        return std::nullopt;
    }
    LogLine result;
    for (const char c : seconds) {
        result.micros = result.micros * 10 + (c - '0');
    }
    std::int64_t micros = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        micros = micros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    result.micros = result.micros * 1000000 + micros;

    std::string_view rest = line.substr(close + 1);
    const auto skipSpaces = [&rest] {
        const std::size_t start = rest.find_first_not_of(' ');
        rest = start == std::string_view::npos ? std::string_view{} : rest.substr(start);
    };
    skipSpaces();
    const std::size_t space = rest.find(' ');
    if (rest.empty() || space == std::string_view::npos) {
        error = "a log line has the time, the channel and the frame, separated by spaces";
        return std::nullopt;
    }
    result.channel = rest.substr(0, space);
    rest = rest.substr(space);
    skipSpaces();
    // python-can writes a direction flag, R or T, after the frame.
    const std::size_t end = rest.find(' ');
    const std::string_view frameText = rest.substr(0, end);
    if (end != std::string_view::npos) {
        std::string_view flag = rest.substr(end);
        const std::size_t start = flag.find_first_not_of(' ');
        flag = start == std::string_view::npos ? std::string_view{} : flag.substr(start);
        if (!flag.empty() && flag != "R" && flag != "T") {
            error = "unexpected \"" + std::string(flag) + "\" after the frame";
            return std::nullopt;
        }
    }
    std::string frameError;
    const std::optional<Frame> frame = parseFrame(frameText, frameError);
    if (!frame) {
        error = "bad frame \"" + std::string(frameText) + "\": " + frameError;
        return std::nullopt;
    }
    result.frame = *frame;
    return result;
}

} // namespace notation
