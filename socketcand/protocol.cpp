#include "protocol.h"

#include <array>

namespace socketcand {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kMaxTokens = 12;

struct Tokens {
    std::array<std::string_view, kMaxTokens> items;
    std::size_t count = 0;
    bool tooMany = false;
};

// What each byte is to the parser: a hex digit's value, or one of these.
constexpr std::int8_t kSpace = -2;
constexpr std::int8_t kOther = -1;

constexpr std::array<std::int8_t, 256> makeClasses()
{
    std::array<std::int8_t, 256> classes{};
    for (std::size_t c = 0; c < classes.size(); ++c) {
        classes[c] = kOther;
    }
    for (const char c : {' ', '\t', '\r', '\n'}) {
        classes[static_cast<unsigned char>(c)] = kSpace;
    }
    for (int d = 0; d < 10; ++d) {
        classes[static_cast<std::size_t>('0' + d)] = static_cast<std::int8_t>(d);
    }
    for (int d = 0; d < 6; ++d) {
        classes[static_cast<std::size_t>('a' + d)] = static_cast<std::int8_t>(10 + d);
        classes[static_cast<std::size_t>('A' + d)] = static_cast<std::int8_t>(10 + d);
    }
    return classes;
}

constexpr std::array<std::int8_t, 256> kClasses = makeClasses();

std::int8_t classOf(char c)
{
    return kClasses[static_cast<unsigned char>(c)];
}

bool isSpace(char c)
{
    return classOf(c) == kSpace;
}

Tokens split(std::string_view body)
{
    Tokens tokens;
    const char* p = body.data();
    const char* const end = p + body.size();
    for (;;) {
        while (p != end && isSpace(*p)) {
            ++p;
        }
        if (p == end) {
            break;
        }
        const char* const start = p;
        while (p != end && !isSpace(*p)) {
            ++p;
        }
        if (tokens.count == kMaxTokens) {
            tokens.tooMany = true;
            break;
        }
        tokens.items[tokens.count++] = std::string_view(start, static_cast<std::size_t>(p - start));
    }
    return tokens;
}

int hexValue(char c)
{
    const std::int8_t value = classOf(c);
    return value < 0 ? -1 : value;
}

// 1 to `maxDigits` hex digits.
bool parseHex(std::string_view text, std::size_t maxDigits, std::uint32_t& value)
{
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        const int digit = hexValue(c);
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

// ID: exactly 8 digits is an extended identifier, fewer a standard one.
const char* parseId(std::string_view text, Frame& frame)
{
    std::uint32_t value = 0;
    if (!parseHex(text, 8, value)) {
        return "identifier is not 1 to 8 hex digits";
    }
    frame.extended = text.size() == 8;
    if (value > (frame.extended ? notation::kExtendedIdMask : notation::kStandardIdMask)) {
        return frame.extended ? "extended identifier beyond 1FFFFFFF"
                              : "standard identifier beyond 7FF";
    }
    frame.id = value;
    return nullptr;
}

const char* parseSend(const Tokens& t, bool remote, Frame& frame)
{
    if (t.count < 3) {
        return "send needs an identifier and a length";
    }
    if (const char* error = parseId(t.items[1], frame)) {
        return error;
    }
    const std::string_view length = t.items[2];
    if (length.size() != 1 || length[0] < '0' || length[0] > '8') {
        return "length is not 0 to 8";
    }
    frame.remote = remote;
    frame.length = static_cast<std::uint8_t>(length[0] - '0');
    const std::size_t bytes = remote ? 0 : frame.length;
    if (t.count != 3 + bytes) {
        return remote ? "sendrtr takes no data bytes" : "number of data bytes differs from length";
    }
    for (std::size_t i = 0; i < bytes; ++i) {
        std::uint32_t value = 0;
        if (!parseHex(t.items[3 + i], 2, value)) {
            return "data byte is not 1 or 2 hex digits";
        }
        frame.data[i] = static_cast<std::uint8_t>(value);
    }
    return nullptr;
}

// SECS.USECS, six digits of microseconds.
bool parseTime(std::string_view text, std::int64_t& micros)
{
    const std::size_t dot = text.find('.');
    if (dot == 0 || dot == std::string_view::npos || text.size() - dot - 1 != 6 || dot > 12) {
        return false;
    }
    micros = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == dot) {
            continue;
        }
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        micros = micros * 10 + (text[i] - '0');
    }
    return true;
}

char* writeHex(char* p, std::uint32_t value, int digits)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        *p++ = kHex[(value >> shift) & 0xF];
    }
    return p;
}

char* writeText(char* p, std::string_view text)
{
    for (const char c : text) {
        *p++ = c;
    }
    return p;
}

char* writeTime(char* p, std::int64_t micros)
{
    if (micros < 0) {
        micros = 0;
    }
    auto seconds = static_cast<std::uint64_t>(micros / 1000000);
    auto fraction = static_cast<std::uint32_t>(micros % 1000000);
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + seconds % 10);
        seconds /= 10;
    } while (seconds != 0);
    while (n > 0) {
        *p++ = digits[--n];
    }
    *p++ = '.';
    for (int i = 5; i >= 0; --i) {
        p[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    return p + 6;
}

char* writeId(char* p, const Frame& frame)
{
    return writeHex(p, frame.id, frame.extended ? 8 : 3);
}

} // namespace

bool isBusName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxBusName) {
        return false;
    }
    for (const char c : name) {
        if (c <= ' ' || c > '~' || c == '<' || c == '>') {
            return false;
        }
    }
    return true;
}

ClientMessage parseClientMessage(std::string_view body)
{
    ClientMessage message;
    const Tokens t = split(body);
    if (t.tooMany) {
        message.error = "too many words";
        return message;
    }
    if (t.count == 0) {
        message.error = "empty message";
        return message;
    }
    const std::string_view command = t.items[0];
    if (command == "send" || command == "sendrtr") {
        message.error = parseSend(t, command == "sendrtr", message.frame);
        if (message.error == nullptr) {
            message.kind = ClientMessage::Kind::Send;
        }
        return message;
    }
    if (command == "open") {
        if (t.count != 2 || !isBusName(t.items[1])) {
            message.error = "bus name is 1 to 16 printable characters";
            return message;
        }
        message.kind = ClientMessage::Kind::Open;
        message.name = t.items[1];
        return message;
    }
    struct Plain {
        std::string_view word;
        ClientMessage::Kind kind;
    };
    static constexpr Plain kPlain[] = {{"rawmode", ClientMessage::Kind::RawMode},
                                       {"bcmmode", ClientMessage::Kind::BcmMode},
                                       {"echo", ClientMessage::Kind::Echo}};
    for (const Plain& plain : kPlain) {
        if (command == plain.word) {
            if (t.count != 1) {
                message.error = "unexpected words after the command";
                return message;
            }
            message.kind = plain.kind;
            return message;
        }
    }
    message.error = "unknown command";
    return message;
}

ServerMessage parseServerMessage(std::string_view body)
{
    ServerMessage message;
    const Tokens t = split(body);
    if (t.count == 0 || t.tooMany) {
        return message;
    }
    const std::string_view word = t.items[0];
    if (t.count == 1 && (word == "hi" || word == "ok" || word == "echo")) {
        message.kind = word == "hi"   ? ServerMessage::Kind::Hi
                       : word == "ok" ? ServerMessage::Kind::Ok
                                      : ServerMessage::Kind::Echo;
        return message;
    }
    if (word == "frame" && t.count >= 3) {
        // The daemon writes the data as one word; the written protocol
        // separates the bytes. Both are read.
        Frame& frame = message.frame;
        if (parseId(t.items[1], frame) != nullptr || !parseTime(t.items[2], message.micros)) {
            return message;
        }
        for (std::size_t i = 3; i < t.count; ++i) {
            const std::string_view hex = t.items[i];
            if (hex.size() % 2 != 0 || frame.length + hex.size() / 2 > 8) {
                return message;
            }
            for (std::size_t k = 0; k < hex.size(); k += 2) {
                std::uint32_t value = 0;
                if (!parseHex(hex.substr(k, 2), 2, value)) {
                    return message;
                }
                frame.data[frame.length++] = static_cast<std::uint8_t>(value);
            }
        }
        message.kind = ServerMessage::Kind::Frame;
        return message;
    }
    if (word == "rtr" && t.count == 4) {
        Frame& frame = message.frame;
        const std::string_view length = t.items[3];
        if (parseId(t.items[1], frame) != nullptr || !parseTime(t.items[2], message.micros) ||
            length.size() != 1 || length[0] < '0' || length[0] > '8') {
            return message;
        }
        frame.remote = true;
        frame.length = static_cast<std::uint8_t>(length[0] - '0');
        message.kind = ServerMessage::Kind::Frame;
        return message;
    }
    if (word == "error") {
        if (t.count == 3 && parseHex(t.items[1], 8, message.errorClass) &&
            parseTime(t.items[2], message.micros)) {
            message.kind = ServerMessage::Kind::ErrorFrame;
            return message;
        }
        message.kind = ServerMessage::Kind::Error;
        const std::size_t at = body.find("error") + 5;
        const std::size_t start = body.find_first_not_of(' ', at);
        message.text = start == std::string_view::npos ? std::string_view{} : body.substr(start);
        while (!message.text.empty() && isSpace(message.text.back())) {
            message.text.remove_suffix(1);
        }
    }
    return message;
}

std::size_t formatFrame(char* out, const Frame& frame, std::int64_t micros)
{
    char* p = out;
    if (frame.remote) {
        p = writeText(p, "< rtr ");
        p = writeId(p, frame);
        *p++ = ' ';
        p = writeTime(p, micros);
        *p++ = ' ';
        *p++ = static_cast<char>('0' + frame.length);
        p = writeText(p, " >");
        return static_cast<std::size_t>(p - out);
    }
    p = writeText(p, "< frame ");
    p = writeId(p, frame);
    *p++ = ' ';
    p = writeTime(p, micros);
    *p++ = ' ';
    for (std::size_t i = 0; i < frame.length; ++i) {
        *p++ = kHex[frame.data[i] >> 4];
        *p++ = kHex[frame.data[i] & 0xF];
    }
    p = writeText(p, " >");
    return static_cast<std::size_t>(p - out);
}

std::size_t formatErrorFrame(char* out, std::uint32_t errorClass, std::int64_t micros)
{
    char* p = writeText(out, "< error ");
    p = writeHex(p, errorClass, 3);
    *p++ = ' ';
    p = writeTime(p, micros);
    p = writeText(p, " >");
    return static_cast<std::size_t>(p - out);
}

std::size_t formatSend(char* out, const Frame& frame)
{
    char* p = writeText(out, frame.remote ? "< sendrtr " : "< send ");
    p = writeId(p, frame);
    *p++ = ' ';
    *p++ = static_cast<char>('0' + frame.length);
    if (!frame.remote) {
        for (std::size_t i = 0; i < frame.length; ++i) {
            *p++ = ' ';
            *p++ = kHex[frame.data[i] >> 4];
            *p++ = kHex[frame.data[i] & 0xF];
        }
    }
    p = writeText(p, " >");
    return static_cast<std::size_t>(p - out);
}

} // namespace socketcand
