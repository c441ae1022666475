#include "settings/conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace morvantis {
namespace {

struct DecimalCase {
    std::string text;
    std::int32_t expected;
};

TEST(ParseDecimal, FollowsTheSignedStringToLongRules)
{
    const DecimalCase cases[] = {
        {"2", 2},
        {"-1", -1},
        {"+7", 7},
        {"007", 7},
        {" \t\n\v\f\r42", 42},
        {"125kbit", 125},
        {"0x3", 0}, // base 10 stops at the x
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"\x80\xff"
         "5",
         0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"123456789012345678901234567890", INT32_MAX},
        {"-123456789012345678901234567890", INT32_MIN},
    };
    for (const DecimalCase& c : cases) {
        SCOPED_TRACE("text \"" + c.text + "\"");
        EXPECT_EQ(ParseDecimal(c.text.c_str()), c.expected);
    }
}

struct HexCase {
    std::string text;
    std::uint32_t expected; // the bit pattern
};

TEST(ParseHexPattern, KeepsEveryThirtyTwoBitPattern)
{
    const HexCase cases[] = {
        {"0x000007FF", 0x7FFu},
        {"7FF", 0x7FFu},
        {"0X7ff", 0x7FFu},
        {" 0x00000123", 0x123u},
        {"+0x10", 0x10u},
        {"12zz", 0x12u},
        {"0x7FFFFFFF", 0x7FFFFFFFu},
        // Bit 31 set: the pattern as written, not saturated.
        {"0x80000000", 0x80000000u},
        {"0x9FFFFFFF", 0x9FFFFFFFu},
        {"0xFFFFFFFF", 0xFFFFFFFFu},
        // A sign negates modulo 2^32.
        {"-1", 0xFFFFFFFFu},
        {"-0x1", 0xFFFFFFFFu},
        {"-0xFFFFFFFF", 1u},
        {"-0", 0u},
        // Wider than 32 bits, either sign.
        {"0x100000000", 0xFFFFFFFFu},
        {"-0x100000000", 0xFFFFFFFFu},
        {"fffffffffffffffffffffffffffffff", 0xFFFFFFFFu},
        // No digit.
        {"", 0u},
        {"xyz", 0u},
        {"0x", 0u},
        {"0xg", 0u},
        {"0x0x5", 0u},
        {"- 1", 0u},
    };
    for (const HexCase& c : cases) {
        SCOPED_TRACE("text \"" + c.text + "\"");
        EXPECT_EQ(static_cast<std::uint32_t>(ParseHexPattern(c.text.c_str())), c.expected);
    }
}

} // namespace
} // namespace morvantis
