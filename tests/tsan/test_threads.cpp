// Both ends of the bus busy on several threads at once, as applications
// use the library: the application reads on one thread and sends on
// another; a peer node on another channel of the simulated driver takes
// the application's frames and echoes them on one thread while it sends
// frames of its own on a second; a fifth thread asks for the library's
// information and status meanwhile. Every frame is counted and compared on
// the side that receives it, in order. It runs twice: on the simulated
// driver's in-process bus, and with both ends as nodes on a morvantis-bus
// daemon's bus, where the driver's network thread carries every frame.
// Built with ThreadSanitizer (MORVANTIS_TSAN), this shows that the library
// and the simulated driver hold to the threading contract in morvantis.h.
#include "bus_daemon.h"
#include "driver/vcand32.h"
#include "morvantis.h"
#include "sim_control.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

using morvantis::DriverEvent;

constexpr std::int32_t kFrames = 20000;     // application -> peer, each echoed
constexpr std::int32_t kPeerFrames = 20000; // peer -> application
// Frames a sender lets be on their way before it waits for the reader:
// with both streams in flight the application's queue (1024) and the
// peer's never fill, so that nothing is lost to an overrun.
constexpr std::int32_t kWindow = 256;
constexpr std::int32_t kPeerQueue = 1024;
constexpr std::int32_t kInfoCalls = 2000;
// A stop for a stalled exchange, so that a fault ends the test instead of
// hanging it; no figure of speed is checked.
constexpr std::chrono::seconds kStallLimit{120};

// The application's frame number `seq`: standard identifiers 0x100 to
// 0x1FF, every length, data from the number.
CanMsg AppFrame(std::int32_t seq)
{
    CanMsg msg{};
    msg.id = static_cast<std::uint16_t>(0x100 + seq % 0x100);
    msg.length = static_cast<std::uint8_t>(seq % 9);
    for (std::uint8_t i = 0; i < 8; ++i) {
        msg.data[i] = static_cast<std::uint8_t>((seq >> (i % 4 * 8)) + i);
    }
    return msg;
}

// The peer's own frame number `seq`: extended identifiers.
DriverEvent PeerFrame(std::int32_t seq)
{
    DriverEvent event{};
    event.tag = morvantis::kEventTransmit;
    event.id = MORVANTIS_EXTENDED_ID | static_cast<std::uint32_t>(0x1000000 + seq);
    event.length = static_cast<std::uint8_t>((seq + 4) % 9);
    for (std::uint8_t i = 0; i < 8; ++i) {
        event.data[i] = static_cast<std::uint8_t>((seq >> (i % 4 * 8)) ^ 0xA5);
    }
    return event;
}

bool SameFrame(std::uint32_t id, std::uint8_t length, const std::uint8_t* data,
               std::uint32_t wantedId, std::uint8_t wantedLength, const std::uint8_t* wantedData)
{
    return id == wantedId && length == wantedLength &&
           std::memcmp(data, wantedData, wantedLength) == 0;
}

// What the threads share. The counters only pace the senders: they are
// relaxed, so that they order nothing else and every frame's way through
// the library and the driver stands on its own synchronisation.
struct Exchange {
    std::int32_t peerPort = -1;
    std::uint32_t peerMask = 0;
    std::chrono::steady_clock::time_point stallLimit;
    std::atomic<std::int32_t> echoesRead{0};     // by the application reader
    std::atomic<std::int32_t> peerFramesRead{0}; // by the application reader
    std::atomic<bool> stop{false};

    // True when the test is to end: a thread failed, or time ran out.
    bool stopping()
    {
        if (!stop.load(std::memory_order_relaxed) &&
            std::chrono::steady_clock::now() > stallLimit) {
            stop.store(true, std::memory_order_relaxed);
        }
        return stop.load(std::memory_order_relaxed);
    }
};

// What one thread did: its count and its first fault.
struct Outcome {
    std::int32_t count = 0;
    std::string fault;

    void fail(Exchange& exchange, const std::string& what)
    {
        fault = what + " (frame " + std::to_string(count) + ")";
        exchange.stop.store(true, std::memory_order_relaxed);
    }
};

void AppSender(Exchange& exchange, Outcome& out)
{
    while (out.count < kFrames && !exchange.stopping()) {
        if (out.count - exchange.echoesRead.load(std::memory_order_relaxed) >= kWindow) {
            std::this_thread::yield();
            continue;
        }
        const CanMsg msg = AppFrame(out.count);
        if (CAN_Send_Msg(&msg) != 0) {
            return out.fail(exchange, "CAN_Send_Msg refused a frame");
        }
        ++out.count;
    }
}

// Reads everything that reaches the application: the echoes of its own
// frames (standard identifiers) and the peer's frames (extended), each
// stream in order.
void AppReader(Exchange& exchange, Outcome& echoes, Outcome& peerFrames)
{
    while ((echoes.count < kFrames || peerFrames.count < kPeerFrames) && !exchange.stopping()) {
        CanExtMsg msg{};
        if (CAN_Read_extMsg(&msg) != 0) {
            if (msg.overrun != 0) {
                return echoes.fail(exchange, "the application's queue overran");
            }
            std::this_thread::yield();
            continue;
        }
        if ((msg.id & MORVANTIS_EXTENDED_ID) != 0) {
            const DriverEvent sent = PeerFrame(peerFrames.count);
            if (!SameFrame(msg.id, msg.length, msg.data, sent.id, sent.length, sent.data)) {
                return peerFrames.fail(exchange, "a peer frame arrived wrong or out of order");
            }
            exchange.peerFramesRead.store(++peerFrames.count, std::memory_order_relaxed);
        } else {
            const CanMsg sent = AppFrame(echoes.count);
            if (!SameFrame(msg.id, msg.length, msg.data, sent.id + 1u, sent.length, sent.data)) {
                return echoes.fail(exchange, "an echo arrived wrong or out of order");
            }
            exchange.echoesRead.store(++echoes.count, std::memory_order_relaxed);
        }
    }
}

// Takes the application's frames off the peer's port, in order, and sends
// each back with the next identifier.
void PeerEcho(Exchange& exchange, Outcome& out)
{
    while (out.count < kFrames && !exchange.stopping()) {
        DriverEvent* event = nullptr;
        const morvantis::NcdStatus status = ncdReceive1(exchange.peerPort, &event);
        if (status == NCD_QUEUE_IS_EMPTY) {
            std::this_thread::yield();
            continue;
        }
        if (status != NCD_SUCCESS || event == nullptr || event->tag != morvantis::kEventReceived ||
            event->flags != 0) {
            return out.fail(exchange, "the peer's receive failed or its queue overran");
        }
        const CanMsg sent = AppFrame(out.count);
        if (!SameFrame(event->id, event->length, event->data, sent.id, sent.length, sent.data)) {
            return out.fail(exchange, "an application frame arrived wrong or out of order");
        }
        DriverEvent echo = *event;
        echo.tag = morvantis::kEventTransmit;
        echo.id = event->id + 1;
        if (ncdTransmit(exchange.peerPort, exchange.peerMask, &echo) != NCD_SUCCESS) {
            return out.fail(exchange, "the peer's echo was refused");
        }
        ++out.count;
    }
}

void PeerSender(Exchange& exchange, Outcome& out)
{
    while (out.count < kPeerFrames && !exchange.stopping()) {
        if (out.count - exchange.peerFramesRead.load(std::memory_order_relaxed) >= kWindow) {
            std::this_thread::yield();
            continue;
        }
        DriverEvent frame = PeerFrame(out.count);
        if (ncdTransmit(exchange.peerPort, exchange.peerMask, &frame) != NCD_SUCCESS) {
            return out.fail(exchange, "the peer's frame was refused");
        }
        ++out.count;
    }
}

// The information functions, which may run beside the exchange.
void Information(Exchange& exchange, Outcome& out)
{
    for (; out.count < kInfoCalls && !exchange.stopping(); ++out.count) {
        CanStatusRecord status{};
        CanDllInfo info{};
        if (CAN_Status(&status) != 0 || status.value[MORVANTIS_STATUS_BITRATE] != 100 ||
            CAN_DLL_Info(&info) != 0 || std::strcmp(info.channelName, "LAPcan(II) C1 S1") != 0) {
            return out.fail(exchange, "CAN_Status or CAN_DLL_Info gave something else");
        }
        std::this_thread::yield();
    }
}

// Opens the peer's port on Virtual C2 and puts it on the bus.
testing::AssertionResult OpenPeer(Exchange& exchange)
{
    exchange.peerMask = ncdGetChannelMask(1, 0, 1);
    std::uint32_t permission = 0;
    static constexpr std::array<char, 36> kName = {"THREADS PEER"};
    if (ncdOpenDriver() != NCD_SUCCESS || exchange.peerMask == 0 ||
        ncdOpenPort(&exchange.peerPort, kName.data(), exchange.peerMask, exchange.peerMask,
                    &permission, kPeerQueue) != NCD_SUCCESS ||
        ncdSetChannelBitrate(exchange.peerPort, exchange.peerMask, 100000) != NCD_SUCCESS ||
        ncdActivateChannel(exchange.peerPort, exchange.peerMask) != NCD_SUCCESS) {
        return testing::AssertionFailure() << "the peer's port could not be opened";
    }
    return testing::AssertionSuccess();
}

// The parameter: true for the bus of a morvantis-bus daemon.
class Threads : public testing::TestWithParam<bool> {};

TEST_P(Threads, ReadingAndSendingOnTheirOwnThreadsAtBothEndsLoseAndReorderNothing)
{
    std::unique_ptr<morvantis::testing::BusDaemon> daemon;
    if (GetParam()) {
        daemon = std::make_unique<morvantis::testing::BusDaemon>();
        ASSERT_TRUE(daemon->running());
        setenv("MORVANTIS_BUS", daemon->address().c_str(), 1);
    }
    simReset();
    simSetLogging(0);
    ASSERT_EQ(CAN_Init(), 0); // LAPcan(II) C1 S1 at 100 kbit/s: the built-in settings
    Exchange exchange;
    ASSERT_TRUE(OpenPeer(exchange));
    exchange.stallLimit = std::chrono::steady_clock::now() + kStallLimit;

    Outcome sent, echoes, peerFramesRead, echoed, peerFramesSent, information;
    {
        std::jthread appSender(AppSender, std::ref(exchange), std::ref(sent));
        std::jthread appReader(AppReader, std::ref(exchange), std::ref(echoes),
                               std::ref(peerFramesRead));
        std::jthread peerEcho(PeerEcho, std::ref(exchange), std::ref(echoed));
        std::jthread peerSender(PeerSender, std::ref(exchange), std::ref(peerFramesSent));
        std::jthread info(Information, std::ref(exchange), std::ref(information));
    }

    for (const Outcome* outcome :
         {&sent, &echoes, &peerFramesRead, &echoed, &peerFramesSent, &information}) {
        EXPECT_EQ(outcome->fault, "");
    }
    EXPECT_EQ(sent.count, kFrames);
    EXPECT_EQ(echoed.count, kFrames);
    EXPECT_EQ(echoes.count, kFrames);
    EXPECT_EQ(peerFramesSent.count, kPeerFrames);
    EXPECT_EQ(peerFramesRead.count, kPeerFrames);
    EXPECT_EQ(information.count, kInfoCalls);
    EXPECT_EQ(simQueuedEvents(exchange.peerPort), 0);

    EXPECT_EQ(ncdClosePort(exchange.peerPort), NCD_SUCCESS);
    EXPECT_EQ(ncdCloseDriver(), NCD_SUCCESS);
    EXPECT_EQ(CAN_Exit(), 0);
    unsetenv("MORVANTIS_BUS");
}

INSTANTIATE_TEST_SUITE_P(Bus, Threads, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& bus) {
                             return bus.param ? "OverTheBusDaemon" : "InProcess";
                         });

} // namespace
