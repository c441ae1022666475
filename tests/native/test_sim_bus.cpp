// The simulated bus, driven through the driver operations themselves and
// through the library: what one port sends, which other ports receive.
#include "fixture.h"

#include "driver/vcand32.h"
#include "morvantis.h"

namespace morvantis::testing {
namespace {

constexpr AcceptanceFilter kAllStandard{0, 0};
constexpr AcceptanceFilter kAllExtended{NCD_EXTENDED_ID, NCD_EXTENDED_ID};

class SimBus : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_EQ(ncdOpenDriver(), 0);
    }

    // A port of its own on the channels of `mask`, with both filters set,
    // on the bus unless `activate` is false.
    static std::int32_t open(std::uint32_t mask, std::int32_t queueSize = 64,
                             AcceptanceFilter standard = kAllStandard,
                             AcceptanceFilter extended = kAllExtended, bool activate = true)
    {
        std::int32_t handle = -1;
        std::uint32_t permission = 0;
        EXPECT_EQ(ncdOpenPort(&handle, "PEER", mask, mask, &permission, queueSize), 0);
        EXPECT_EQ(ncdSetChannelAcceptance(handle, mask, &standard), 0);
        EXPECT_EQ(ncdSetChannelAcceptance(handle, mask, &extended), 0);
        if (activate) {
            EXPECT_EQ(ncdActivateChannel(handle, mask), 0);
        }
        return handle;
    }

    static NcdStatus send(std::int32_t handle, std::uint32_t mask, std::uint32_t id,
                          std::uint8_t flags = 0)
    {
        DriverEvent event{};
        event.tag = kEventTransmit;
        event.id = id;
        event.flags = flags;
        event.length = 3;
        for (std::uint8_t i = 0; i < 8; ++i) {
            event.data[i] = static_cast<std::uint8_t>(id + i);
        }
        return ncdTransmit(handle, mask, &event);
    }

    // Every event waiting at the port, taken off its queue.
    static std::vector<DriverEvent> drain(std::int32_t handle)
    {
        std::vector<DriverEvent> events;
        DriverEvent* event = nullptr;
        while (ncdReceive1(handle, &event) == 0) {
            events.push_back(*event);
        }
        return events;
    }

    static std::vector<std::uint32_t> ids(const std::vector<DriverEvent>& events)
    {
        std::vector<std::uint32_t> result;
        for (const DriverEvent& event : events) {
            result.push_back(std::uint32_t{event.id}); // a copy: the field is unaligned
        }
        return result;
    }
};

TEST_F(SimBus, AFrameReachesEveryOtherPortOnTheBus)
{
    const std::int32_t sender = open(0x1);
    const std::int32_t second = open(0x2);
    const std::int32_t third = open(0x8);
    const std::int32_t offBus = open(0x10, 64, kAllStandard, kAllExtended, false);

    ASSERT_EQ(send(sender, 0x1, 0x123, 0x01), 0);
    for (const std::int32_t receiver : {second, third}) {
        const std::vector<DriverEvent> events = drain(receiver);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].tag, kEventReceived);
        EXPECT_EQ(events[0].id, 0x123u);
        EXPECT_EQ(events[0].flags, 0); // only the remote flag goes over the bus
        EXPECT_EQ(events[0].length, 3);
        EXPECT_EQ(events[0].data[7], static_cast<std::uint8_t>(0x123 + 7));
    }
    EXPECT_EQ(simQueuedEvents(sender), 0);
    EXPECT_EQ(simQueuedEvents(offBus), 0);
    EXPECT_EQ(send(offBus, 0x10, 0x123), NCD_PORT_IS_OFFLINE);
}

TEST_F(SimBus, EachKindOfIdentifierPassesItsOwnFilter)
{
    const std::int32_t sender = open(0x1);
    // Standard 0x120 to 0x12F only; every extended identifier.
    const std::int32_t standardOnly = open(0x2, 64, {0x120, 0x7F0}, kAllExtended);
    // Every standard identifier; extended 0x100 to 0x1FF only.
    const std::int32_t extendedOnly = open(0x8, 64, kAllStandard, {0x80000100, 0x9FFFFF00});

    const struct {
        std::uint32_t id;
        bool toStandardOnly;
        bool toExtendedOnly;
    } cases[] = {
        {0x123, true, true},
        {0x133, false, true},
        {0x80000123, true, true},
        {0x80000223, true, false},
        {0x80000133, true, true}, // the standard filter does not judge
                                  // it
        {0x00000223, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(send(sender, 0x1, c.id), 0);
        EXPECT_EQ(drain(standardOnly).size(), c.toStandardOnly ? 1u : 0u);
        EXPECT_EQ(drain(extendedOnly).size(), c.toExtendedOnly ? 1u : 0u);
    }
}

TEST_F(SimBus, AFullQueueDropsAndFlagsTheNextDeliveredEvent)
{
    const std::int32_t sender = open(0x1);
    const std::int32_t small = open(0x2, 3);
    const std::int32_t large = open(0x8, 64);

    for (std::uint32_t id = 1; id <= 5; ++id) {
        ASSERT_EQ(send(sender, 0x1, id), 0);
    }
    EXPECT_EQ(simQueuedEvents(small), 3);
    EXPECT_EQ(ids(drain(large)), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));

    std::vector<DriverEvent> events = drain(small);
    EXPECT_EQ(ids(events), (std::vector<std::uint32_t>{1, 2, 3}));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].flags, kFlagOverrun);
    EXPECT_EQ(events[1].flags, 0);
    EXPECT_EQ(events[2].flags, 0);

    ASSERT_EQ(send(sender, 0x1, 6, kFlagRemote), 0);
    events = drain(small);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].flags, kFlagRemote); // the loss is reported once
}

TEST_F(SimBus, TheLibraryAndAPeerShareTheBus)
{
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = open(0x8);

    CanExtMsg out{0x80000123, 2, 0, {0xDE, 0xAD}};
    ASSERT_EQ(CAN_Send_extRTR(&out), 0);
    const std::vector<DriverEvent> events = drain(peer);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x80000123u);
    EXPECT_EQ(events[0].flags, kFlagRemote);

    ASSERT_EQ(send(peer, 0x8, 0x321), 0);
    CanMsg in{};
    ASSERT_EQ(CAN_Read_Msg(&in), 0);
    EXPECT_EQ(in.id, 0x321);
    EXPECT_EQ(in.length, 3);
    EXPECT_EQ(in.data[2], 0x23);
}

TEST_F(SimBus, TheLibrarysQueueHolds1024FramesAndReportsTheLoss)
{
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = open(0x8);
    for (std::uint32_t i = 0; i < 1030; ++i) {
        ASSERT_EQ(send(peer, 0x8, i & 0x7FF), 0);
    }

    CanMsg msg{};
    EXPECT_EQ(CAN_Read_Msg(&msg), -1); // frame 0, flagged: lost to the reader
    EXPECT_EQ(msg.overrun, 1);
    std::int32_t delivered = 0;
    while (CAN_Read_Msg(&msg) == 0) {
        EXPECT_EQ(msg.id, delivered + 1);
        EXPECT_EQ(msg.overrun, 0);
        ++delivered;
    }
    EXPECT_EQ(delivered, 1023);
}

TEST_F(SimBus, OneStandardIdentifierIsAllTheLibraryHears)
{
    ASSERT_EQ(CAN_Init_One_ID(0, 0x123), 0);
    const std::int32_t peer = open(0x8);
    for (const std::uint32_t id : {0x124u, 0x123u, 0x523u, 0x0u}) {
        ASSERT_EQ(send(peer, 0x8, id), 0);
    }
    CanMsg msg{};
    EXPECT_EQ(CAN_Read_Msg(&msg), 0);
    EXPECT_EQ(msg.id, 0x123);
    EXPECT_EQ(CAN_Read_Msg(&msg), -1);
}

} // namespace
} // namespace morvantis::testing
