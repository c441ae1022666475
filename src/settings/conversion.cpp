#include "settings/conversion.h"

#include <cstdint>

namespace morvantis {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digitValue(char c, int base)
{
    int value = 36;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'z') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'Z') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

struct Parsed {
    bool negative;
    std::uint64_t magnitude; // saturates at kCap
};

constexpr std::uint64_t kCap = std::uint64_t{1} << 40;

Parsed parse(const char* text, int base)
{
    while (isSpace(*text)) {
        ++text;
    }
    Parsed result{false, 0};
    if (*text == '+' || *text == '-') {
        result.negative = *text == '-';
        ++text;
    }
    // A "0x" prefix counts only when a hexadecimal digit follows it;
    // otherwise the "0" is the number and the "x" ends it.
    if (base == 16 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        digitValue(text[2], 16) >= 0) {
        text += 2;
    }
    for (int digit; (digit = digitValue(*text, base)) >= 0; ++text) {
        result.magnitude = result.magnitude * base + static_cast<unsigned>(digit);
        if (result.magnitude > kCap) {
            result.magnitude = kCap;
        }
    }
    return result;
}

} // namespace

std::int32_t ParseDecimal(const char* text)
{
    const Parsed p = parse(text, 10);
    if (p.negative) {
        return p.magnitude > 0x80000000u
                   ? INT32_MIN
                   : static_cast<std::int32_t>(-static_cast<std::int64_t>(p.magnitude));
    }
    return p.magnitude > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(p.magnitude);
}

std::int32_t ParseHexPattern(const char* text)
{
    const Parsed p = parse(text, 16);
    std::uint32_t pattern = 0xFFFFFFFFu;
    if (p.magnitude <= 0xFFFFFFFFu) {
        pattern = static_cast<std::uint32_t>(p.magnitude);
        if (p.negative) {
            pattern = 0u - pattern;
        }
    }
    return static_cast<std::int32_t>(pattern);
}

} // namespace morvantis
