// The socketcand messages: what a client may send (the daemon's spelling
// and python-can's), what is turned away, what the server writes, and the
// splitting of a stream cut anywhere.
#include "protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace socketcand {
namespace {

Frame frame(std::uint32_t id, bool extended, std::vector<std::uint8_t> bytes, bool remote = false,
            std::uint8_t length = 0)
{
    Frame f;
    f.id = id;
    f.extended = extended;
    f.remote = remote;
    f.length = remote ? length : static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), f.data.begin());
    return f;
}

TEST(ClientMessages, SendsInEverySpelling)
{
    struct Case {
        const char* body;
        Frame expected;
    };
    const Case cases[] = {
        {" send 123 4 DE AD BE EF ", frame(0x123, false, {0xDE, 0xAD, 0xBE, 0xEF})},
        // python-can: no leading zeros, lower case, zero length with two spaces
        {" send 18FEF100 2 1 f1 ", frame(0x18FEF100, true, {0x01, 0xF1})},
        {" send 5 0  ", frame(0x5, false, {})},
        {" send 7ff 8 0 1 2 3 4 5 6 ff ", frame(0x7FF, false, {0, 1, 2, 3, 4, 5, 6, 0xFF})},
        {" send 00000123 1 11 ", frame(0x123, true, {0x11})},
        {" sendrtr 123 3 ", frame(0x123, false, {}, true, 3)},
        {" sendrtr 1FFFFFFF 0 ", frame(0x1FFFFFFF, true, {}, true, 0)},
    };
    for (const Case& c : cases) {
        const ClientMessage message = parseClientMessage(c.body);
        ASSERT_EQ(message.kind, ClientMessage::Kind::Send) << c.body << ": " << message.error;
        EXPECT_EQ(message.frame, c.expected) << c.body;
    }
}

TEST(ClientMessages, Commands)
{
    using Kind = ClientMessage::Kind;
    EXPECT_EQ(parseClientMessage(" open vcan0 ").kind, Kind::Open);
    EXPECT_EQ(parseClientMessage(" open vcan0 ").name, "vcan0");
    EXPECT_EQ(parseClientMessage(" open 0123456789abcdef ").kind, Kind::Open);
    EXPECT_EQ(parseClientMessage(" rawmode ").kind, Kind::RawMode);
    EXPECT_EQ(parseClientMessage(" bcmmode ").kind, Kind::BcmMode);
    EXPECT_EQ(parseClientMessage(" echo ").kind, Kind::Echo);
}

TEST(ClientMessages, TurnsAwayBadOnes)
{
    const char* const cases[] = {
        "",                                   // empty
        " hello ",                            // unknown command
        " SEND 123 0 ",                       // commands are lower case
        " open ",                             // no name
        " open 0123456789abcdefg ",           // 17 characters
        " open a b ",                         // two names
        " rawmode now ",                      // extra words
        " send ",                             // no identifier
        " send 123 ",                         // no length
        " send 800 0 ",                       // standard beyond 7FF
        " send 1234 0 ",                      // python-can's extended 0x1234: taken as standard
        " send 20000000 0 ",                  // extended beyond 1FFFFFFF
        " send 123456789 0 ",                 // nine digits
        " send 12G 0 ",                       // not hex
        " send 123 9 1 2 3 4 5 6 7 8 9 ",     // length beyond 8
        " send 123 2 11 ",                    // fewer bytes than the length
        " send 123 1 11 22 ",                 // more bytes than the length
        " send 123 1 123 ",                   // three-digit byte
        " send 123 1 x ",                     // not hex
        " send 123 a ",                       // length not decimal
        " sendrtr 123 2 11 22 ",              // remote frames carry no data
        " send 1 8 1 2 3 4 5 6 7 8 9 10 11 ", // too many words
    };
    for (const char* body : cases) {
        const ClientMessage message = parseClientMessage(body);
        EXPECT_EQ(message.kind, ClientMessage::Kind::Bad) << body;
        EXPECT_NE(message.error, nullptr) << body;
    }
}

TEST(ServerMessages, WrittenAsTheDaemonWritesThem)
{
    struct Case {
        Frame frame;
        std::int64_t micros;
        const char* expected;
    };
    const Case cases[] = {
        {frame(0x123, false, {0xDE, 0xAD, 0xBE, 0xEF}), 23424242,
         "< frame 123 23.424242 DEADBEEF >"},
        {frame(0x5, false, {}), 1702300000000001, "< frame 005 1702300000.000001  >"},
        {frame(0x1ABCDEF0, true, {1, 2, 3, 4, 5, 6, 7, 8}), 0,
         "< frame 1ABCDEF0 0.000000 0102030405060708 >"},
        {frame(0x7FF, false, {}, true, 3), 1500000, "< rtr 7FF 1.500000 3 >"},
    };
    for (const Case& c : cases) {
        char out[kMaxFormatted];
        const std::string written(out, formatFrame(out, c.frame, c.micros));
        EXPECT_EQ(written, c.expected);
        // and the tools read it back
        const ServerMessage read = parseServerMessage(written.substr(1, written.size() - 2));
        EXPECT_EQ(read.kind, ServerMessage::Kind::Frame) << written;
        EXPECT_EQ(read.frame, c.frame) << written;
        EXPECT_EQ(read.micros, c.micros) << written;
    }
    char out[kMaxFormatted];
    // The longest frame message there is (the daemon keeps frames in that
    // room), though its time is past what a reader takes.
    EXPECT_EQ(std::string(out, formatFrame(out, frame(0x1FFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8}),
                                           INT64_MAX)),
              "< frame 1FFFFFFF 9223372036854.775807 0102030405060708 >");
    EXPECT_EQ(formatFrame(out, frame(0x1FFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8}), INT64_MAX),
              kMaxFormattedFrame);
    EXPECT_EQ(std::string(out, formatErrorFrame(out, kErrorClassController, 2000001)),
              "< error 004 2.000001 >");
    EXPECT_EQ(std::string(out, formatSend(out, frame(0x12345678, true, {0xAB}))),
              "< send 12345678 1 AB >");
    EXPECT_EQ(std::string(out, formatSend(out, frame(0x12, false, {}, true, 8))),
              "< sendrtr 012 8 >");
    // The written protocol's form, with spaces between the bytes.
    EXPECT_EQ(parseServerMessage(" frame 123 1.000000 11 22 ").frame,
              frame(0x123, false, {0x11, 0x22}));
    EXPECT_EQ(parseServerMessage(" error unknown command ").text, "unknown command");
    EXPECT_EQ(parseServerMessage(" frame 123 1.0 11 ").kind, ServerMessage::Kind::Other);
}

// Feeds `stream` cut into pieces of `piece` bytes; what the splitter saw.
std::vector<std::string> split(std::string_view stream, std::size_t piece, std::size_t limit = 64)
{
    Splitter splitter(limit);
    std::vector<std::string> seen;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::string_view chunk = stream.substr(at, piece);
        EXPECT_EQ(splitter.feed(
                      chunk,
                      [&](std::string_view body) {
                          seen.emplace_back(body);
                          return true;
                      },
                      [&](const char* reason) {
                          seen.push_back(std::string("bad: ") + reason);
                          return true;
                      }),
                  chunk.size());
    }
    return seen;
}

TEST(Splitter, FindsMessagesCutAnywhere)
{
    const std::string stream = "< open a >< rawmode >\n  < echo >"
                               "junk < send 1 0 > < x < echo >"
                               "< " +
                               std::string(100, 'z') +
                               " >< echo >"
                               // the longest message the limit lets through, and one more
                               "<" +
                               std::string(62, 'y') + "><" + std::string(63, 'y') + ">";
    const std::vector<std::string> expected = {" open a ",
                                               " rawmode ",
                                               " echo ",
                                               "bad: bytes outside a message",
                                               " send 1 0 ",
                                               "bad: message cut short by a new one",
                                               " echo ",
                                               "bad: message too long",
                                               " echo ",
                                               std::string(62, 'y'),
                                               "bad: message too long"};
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        EXPECT_EQ(split(stream, piece), expected) << "pieces of " << piece;
    }
}

TEST(Splitter, StopsWhereTheCallerSays)
{
    Splitter splitter(64);
    const std::string_view stream = "< echo >< echo >";
    int seen = 0;
    const auto once = [&](std::string_view) { return ++seen, false; };
    const auto never = [](const char*) { return true; };
    const std::size_t taken = splitter.feed(stream, once, never);
    EXPECT_EQ(taken, 8u);
    EXPECT_EQ(splitter.feed(stream.substr(taken), once, never), 8u);
    EXPECT_EQ(seen, 2);
}

} // namespace
} // namespace socketcand
