#include "fixture.h"

#include "driver/vcand32_records.h"
#include "morvantis.h"

#include <cstring>
#include <functional>

namespace morvantis::testing {
namespace {

constexpr std::uint8_t kUntouched = 0xAA;
constexpr std::int32_t kPort = 0; // the library's port on a fresh bench

template <typename Record> std::vector<std::uint8_t> bytes(const Record& record)
{
    const auto* begin = reinterpret_cast<const std::uint8_t*>(&record);
    return {begin, begin + sizeof record};
}

template <typename Record> Record untouched()
{
    Record record;
    std::memset(&record, kUntouched, sizeof record);
    return record;
}

DriverEvent frame(std::uint32_t id, std::uint8_t flags, std::uint8_t length,
                  std::uint8_t tag = kEventReceived)
{
    DriverEvent event{};
    event.tag = tag;
    std::memset(event.header, 0x5C, sizeof event.header);
    event.id = id;
    event.flags = flags;
    event.length = length;
    for (std::uint8_t i = 0; i < 8; ++i) {
        event.data[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
    }
    return event;
}

// The channel is up on port 0 (mask 0x4); the log starts empty.
class Exchange : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_EQ(CAN_Init(), 0);
        simClearCalls();
    }

    void inject(const DriverEvent& event) { ASSERT_EQ(simInjectEvent(kPort, &event), 0); }
};

// What a read writes into the record.
enum Writes : unsigned { kNothing = 0, kOverrun = 1, kIdAndLength = 2, kAll = 3 };

struct ReadCase {
    const char* name;
    DriverEvent event;
    std::int32_t result;
    unsigned writes;
    std::uint8_t overrun;
    std::size_t dataBytes;
};

const ReadCase kReads[] = {
    {"not a received frame", frame(0x123, 0, 2, 4), -1, kNothing, 0, 0},
    {"overrun", frame(0x123, 0x02, 2), -1, kOverrun, 1, 0},
    {"overrun and error", frame(0x123, 0x03, 2), -1, kOverrun, 1, 0},
    {"error", frame(0x123, 0x01, 2), -1, kOverrun, 0, 0},
    {"length 9", frame(0x123, 0, 9), -1, kAll, 0, 0},
    {"length 255", frame(0x123, 0, 255), -1, kAll, 0, 0},
    {"length 0", frame(0x123, 0, 0), 0, kAll, 0, 0},
    {"length 3", frame(0x123, 0, 3), 0, kAll, 0, 3},
    {"length 8", frame(0x7FF, 0, 8), 0, kAll, 0, 8},
    {"remote frame", frame(0x123, 0x10, 2), 0, kAll, 0, 2},
    {"flags other than 0x01 and 0x02", frame(0x123, 0xFC, 1), 0, kAll, 0, 1},
    {"extended identifier", frame(0x80012345, 0, 4), 0, kAll, 0, 4},
};

template <typename Record>
void checkRead(const ReadCase& c, std::int32_t MORVANTIS_CALL (*read)(Record*))
{
    Record expected = untouched<Record>();
    if (c.writes & kOverrun) {
        expected.overrun = c.overrun;
    }
    if (c.writes & kIdAndLength) {
        // A standard record gets the low 16 bits of the identifier.
        expected.id = static_cast<decltype(expected.id)>(c.event.id);
        expected.length = c.event.length;
    }
    std::memcpy(expected.data, c.event.data, c.dataBytes);

    ASSERT_EQ(simInjectEvent(kPort, &c.event), 0);
    Record record = untouched<Record>();
    EXPECT_EQ(read(&record), c.result);
    EXPECT_EQ(bytes(record), bytes(expected));
    EXPECT_EQ(simQueuedEvents(kPort), 0); // taken, whatever the result
}

TEST_F(Exchange, ReadWritesOnlyWhatTheEventAllows)
{
    for (const ReadCase& c : kReads) {
        SCOPED_TRACE(c.name);
        {
            SCOPED_TRACE("CAN_Read_Msg");
            checkRead(c, CAN_Read_Msg);
        }
        {
            SCOPED_TRACE("CAN_Read_extMsg");
            checkRead(c, CAN_Read_extMsg);
        }
    }
    EXPECT_EQ(callsOf(SIM_RECEIVE).size(), 2 * std::size(kReads));
}

TEST_F(Exchange, ReadWithoutAnEventLeavesTheRecordUntouched)
{
    const struct {
        const char* name;
        std::function<void()> arrange;
        const char* call;
    } cases[] = {
        {"empty queue", [] {}, "RECEIVE(0) = 10"},
        {"driver status", [] { simSetStatus(SIM_RECEIVE, 12); }, "RECEIVE(0) = 12"},
        {"status 0 without an event", [] { simReceiveNothing(1); }, "RECEIVE(0) = 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        simReset();
        ASSERT_EQ(CAN_Reset(), 0);
        c.arrange();
        simClearCalls();

        CanMsg msg = untouched<CanMsg>();
        CanExtMsg ext = untouched<CanExtMsg>();
        EXPECT_EQ(CAN_Read_Msg(&msg), -1);
        EXPECT_EQ(CAN_Read_extMsg(&ext), -1);
        EXPECT_EQ(bytes(msg), bytes(untouched<CanMsg>()));
        EXPECT_EQ(bytes(ext), bytes(untouched<CanExtMsg>()));
        EXPECT_EQ(calls(), (std::vector<std::string>{c.call, c.call}));
    }
}

TEST_F(Exchange, AnEventThatIsNotAFrameIsDroppedAndTheNextOneDelivered)
{
    inject(frame(0x100, 0, 1, 4));
    inject(frame(0x200, 0, 1));
    CanMsg msg = untouched<CanMsg>();
    EXPECT_EQ(CAN_Read_Msg(&msg), -1);
    EXPECT_EQ(CAN_Read_Msg(&msg), 0);
    EXPECT_EQ(msg.id, 0x200);
    EXPECT_EQ(CAN_Read_Msg(&msg), -1);
}

enum SendKind { kSendMsg, kSendRtr, kSendExt, kSendExtRtr };

struct SendCase {
    const char* name;
    SendKind kind;
    std::uint32_t id;
    std::uint8_t length;
    std::uint8_t flags; // expected in the event
    std::int32_t result;
    const char* call; // expected driver call
};

// The bench takes frames of up to 8 bytes.
const SendCase kSends[] = {
    {"data frame, identifier widened", kSendMsg, 0xFFFF, 3, 0, 0, "TRANSMIT(0, 0x4) = 0"},
    {"remote frame", kSendRtr, 0x123, 2, 0x10, 0, "TRANSMIT(0, 0x4) = 0"},
    {"length not checked", kSendMsg, 0x123, 12, 0, -1, "TRANSMIT(0, 0x4) = 101"},
    {"extended identifier unchanged", kSendExt, 0x80000123, 8, 0, 0, "TRANSMIT(0, 0x4) = 0"},
    {"extended record, no bit 31 added", kSendExt, 0x123, 1, 0, 0, "TRANSMIT(0, 0x4) = 0"},
    {"extended remote frame", kSendExtRtr, 0x9FFFFFFF, 0, 0x10, 0, "TRANSMIT(0, 0x4) = 0"},
};

std::int32_t send(const SendCase& c)
{
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    if (c.kind == kSendMsg || c.kind == kSendRtr) {
        CanMsg msg{static_cast<std::uint16_t>(c.id), c.length, 0x55, {}};
        std::memcpy(msg.data, data, sizeof data);
        return c.kind == kSendMsg ? CAN_Send_Msg(&msg) : CAN_Send_RTR(&msg);
    }
    CanExtMsg msg{c.id, c.length, 0x55, {}};
    std::memcpy(msg.data, data, sizeof data);
    return c.kind == kSendExt ? CAN_Send_extMsg(&msg) : CAN_Send_extRTR(&msg);
}

TEST_F(Exchange, SendBuildsTheTransmitEvent)
{
    for (const SendCase& c : kSends) {
        SCOPED_TRACE(c.name);
        simClearCalls();
        DriverEvent expected{};
        expected.tag = kEventTransmit;
        expected.id = c.id;
        expected.flags = c.flags;
        expected.length = c.length;
        const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8}; // all eight, whatever the length
        std::memcpy(expected.data, data, sizeof data);

        EXPECT_EQ(send(c), c.result);
        EXPECT_EQ(calls(), std::vector<std::string>{c.call});
        const std::vector<SimCall> sent = callsOf(SIM_TRANSMIT);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(std::vector<std::uint8_t>(sent[0].event, sent[0].event + sizeof sent[0].event),
                  bytes(expected));
    }
}

TEST_F(Exchange, ARefusedSendCanBeRepeated)
{
    const SendCase c = kSends[0];
    simSetStatus(SIM_TRANSMIT, 11);
    EXPECT_EQ(send(c), -1);
    simSetStatus(SIM_TRANSMIT, 0);
    EXPECT_EQ(send(c), 0);
    const std::vector<SimCall> sent = callsOf(SIM_TRANSMIT);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::memcmp(sent[0].event, sent[1].event, sizeof sent[0].event), 0);
}

const std::function<std::int32_t()> kNullCalls[] = {
    [] { return CAN_Read_Msg(nullptr); },    [] { return CAN_Send_Msg(nullptr); },
    [] { return CAN_Send_RTR(nullptr); },    [] { return CAN_Read_extMsg(nullptr); },
    [] { return CAN_Send_extMsg(nullptr); }, [] { return CAN_Send_extRTR(nullptr); },
};

TEST_F(Exchange, NullRecordsAreRefusedWithoutADriverCall)
{
    inject(frame(0x123, 0, 1));
    for (std::size_t i = 0; i < std::size(kNullCalls); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kNullCalls[i](), -1);
    }
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(simQueuedEvents(kPort), 1);
}

using ExchangeWithoutChannel = LibraryTest;

// Reading and sending do not look at the state of the channel: before
// CAN_Init and after CAN_Exit they hand the driver port -1 (and sends the
// channel mask as it is) and return what the driver says.
TEST_F(ExchangeWithoutChannel, UsesPortMinusOne)
{
    const struct {
        const char* name;
        std::function<std::int32_t()> call;
        const char* beforeInit;
        const char* afterExit;
    } cases[] = {
        {"CAN_Read_Msg",
         [] {
             CanMsg m{};
             return CAN_Read_Msg(&m);
         },
         "RECEIVE(-1) = 118", "RECEIVE(-1) = 118"},
        {"CAN_Read_extMsg",
         [] {
             CanExtMsg m{};
             return CAN_Read_extMsg(&m);
         },
         "RECEIVE(-1) = 118", "RECEIVE(-1) = 118"},
        {"CAN_Send_Msg",
         [] {
             CanMsg m{};
             return CAN_Send_Msg(&m);
         },
         "TRANSMIT(-1, 0x0) = 118", "TRANSMIT(-1, 0x4) = 118"},
        {"CAN_Send_RTR",
         [] {
             CanMsg m{};
             return CAN_Send_RTR(&m);
         },
         "TRANSMIT(-1, 0x0) = 118", "TRANSMIT(-1, 0x4) = 118"},
        {"CAN_Send_extMsg",
         [] {
             CanExtMsg m{};
             return CAN_Send_extMsg(&m);
         },
         "TRANSMIT(-1, 0x0) = 118", "TRANSMIT(-1, 0x4) = 118"},
        {"CAN_Send_extRTR",
         [] {
             CanExtMsg m{};
             return CAN_Send_extRTR(&m);
         },
         "TRANSMIT(-1, 0x0) = 118", "TRANSMIT(-1, 0x4) = 118"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        libraryState.connection = DriverConnection{};
        simReset();
        EXPECT_EQ(c.call(), -1);
        EXPECT_EQ(calls(), std::vector<std::string>{c.beforeInit});

        ASSERT_EQ(CAN_Init(), 0);
        CAN_Exit();
        simClearCalls();
        EXPECT_EQ(c.call(), -1);
        EXPECT_EQ(calls(), std::vector<std::string>{c.afterExit});
    }
}

} // namespace
} // namespace morvantis::testing
