// The frame notation: what cansend's notation accepts, what it turns away,
// the candump lines printed from it, and candump -L log lines.
#include "frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace notation {
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
    // the longest line, and a remote frame's code past 9 as candump prints it
    EXPECT_EQ(candumpLine("morvantis", "RX",
                          frame(0x1FFFFFFF, true, false, {1, 2, 3, 4, 5, 6, 7, 0xFF}, 8)),
              "  morvantis  RX  1FFFFFFF   [8]  01 02 03 04 05 06 07 FF");
    EXPECT_EQ(candumpLine("morvantis", "RX", frame(0x456, false, true, {}, 12)),
              "  morvantis  RX  456   [12]  remote request");
}

TEST(FrameNotation, CandumpLineWithoutDirection)
{
    EXPECT_EQ(candumpLine("vcan0", "", frame(0x123, false, false, {0xDE, 0xAD, 0xBE, 0xEF}, 4)),
              "  vcan0  123   [4]  DE AD BE EF");
}

struct LogCase {
    const char* line;
    std::int64_t micros;
    const char* channel;
    Frame expected;
    const char* written; // what logLine writes back for it
};

TEST(LogLines, ReadAndWrittenAsCandumpWritesThem)
{
    const LogCase cases[] = {
        {"(1702300000.123456) vcan0 123#DEADBEEF", 1702300000123456, "vcan0",
         frame(0x123, false, false, {0xDE, 0xAD, 0xBE, 0xEF}, 4),
         "(1702300000.123456) vcan0 123#DEADBEEF\n"},
        {"(0.000001) bus 1FFFFFFF#", 1, "bus", frame(0x1FFFFFFF, true, false, {}, 0),
         "(0.000001) bus 1FFFFFFF#\n"},
        {"(12.5) a 7FF#R3", 12500000, "a", frame(0x7FF, false, true, {}, 3),
         "(12.500000) a 7FF#R3\n"},
        {"(3)  vcan1   00000123#R R", 3000000, "vcan1", frame(0x123, true, true, {}, 0),
         "(3.000000) vcan1 00000123#R\n"},
        {"(1.000000) c 001#0102030405060708 T\r", 1000000, "c",
         frame(1, false, false, {1, 2, 3, 4, 5, 6, 7, 8}, 8),
         "(1.000000) c 001#0102030405060708\n"},
    };
    for (const LogCase& c : cases) {
        std::string error;
        const std::optional<LogLine> parsed = parseLogLine(c.line, error);
        ASSERT_TRUE(parsed) << c.line << ": " << error;
        EXPECT_EQ(parsed->micros, c.micros) << c.line;
        EXPECT_EQ(parsed->channel, c.channel) << c.line;
        EXPECT_EQ(parsed->frame, c.expected) << c.line;
        std::string out(maxLogLine(parsed->channel.size()), '\0');
        out.resize(logLine(out.data(), parsed->micros, parsed->channel, parsed->frame));
        EXPECT_EQ(out, c.written) << c.line;
    }
}

TEST(LogLines, TurnsAwayWhatIsNotALogLine)
{
    const char* const cases[] = {
        "",                                      // nothing
        "vcan0 123#11",                          // no time
        "(1.2.3) vcan0 123#11",                  // not a time
        "(1.1234567) vcan0 123#11",              // more than microseconds
        "(x) vcan0 123#11",                      // not digits
        "(1.0) vcan0",                           // no frame
        "(1.0) vcan0 12#11",                     // bad frame
        "(1.0) vcan0 123#11 X",                  // unknown flag
        "(1.0) vcan0 20000004#0001000000000000", // error frame: not a frame to send
    };
    for (const char* text : cases) {
        std::string error;
        EXPECT_FALSE(parseLogLine(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

} // namespace
} // namespace notation
