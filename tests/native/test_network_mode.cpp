// The simulated driver in network mode: with MORVANTIS_BUS set, each
// activated channel is a node on a morvantis-bus daemon. The library's
// channel and a peer port on another channel meet there as two nodes.
#include "bus_daemon.h"
#include "fixture.h"

#include "driver/vcand32.h"
#include "morvantis.h"
#include "settings/settings_file.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace morvantis::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPeerMask = 0x2; // Virtual C2
constexpr AcceptanceFilter kAllStandard{0, 0};
constexpr AcceptanceFilter kAllExtended{NCD_EXTENDED_ID, NCD_EXTENDED_ID};

class NetworkMode : public LibraryTest {
protected:
    void TearDown() override
    {
        CAN_Exit();
        unsetenv("MORVANTIS_BUS");
        LibraryTest::TearDown();
    }

    static void useBus(const std::string& value) { setenv("MORVANTIS_BUS", value.c_str(), 1); }

    // A port of its own on Virtual C2, on the bus, taking up to `queue`
    // frames.
    static std::int32_t openPeer(std::int32_t queue = 256)
    {
        std::int32_t handle = -1;
        std::uint32_t permission = 0;
        AcceptanceFilter standard = kAllStandard;
        AcceptanceFilter extended = kAllExtended;
        EXPECT_EQ(ncdOpenDriver(), NCD_SUCCESS);
        EXPECT_EQ(ncdOpenPort(&handle, "PEER", kPeerMask, kPeerMask, &permission, queue), 0);
        EXPECT_EQ(ncdSetChannelAcceptance(handle, kPeerMask, &standard), 0);
        EXPECT_EQ(ncdSetChannelAcceptance(handle, kPeerMask, &extended), 0);
        EXPECT_EQ(ncdActivateChannel(handle, kPeerMask), NCD_SUCCESS);
        return handle;
    }

    static void closePeer(std::int32_t handle)
    {
        ncdClosePort(handle);
        ncdCloseDriver();
    }

    // The next event at the port, waiting up to two seconds for it.
    static bool receive(std::int32_t handle, DriverEvent& event)
    {
        const auto end = Clock::now() + 2s;
        DriverEvent* taken = nullptr;
        while (Clock::now() < end) {
            if (ncdReceive1(handle, &taken) == NCD_SUCCESS) {
                event = *taken;
                return true;
            }
            std::this_thread::sleep_for(100us);
        }
        return false;
    }

    template <typename Record> static bool read(std::int32_t (*readFunction)(Record*), Record& msg)
    {
        const auto end = Clock::now() + 2s;
        while (Clock::now() < end) {
            if (readFunction(&msg) == 0) {
                return true;
            }
            std::this_thread::sleep_for(100us);
        }
        return false;
    }

    static DriverEvent transmitEvent(std::uint32_t id, std::uint8_t length, std::uint8_t flags = 0)
    {
        DriverEvent event{};
        event.tag = kEventTransmit;
        event.id = id;
        event.flags = flags;
        event.length = length;
        for (std::uint8_t i = 0; i < 8; ++i) {
            event.data[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        return event;
    }
};

TEST_F(NetworkMode, AMalformedAddressFailsTheDriversOpen)
{
    for (const char* value :
         {"", "127.0.0.1", "127.0.0.1:29536", "127.0.0.1:/vcan0", "127.0.0.1:0/vcan0",
          "127.0.0.1:65536/vcan0", "127.0.0.1:12x/vcan0", ":29536/vcan0", "[::1/vcan0",
          "127.0.0.1:29536/", "127.0.0.1:29536/seventeen_chars_x", "127.0.0.1:29536/a<b"}) {
        SCOPED_TRACE(value);
        useBus(value);
        EXPECT_EQ(ncdOpenDriver(), NCD_CANNOT_OPEN_DRIVER);
        EXPECT_EQ(CAN_Init(), -1);
        EXPECT_TRUE(boxes.empty()); // a refused driver open is not shown
    }
}

TEST_F(NetworkMode, NoDaemonFailsActivationWithinSeconds)
{
    int freePort = 0;
    {
        BusDaemon daemon;
        ASSERT_TRUE(daemon.running());
        freePort = daemon.port();
    } // gone: nothing listens there now
    useBus("127.0.0.1:" + std::to_string(freePort) + "/vcan0");
    const auto start = Clock::now();
    EXPECT_EQ(CAN_Init(), -1);
    EXPECT_LT(Clock::now() - start, 5s);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Could not ActivateChannel\n Reason: PORT_IS_OFFLINE (e.g. CANCAB not connected) "
              "(code 113) !");
}

TEST_F(NetworkMode, FramesCrossTheBusBothWaysByteForByte)
{
    BusDaemon daemon;
    ASSERT_TRUE(daemon.running());
    useBus(daemon.address());
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = openPeer();

    // Library to peer: every length, both kinds, data and remote frames.
    struct Sent {
        std::uint32_t id;
        std::uint8_t length;
        bool remote;
    };
    std::vector<Sent> sent;
    for (std::uint8_t length = 0; length <= 8; ++length) {
        sent.push_back({0x100u + length, length, false});
        sent.push_back({NCD_EXTENDED_ID | (0x1ABCDE0u + length), length, false});
    }
    sent.push_back({0x7FF, 3, true});
    sent.push_back({NCD_EXTENDED_ID | 0x1FFFFFFF, 8, true});
    for (const Sent& s : sent) {
        CanExtMsg msg{s.id, s.length, 0, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}};
        ASSERT_EQ(s.remote ? CAN_Send_extRTR(&msg) : CAN_Send_extMsg(&msg), 0);
    }
    for (const Sent& s : sent) {
        SCOPED_TRACE(s.id);
        DriverEvent event{};
        ASSERT_TRUE(receive(peer, event));
        EXPECT_EQ(event.tag, kEventReceived);
        EXPECT_EQ(std::uint32_t{event.id}, s.id);
        EXPECT_EQ(event.length, s.length);
        EXPECT_EQ(event.flags, s.remote ? kFlagRemote : 0);
        for (std::uint8_t i = 0; i < (s.remote ? 0 : s.length); ++i) {
            EXPECT_EQ(event.data[i], 0xA0 + i);
        }
    }

    // Peer to library, into both record kinds.
    DriverEvent event = transmitEvent(0x123, 8);
    ASSERT_EQ(ncdTransmit(peer, kPeerMask, &event), NCD_SUCCESS);
    event = transmitEvent(NCD_EXTENDED_ID | 0x18FEF100, 2);
    ASSERT_EQ(ncdTransmit(peer, kPeerMask, &event), NCD_SUCCESS);
    CanMsg standard{};
    ASSERT_TRUE(read(CAN_Read_Msg, standard));
    EXPECT_EQ(standard.id, 0x123);
    EXPECT_EQ(standard.length, 8);
    EXPECT_EQ(standard.overrun, 0);
    EXPECT_EQ(standard.data[7], 0xA7);
    CanExtMsg extended{0, 0, 0, {0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}};
    ASSERT_TRUE(read(CAN_Read_extMsg, extended));
    EXPECT_EQ(extended.id, NCD_EXTENDED_ID | 0x18FEF100);
    EXPECT_EQ(extended.length, 2);
    EXPECT_EQ(extended.data[1], 0xA1);
    EXPECT_EQ(extended.data[2], 0xEE); // beyond the length: as it was

    // A frame no CAN bus carries is refused, not sent.
    CanMsg tooWide{0x800, 1, 0, {}};
    EXPECT_EQ(CAN_Send_Msg(&tooWide), -1);
    closePeer(peer);
}

// Many times what the driver's send queue holds, sent as fast as the queue
// takes it (a send the full queue refuses is tried again): every frame
// reaches the peer once, in order, with its own data.
TEST_F(NetworkMode, AStreamLongerThanTheSendQueueArrivesWholeAndInOrder)
{
    constexpr std::uint32_t kFrames = 20000; // about ten queues full
    BusDaemon daemon;
    ASSERT_TRUE(daemon.running());
    useBus(daemon.address());
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = openPeer(static_cast<std::int32_t>(kFrames));

    const auto end = Clock::now() + 10s;
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        CanMsg msg{static_cast<std::uint16_t>(n & 0x7FF), 8, 0, {}};
        for (int i = 0; i < 4; ++i) {
            msg.data[i] = static_cast<std::uint8_t>(n >> (8 * i));
            msg.data[4 + i] = static_cast<std::uint8_t>(~n >> (8 * i));
        }
        while (CAN_Send_Msg(&msg) != 0) {
            ASSERT_LT(Clock::now(), end) << "frame " << n << " never taken";
            std::this_thread::yield();
        }
    }
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        DriverEvent event{};
        ASSERT_TRUE(receive(peer, event)) << "frame " << n << " missing";
        std::uint32_t number = 0;
        std::uint32_t inverse = 0;
        for (int i = 0; i < 4; ++i) {
            number |= std::uint32_t{event.data[i]} << (8 * i);
            inverse |= std::uint32_t{event.data[4 + i]} << (8 * i);
        }
        ASSERT_EQ(number, n);
        ASSERT_EQ(inverse, ~n);
        ASSERT_EQ(std::uint32_t{event.id}, n & 0x7FF);
    }
    std::this_thread::sleep_for(50ms);
    DriverEvent* extra = nullptr;
    EXPECT_NE(ncdReceive1(peer, &extra), NCD_SUCCESS) << "a frame came twice";
    closePeer(peer);
}

TEST_F(NetworkMode, TheSettingsFiltersApplyToFramesFromTheBus)
{
    writeSettingsFile("[MORVANTIS]\r\nGLOBALMASKSTD=0x7F0\r\nGLOBALCODESTD=0x120\r\n"
                      "GLOBALMASKXTD=0x1FFFFFFF\r\nGLOBALCODEXTD=0x00012345\r\n");
    AccessSettingsFile(kSettingsFileName, kSettingsLoad);
    BusDaemon daemon;
    ASSERT_TRUE(daemon.running());
    useBus(daemon.address());
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = openPeer();
    // The standard filter takes 0x120 to 0x12F, the extended one 0x12345;
    // 0x12A comes last and ends the wait.
    for (std::uint32_t id : {0x100u, 0x12Fu, NCD_EXTENDED_ID | 0x12346, 0x120u,
                             NCD_EXTENDED_ID | 0x12345, 0x7FFu, 0x12Au}) {
        DriverEvent event = transmitEvent(id, 1);
        ASSERT_EQ(ncdTransmit(peer, kPeerMask, &event), NCD_SUCCESS);
    }
    std::vector<std::uint32_t> passed;
    CanExtMsg msg{};
    while (read(CAN_Read_extMsg, msg)) {
        passed.push_back(msg.id);
        if (msg.id == 0x12A) {
            break;
        }
    }
    EXPECT_EQ(passed, (std::vector<std::uint32_t>{0x12F, 0x120, NCD_EXTENDED_ID | 0x12345, 0x12A}));
    closePeer(peer);
}

TEST_F(NetworkMode, AStoppedDaemonFailsSendsAndARestartedOneCarriesFramesAgain)
{
    auto daemon = std::make_unique<BusDaemon>();
    ASSERT_TRUE(daemon->running());
    const int port = daemon->port();
    useBus(daemon->address());
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = openPeer();
    CanMsg msg{0x321, 1, 0, {0x55}};
    ASSERT_EQ(CAN_Send_Msg(&msg), 0);
    DriverEvent event{};
    ASSERT_TRUE(receive(peer, event));

    daemon->stop();
    const auto stopped = Clock::now();
    while (CAN_Send_Msg(&msg) == 0 && Clock::now() - stopped < 5s) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_LT(Clock::now() - stopped, 1s);
    EXPECT_EQ(CAN_Send_Msg(&msg), -1);
    CanMsg got{};
    EXPECT_EQ(CAN_Read_Msg(&got), -1); // nothing while the bus is gone

    // Both nodes come back by themselves; the peer sends until the library
    // has something. The first event after the gap carries the overrun
    // flag, which the library reports as a failed read with overrun set.
    daemon = std::make_unique<BusDaemon>(port);
    ASSERT_TRUE(daemon->running());
    DriverEvent answer = transmitEvent(0x322, 1);
    const auto restarted = Clock::now();
    std::int32_t result = -1;
    got.overrun = 0;
    while (result != 0 && got.overrun == 0 && Clock::now() - restarted < 5s) {
        ncdTransmit(peer, kPeerMask, &answer);
        std::this_thread::sleep_for(10ms);
        result = CAN_Read_Msg(&got);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(got.overrun, 1);
    ncdTransmit(peer, kPeerMask, &answer);
    ASSERT_TRUE(read(CAN_Read_Msg, got)); // later frames arrive intact
    EXPECT_EQ(got.id, 0x322);
    EXPECT_EQ(got.overrun, 0);
    EXPECT_EQ(CAN_Send_Msg(&msg), 0);
    closePeer(peer);
}

TEST_F(NetworkMode, ExitTakesTheNodeOffTheBus)
{
    BusDaemon daemon;
    ASSERT_TRUE(daemon.running());
    useBus(daemon.address());
    ASSERT_EQ(CAN_Init(), 0);
    const std::int32_t peer = openPeer();
    EXPECT_NE(daemon.summary().find("bus vcan0: 0 frames, 2 nodes"), std::string::npos);
    CAN_Exit();
    // The node has left once the daemon has seen its connection end.
    std::string summary;
    for (int wait = 0; wait < 100; ++wait) {
        summary = daemon.summary();
        if (summary.find("1 node") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(summary.find("bus vcan0: 0 frames, 1 node"), std::string::npos) << summary;
    closePeer(peer);
}

} // namespace
} // namespace morvantis::testing
