// The bus: one order for all, nothing back to the sender, overflow counted
// and reported once, frame lengths in bits and arbitration order.
#include "bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bus {
namespace {

struct TestNode : Node {
    explicit TestNode(std::uint32_t n) { number = n; }
    void wake() override { ++wakes; }
    void resume() override {}
    int wakes = 0;
};

Frame numbered(std::uint32_t id)
{
    Frame f;
    f.id = id;
    f.length = 1;
    f.data[0] = static_cast<std::uint8_t>(id);
    return f;
}

// What the node reads: frame ids, -1 for an overflow report.
std::vector<int> readAll(Bus& bus, Node& node, std::size_t max = 1000)
{
    std::vector<int> seen;
    bus.drain(
        node, max, [&](const Record& r) { seen.push_back(static_cast<int>(r.frame.id)); },
        [&] { seen.push_back(-1); });
    return seen;
}

TEST(Bus, EveryOtherNodeSeesOneOrder)
{
    Bus bus("b", 16, 0);
    TestNode a(1), b(2), c(3);
    for (Node* node : {static_cast<Node*>(&a), static_cast<Node*>(&b), static_cast<Node*>(&c)}) {
        bus.join(*node);
        bus.setReceiving(*node, true);
    }
    bus.publish(numbered(1), a, 0);
    bus.publish(numbered(2), b, 0);
    bus.publish(numbered(3), a, 0);
    bus.wakeReaders();
    EXPECT_EQ(a.wakes, 1);
    EXPECT_EQ(readAll(bus, a), (std::vector<int>{2}));
    EXPECT_EQ(readAll(bus, b), (std::vector<int>{1, 3}));
    EXPECT_EQ(readAll(bus, c), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(bus.hasFramesFor(c));
}

TEST(Bus, EachFrameIsWrittenOutOnceForAllReaders)
{
    // A slot of the ring is reused for a shorter frame: its text is the
    // new frame's alone.
    Bus bus("b", 2, 0);
    TestNode sender(1), reader(2);
    bus.join(sender);
    bus.join(reader);
    bus.setReceiving(reader, true);
    Frame longest = numbered(0x7FF);
    longest.extended = true;
    longest.length = 8;
    Frame remote = numbered(0x12);
    remote.remote = true;
    bus.publish(longest, sender, 1000002);
    bus.publish(numbered(0x7), sender, 3);
    bus.publish(remote, sender, 4);
    std::vector<std::string> wire;
    bus.drain(
        reader, 10, [&](const Record& r) { wire.emplace_back(r.wire()); }, [] {});
    EXPECT_EQ(wire, (std::vector<std::string>{"< frame 007 0.000003 07 >\n",
                                              "< rtr 012 0.000004 1 >\n"}));
}

TEST(Bus, OverflowLosesTheOldestAndIsReportedOnce)
{
    Bus bus("b", 4, 0);
    TestNode slow(1), fast(2), sender(9);
    bus.join(slow);
    bus.join(fast);
    bus.join(sender);
    bus.setReceiving(slow, true);
    bus.setReceiving(fast, true);
    for (std::uint32_t id = 1; id <= 10; ++id) {
        bus.publish(numbered(id), sender, 0);
        EXPECT_EQ(readAll(bus, fast).size(), 1u);
    }
    EXPECT_EQ(bus.dropsOf(slow), 6u);
    EXPECT_EQ(readAll(bus, slow, 2), (std::vector<int>{-1, 7, 8}));
    EXPECT_EQ(readAll(bus, slow), (std::vector<int>{9, 10}));
    EXPECT_EQ(slow.dropped, 6u);
    EXPECT_EQ(fast.dropped, 0u);
    // A node not in raw mode is not delivered to and loses nothing.
    TestNode quiet(3);
    bus.join(quiet);
    bus.publish(numbered(11), sender, 0);
    EXPECT_TRUE(readAll(bus, quiet).empty());
    EXPECT_EQ(bus.dropsOf(quiet), 0u);
}

TEST(Bus, OwnFramesOverwrittenAreNoLosses)
{
    // A node in raw mode that sends but does not read: only the others'
    // frames it missed are its losses, and only they are reported.
    Bus bus("b", 4, 0);
    TestNode talker(1), other(2), late(3);
    for (Node* node : {static_cast<Node*>(&talker), static_cast<Node*>(&other)}) {
        bus.join(*node);
        bus.setReceiving(*node, true);
    }
    for (std::uint32_t id = 1; id <= 10; ++id) {
        bus.publish(numbered(id), talker, 0);
    }
    EXPECT_EQ(bus.dropsOf(talker), 0u);
    EXPECT_TRUE(readAll(bus, talker).empty());
    EXPECT_EQ(talker.dropped, 0u);

    // Own frames and two of the other's, all overwritten, then the ring's
    // last four: two own, two the other's, which arrive.
    const std::uint32_t from[] = {1, 2, 1, 2, 1, 1, 2, 1, 2};
    std::uint32_t id = 20;
    for (const std::uint32_t node : from) {
        bus.publish(numbered(id++), node == 1 ? talker : other, 0);
    }
    EXPECT_EQ(bus.dropsOf(talker), 2u);
    EXPECT_EQ(readAll(bus, talker), (std::vector<int>{-1, 26, 28}));
    EXPECT_EQ(talker.dropped, 2u);

    // A node that left, and a newcomer in its place on the bus: the
    // newcomer's count starts clean.
    bus.leave(other);
    bus.publish(numbered(30), talker, 0);
    bus.join(late);
    bus.setReceiving(late, true);
    for (std::uint32_t n = 0; n < 8; ++n) {
        bus.publish(numbered(40 + n), talker, 0);
    }
    EXPECT_EQ(bus.dropsOf(late), 8u - 4u);
    EXPECT_EQ(bus.dropsOf(talker), 2u); // all it missed since are its own
}

TEST(FrameBits, LengthsWithStuffBits)
{
    // All zeros up to the CRC (which is zero too): 34 bits, a stuff bit
    // after every five, then 13 bits of delimiters, end and intermission.
    EXPECT_EQ(frameBits(Frame{}), 34u + 6u + 13u);
    // Every frame lies between its unstuffed length and the worst case.
    for (std::uint32_t id : {0x000u, 0x123u, 0x555u, 0x7FFu}) {
        for (std::uint8_t length = 0; length <= 8; ++length) {
            Frame f;
            f.id = id;
            f.length = length;
            f.data.fill(static_cast<std::uint8_t>(id));
            const unsigned plain = 47u + 8u * length;
            EXPECT_GE(frameBits(f), plain) << id << " " << int(length);
            EXPECT_LE(frameBits(f), plain + (34u + 8u * length - 1u) / 4u);
            f.extended = true;
            EXPECT_GE(frameBits(f), plain + 20u);
        }
    }
}

TEST(Arbitration, LowestIdentifierStandardAndDataFirst)
{
    Frame low, high, extended, remote;
    low.id = 0x100;
    high.id = 0x101;
    extended.extended = true;
    extended.id = 0x100u << 18; // same top 11 bits as `low`
    remote = low;
    remote.remote = true;
    EXPECT_LT(arbitrationKey(low), arbitrationKey(high));
    EXPECT_LT(arbitrationKey(low), arbitrationKey(remote));
    EXPECT_LT(arbitrationKey(remote), arbitrationKey(extended)); // IDE decides
    EXPECT_LT(arbitrationKey(extended), arbitrationKey(high));
}

TEST(TimedBus, CarriesOneFrameAtATimeLowestFirst)
{
    Bus bus("b", 16, 500000);
    TestNode a(1), b(2), listener(3);
    bus.join(a);
    bus.join(b);
    bus.join(listener);
    bus.setReceiving(listener, true);
    bus.offer(a, numbered(0x300), 0);
    bus.offer(a, numbered(0x100), 0);
    bus.offer(b, numbered(0x200), 0);
    // 0x200 wins first (a's first frame is 0x300), then a's frames in order.
    std::int64_t now = 0;
    std::vector<std::int64_t> ends;
    while (const std::optional<std::int64_t> due = bus.step(now)) {
        now = *due;
        ends.push_back(now);
    }
    EXPECT_EQ(readAll(bus, listener), (std::vector<int>{0x200, 0x300, 0x100}));
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(ends[0], frameBits(numbered(0x200)) * 2000);
}

} // namespace
} // namespace bus
