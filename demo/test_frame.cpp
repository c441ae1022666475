// The demo's frame notation: what the command line accepts, what it turns
// away, and the candump lines printed from it.
#include "frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace demo {
namespace {

Frame frame(std::uint32_t id, bool extended, bool remote, std::vector<std::uint8_t> bytes,
            std::uint8_t length)
{
    Frame f;
    f.id = id;
    f.extended = extended;
    f.remote = remote;
    f.length = length;
    std::copy(bytes.begin(), bytes.end(), f.data.begin());
    return f;
}

struct Accepted {
    const char* text;
    Frame expected;
};

TEST(FrameNotation, ReadsWhatCansendWrites)
{
    const Accepted cases[] = {
        {"123#112233", frame(0x123, false, false, {0x11, 0x22, 0x33}, 3)},
        {"7ff#de.ad.BE.ef", frame(0x7FF, false, false, {0xDE, 0xAD, 0xBE, 0xEF}, 4)},
        {"000#", frame(0, false, false, {}, 0)},
        {"1FFFFFFF#0102030405060708", frame(0x1FFFFFFF, true, false, {1, 2, 3, 4, 5, 6, 7, 8}, 8)},
        {"00000123#11", frame(0x123, true, false, {0x11}, 1)},
        {"456#R", frame(0x456, false, true, {}, 0)},
        {"12345678#r8", frame(0x12345678, true, true, {}, 8)},
        {"123#.11..22.", frame(0x123, false, false, {0x11, 0x22}, 2)},
    };
    for (const Accepted& c : cases) {
        std::string error;
        const std::optional<Frame> parsed = parseFrame(c.text, error);
        ASSERT_TRUE(parsed) << c.text << ": " << error;
        EXPECT_EQ(*parsed, c.expected) << c.text;
        // The notation printed for a frame reads back as the same frame.
        EXPECT_EQ(parseFrame(notation(*parsed), error), parsed) << c.text;
    }
}

TEST(FrameNotation, TurnsAwayWhatIsNotAFrame)
{
    const char* const cases[] = {
        "123",                    // no '#'
        "12#11",                  // identifier of neither width
        "1234#11",                // identifier of neither width
        "800#11",                 // beyond 11 bits
        "20000000#11",            // beyond 29 bits
        "12G#11",                 // not hexadecimal
        "123#1",                  // half a byte
        "123#11.2",               // half a byte after a separator
        "123#1x",                 // not hexadecimal
        "123#112233445566778899", // nine bytes
        "123#R9",                 // remote length code beyond 8
        "123#R12",                // more than one digit
        "123#RR",                 // not a length code
    };
    for (const char* text : cases) {
        std::string error;
        EXPECT_FALSE(parseFrame(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(FrameNotation, CandumpLines)
{
    EXPECT_EQ(candumpLine("morvantis", "RX", frame(0x123, false, false, {0x11, 0x22, 0x33}, 3)),
              "  morvantis  RX  123   [3]  11 22 33");
    EXPECT_EQ(candumpLine("morvantis", "TX", frame(0x12345678, true, false, {0xAB}, 1)),
              "  morvantis  TX  12345678   [1]  AB");
    EXPECT_EQ(candumpLine("morvantis", "RX", frame(0x456, false, true, {0x99}, 2)),
              "  morvantis  RX  456   [2]  remote request");
    EXPECT_EQ(candumpLine("morvantis", "RX", frame(0x00A, false, false, {}, 0)),
              "  morvantis  RX  00A   [0]");
}

} // namespace
} // namespace demo
