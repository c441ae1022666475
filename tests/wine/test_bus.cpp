// The real morvantis.dll on the simulated bus: bring-up through the
// imported driver operations, frames of every kind exchanged with a second
// node that uses the simulated VCAND32.DLL directly, and driver statuses
// read as the 16 bits they are.
#include "fixture.h"

#include <gtest/gtest.h>

#include "driver/vcand32_records.h"

#include "morvantis.h"
#include "sim_control.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Event = morvantis::DriverEvent;

constexpr uint8_t kReceived = morvantis::kEventReceived;
constexpr uint8_t kTransmit = morvantis::kEventTransmit;
constexpr uint8_t kRemote = morvantis::kFlagRemote;
constexpr uint32_t kExtended = NCD_EXTENDED_ID;

// The library's default channel, "LAPcan(II) C1 S1", is the bench's third.
constexpr uint32_t kLibraryChannel = 1u << 2;

// A second node on the bus, on "Virtual C2", opened directly on the
// simulated driver. Statuses are read as 16 bits, as the library must.
class Peer {
public:
    Peer()
    {
        HMODULE driver = GetModuleHandleA("VCAND32.DLL");
        load(driver, "ncdOpenDriver", openDriver_);
        load(driver, "ncdCloseDriver", closeDriver_);
        load(driver, "ncdGetChannelMask", getChannelMask_);
        load(driver, "ncdOpenPort", openPort_);
        load(driver, "ncdClosePort", closePort_);
        load(driver, "ncdSetChannelBitrate", setBitrate_);
        load(driver, "ncdActivateChannel", activate_);
        load(driver, "ncdReceive1", receive_);
        load(driver, "ncdTransmit", transmit_);
        if (!ready_) {
            return;
        }
        EXPECT_EQ(status(openDriver_()), 0);
        mask_ = getChannelMask_(1, 0, 1);
        uint32_t permission = 0;
        EXPECT_EQ(status(openPort_(&handle_, "PEER", mask_, mask_, &permission, 64)), 0);
        EXPECT_EQ(status(setBitrate_(handle_, mask_, 100000)), 0);
        EXPECT_EQ(status(activate_(handle_, mask_)), 0);
    }

    ~Peer()
    {
        if (ready_) {
            closePort_(handle_);
            closeDriver_();
        }
    }

    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool send(uint32_t id, uint8_t flags, uint8_t length, const uint8_t (&data)[8])
    {
        Event event{};
        event.tag = kTransmit;
        event.id = id;
        event.flags = flags;
        event.length = length;
        std::memcpy(event.data, data, sizeof data);
        return ready_ && status(transmit_(handle_, mask_, &event)) == 0;
    }

    // The next event of the peer's queue; false when there is none.
    bool receive(Event& event)
    {
        Event* next = nullptr;
        if (!ready_ || status(receive_(handle_, &next)) != 0 || next == nullptr) {
            return false;
        }
        event = *next;
        return true;
    }

private:
    static uint16_t status(uint32_t result) { return static_cast<uint16_t>(result); }

    template <typename F> void load(HMODULE driver, const char* name, F& function)
    {
        function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(driver, name)));
        if (function == nullptr) {
            ready_ = false;
            ADD_FAILURE() << "VCAND32.DLL lacks " << name;
        }
    }

    uint32_t(WINAPI* openDriver_)() = nullptr;
    uint32_t(WINAPI* closeDriver_)() = nullptr;
    uint32_t(WINAPI* getChannelMask_)(int32_t, int32_t, int32_t) = nullptr;
    uint32_t(WINAPI* openPort_)(int32_t*, const char*, uint32_t, uint32_t, uint32_t*,
                                int32_t) = nullptr;
    uint32_t(WINAPI* closePort_)(int32_t) = nullptr;
    uint32_t(WINAPI* setBitrate_)(int32_t, uint32_t, int32_t) = nullptr;
    uint32_t(WINAPI* activate_)(int32_t, uint32_t) = nullptr;
    uint32_t(WINAPI* receive_)(int32_t, Event**) = nullptr;
    uint32_t(WINAPI* transmit_)(int32_t, uint32_t, Event*) = nullptr;
    bool ready_ = true;
    int32_t handle_ = -1;
    uint32_t mask_ = 0;
};

// The library's exchange functions, looked up by name.
struct Exchange {
    explicit Exchange(const fixture::Library& library)
        : init(library.get<decltype(&CAN_Init)>("CAN_Init")),
          exit(library.get<decltype(&CAN_Exit)>("CAN_Exit")),
          readMsg(library.get<decltype(&CAN_Read_Msg)>("CAN_Read_Msg")),
          sendMsg(library.get<decltype(&CAN_Send_Msg)>("CAN_Send_Msg")),
          sendRtr(library.get<decltype(&CAN_Send_RTR)>("CAN_Send_RTR")),
          readExtMsg(library.get<decltype(&CAN_Read_extMsg)>("CAN_Read_extMsg")),
          sendExtMsg(library.get<decltype(&CAN_Send_extMsg)>("CAN_Send_extMsg")),
          sendExtRtr(library.get<decltype(&CAN_Send_extRTR)>("CAN_Send_extRTR"))
    {
    }
    decltype(&CAN_Init) init;
    decltype(&CAN_Exit) exit;
    decltype(&CAN_Read_Msg) readMsg;
    decltype(&CAN_Send_Msg) sendMsg;
    decltype(&CAN_Send_RTR) sendRtr;
    decltype(&CAN_Read_extMsg) readExtMsg;
    decltype(&CAN_Send_extMsg) sendExtMsg;
    decltype(&CAN_Send_extRTR) sendExtRtr;
};

struct Frame {
    const char* what;
    bool extended;
    bool remote;
    uint32_t id;
    uint8_t length;
    uint8_t data[8];
};

const Frame kFrames[] = {
    {"standard data", false, false, 0x123, 3, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
    {"standard remote", false, true, 0x7FF, 2, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8}},
    {"extended data",
     true,
     false,
     kExtended | 0x1ABCDEF0u,
     8,
     {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87}},
    {"extended remote", true, true, kExtended | 0x456u, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
};

// Sends the frame through the library; the peer must receive it as it was.
void libraryToPeer(const Exchange& can, Peer& peer, const Frame& frame)
{
    int32_t result = -1;
    if (frame.extended) {
        CanExtMsg msg{frame.id, frame.length, 0, {}};
        std::memcpy(msg.data, frame.data, sizeof msg.data);
        result = frame.remote ? can.sendExtRtr(&msg) : can.sendExtMsg(&msg);
    } else {
        CanMsg msg{static_cast<uint16_t>(frame.id), frame.length, 0, {}};
        std::memcpy(msg.data, frame.data, sizeof msg.data);
        result = frame.remote ? can.sendRtr(&msg) : can.sendMsg(&msg);
    }
    EXPECT_EQ(result, 0);
    Event event{};
    EXPECT_TRUE(peer.receive(event));
    EXPECT_EQ(event.tag, kReceived);
    EXPECT_EQ(event.id, frame.id);
    EXPECT_EQ(event.flags, frame.remote ? kRemote : 0);
    EXPECT_EQ(event.length, frame.length);
    EXPECT_TRUE(std::memcmp(event.data, frame.data, sizeof event.data) == 0);
}

// The peer sends the frame; the library must deliver it, writing exactly
// `length` data bytes of a record whose bytes were all 0xEE.
// Reads the next frame into a 0xEE-filled record with `read` and checks it
// against `frame`: only the first `length` data bytes are written.
template <typename Record> void expectRead(int32_t(__stdcall* read)(Record*), const Frame& frame)
{
    uint8_t expected[8];
    std::memset(expected, 0xEE, sizeof expected);
    std::memcpy(expected, frame.data, frame.length);
    Record msg;
    std::memset(&msg, 0xEE, sizeof msg);
    EXPECT_EQ(read(&msg), 0);
    EXPECT_EQ(msg.id, frame.id);
    EXPECT_EQ(msg.length, frame.length);
    EXPECT_EQ(msg.overrun, 0);
    EXPECT_TRUE(std::memcmp(msg.data, expected, sizeof expected) == 0);
}

void peerToLibrary(const Exchange& can, Peer& peer, const Frame& frame)
{
    EXPECT_TRUE(peer.send(frame.id, frame.remote ? kRemote : 0, frame.length, frame.data));
    if (frame.extended) {
        expectRead(can.readExtMsg, frame);
    } else {
        expectRead(can.readMsg, frame);
    }
}

std::string describe(const SimCall& call)
{
    static const char* const names[] = {
        "OPEN_DRIVER", "CLOSE_DRIVER", "GET_CHANNEL_MASK", "OPEN_PORT",
        "CLOSE_PORT",  "SET_BITRATE",  "SET_OUTPUT",       "SET_ACCEPTANCE",
        "SET_MODE",    "ACTIVATE",     "RECEIVE",          "TRANSMIT",
    };
    char text[160];
    switch (call.op) {
    case SIM_OPEN_DRIVER:
    case SIM_CLOSE_DRIVER:
        std::snprintf(text, sizeof text, "%s", names[call.op]);
        break;
    case SIM_GET_CHANNEL_MASK:
        std::snprintf(text, sizeof text, "%s(%d, %d, %d)", names[call.op],
                      static_cast<int>(call.arg[0]), static_cast<int>(call.arg[1]),
                      static_cast<int>(call.arg[2]));
        break;
    case SIM_OPEN_PORT:
        std::snprintf(text, sizeof text, "%s(%.36s, 0x%X, 0x%X, queue %u)", names[call.op],
                      call.name, call.arg[1], call.arg[2], call.arg[4]);
        break;
    case SIM_CLOSE_PORT:
        std::snprintf(text, sizeof text, "%s", names[call.op]);
        break;
    case SIM_ACTIVATE:
        std::snprintf(text, sizeof text, "%s(0x%X)", names[call.op], call.arg[1]);
        break;
    case SIM_SET_ACCEPTANCE:
    case SIM_SET_MODE:
        std::snprintf(text, sizeof text, "%s(0x%X, 0x%X, 0x%X)", names[call.op], call.arg[1],
                      call.arg[2], call.arg[3]);
        break;
    default:
        std::snprintf(text, sizeof text, "%s(0x%X, %d)", names[call.op], call.arg[1],
                      static_cast<int>(call.arg[2]));
        break;
    }
    return text;
}

// The driver calls since the last simClearCalls(), one per line, and
// whether every call went to the port the driver opened first.
std::string callLines(bool& onePort)
{
    std::string lines;
    onePort = true;
    uint32_t port = 0;
    bool portSeen = false;
    for (const SimCall& call : fixture::driverCalls()) {
        lines += describe(call) + "\n";
        if (call.op == SIM_OPEN_PORT) {
            port = call.arg[0];
            portSeen = true;
        } else if (call.op != SIM_OPEN_DRIVER && call.op != SIM_CLOSE_DRIVER &&
                   call.op != SIM_GET_CHANNEL_MASK) {
            onePort = onePort && portSeen && call.arg[0] == port;
        }
    }
    return lines;
}

} // namespace

TEST(Bus, BringUpAndTeardownThroughTheImportedOperations)
{
    fixture::WorkingDirectory directory;
    simReset();
    fixture::Library library;
    Exchange can(library);
    EXPECT_EQ(can.init(), 0);
    EXPECT_EQ(can.exit(), 0);
    bool onePort = false;
    EXPECT_EQ(callLines(onePort), "OPEN_DRIVER\n"
                                  "GET_CHANNEL_MASK(2, 0, 0)\n"
                                  "OPEN_PORT(MORVANTIS, 0x4, 0x4, queue 1024)\n"
                                  "SET_BITRATE(0x4, 100000)\n"
                                  "SET_OUTPUT(0x4, 1)\n"
                                  "SET_ACCEPTANCE(0x4, 0x0, 0x0)\n"
                                  "SET_ACCEPTANCE(0x4, 0x80000000, 0x80000000)\n"
                                  "SET_MODE(0x4, 0x0, 0x0)\n"
                                  "ACTIVATE(0x4)\n"
                                  "CLOSE_PORT\n"
                                  "CLOSE_DRIVER\n");
    EXPECT_TRUE(onePort);
    EXPECT_EQ(simOpenPortCount(), 0);
    EXPECT_EQ(simDriverOpenCount(), 0);
}

TEST(Bus, FramesOfEveryKindTravelBothWays)
{
    fixture::WorkingDirectory directory;
    simReset();
    fixture::Library library;
    Exchange can(library);
    EXPECT_EQ(can.init(), 0);
    Peer peer;
    for (const Frame& frame : kFrames) {
        SCOPED_TRACE(frame.what);
        libraryToPeer(can, peer, frame);
        peerToLibrary(can, peer, frame);
    }
    CanExtMsg msg{};
    EXPECT_EQ(can.readExtMsg(&msg), -1); // nothing left
    EXPECT_EQ(can.exit(), 0);
}

TEST(Bus, StatusesAreReadAsSixteenBits)
{
    fixture::WorkingDirectory directory;
    simReset();
    simSetResultHighBits(0xABCD); // every status arrives as 0xABCDnnnn
    fixture::Library library;
    EXPECT_TRUE(fixture::captureMessageBoxes(library.module()));
    Exchange can(library);
    EXPECT_EQ(can.init(), 0);
    EXPECT_EQ(fixture::capturedBoxes().size(), 0u);
    const auto ports = fixture::driverCalls(SIM_OPEN_PORT);
    EXPECT_EQ(ports.size(), 1u);
    if (!ports.empty()) {
        EXPECT_EQ(simActiveChannels(static_cast<int32_t>(ports[0].arg[0])), kLibraryChannel);
    }
    Peer peer;
    for (const Frame& frame : kFrames) {
        SCOPED_TRACE(frame.what);
        libraryToPeer(can, peer, frame);
        peerToLibrary(can, peer, frame);
    }
    CanMsg msg{};
    EXPECT_EQ(can.readMsg(&msg), -1); // QUEUE_IS_EMPTY in the low half
    simSetStatus(SIM_TRANSMIT, 12);
    EXPECT_EQ(can.sendMsg(&msg), -1);
    EXPECT_EQ(can.exit(), 0);
}
