// Reading and sending allocate nothing, and neither does the simulated bus
// per frame, nor, in network mode, its network thread for frames from the
// bus. This file replaces the global operator new and delete of the test
// program with ones that count, on every thread, while counting is
// switched on.
#include "bus_daemon.h"
#include "fixture.h"

#include "driver/vcand32.h"
#include "morvantis.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size)
{
    if (counting) {
        ++allocations;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

// Counts the allocations made while it exists.
class AllocationCounter {
public:
    AllocationCounter()
    {
        allocations = 0;
        counting = true;
    }
    ~AllocationCounter() { counting = false; }
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    long count() const { return allocations; }
};

} // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    return allocate(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace morvantis::testing {
namespace {

using NoAllocation = LibraryTest;

TEST_F(NoAllocation, TheCounterSeesAnAllocation)
{
    static int* volatile kept; // so that the pair is not optimised away
    long counted = 0;
    {
        AllocationCounter counter;
        kept = new int(1);
        counted = counter.count();
    }
    delete kept;
    EXPECT_EQ(counted, 1);
}

TEST_F(NoAllocation, ReadingAndSending)
{
    ASSERT_EQ(CAN_Init(), 0);
    DriverEvent frame{};
    frame.tag = kEventReceived;
    frame.id = 0x80000123;
    frame.length = 8;
    ASSERT_EQ(simInjectEvent(0, &frame), 0);
    ASSERT_EQ(simInjectEvent(0, &frame), 0);

    CanMsg msg{0x123, 8, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    CanExtMsg ext{0x80000123, 8, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::int32_t results[6];
    long counted = 0;
    {
        AllocationCounter counter;
        results[0] = CAN_Read_Msg(&msg);
        results[1] = CAN_Read_extMsg(&ext);
        results[2] = CAN_Send_Msg(&msg);
        results[3] = CAN_Send_RTR(&msg);
        results[4] = CAN_Send_extMsg(&ext);
        results[5] = CAN_Send_extRTR(&ext);
        counted = counter.count();
    }
    EXPECT_EQ(counted, 0);
    for (const std::int32_t result : results) {
        EXPECT_EQ(result, 0); // every call went the whole way
    }
}

TEST_F(NoAllocation, FramesOnTheSimulatedBus)
{
    ASSERT_EQ(ncdOpenDriver(), 0);
    std::int32_t ports[3];
    for (std::uint32_t i = 0; i < 3; ++i) {
        std::uint32_t mask = 1u << i;
        std::uint32_t permission = 0;
        ASSERT_EQ(ncdOpenPort(&ports[i], "PEER", mask, mask, &permission, 4), 0);
        ASSERT_EQ(ncdActivateChannel(ports[i], mask), 0);
    }
    DriverEvent event{};
    event.tag = kEventTransmit;
    event.length = 8;
    DriverEvent* received = nullptr;
    std::int32_t delivered = 0;
    long counted = 0;
    {
        AllocationCounter counter;
        for (std::uint32_t id = 0; id < 10; ++id) { // past the queues' 4 places
            event.id = id;
            ncdTransmit(ports[0], 0x1, &event);
        }
        while (ncdReceive1(ports[1], &received) == 0 && ncdReceive1(ports[2], &received) == 0) {
            ++delivered;
        }
        counted = counter.count();
    }
    EXPECT_EQ(counted, 0);
    EXPECT_EQ(delivered, 4);
}

// A socketcand client of its own, on a plain socket, so that what it does
// allocates nothing in this process while the counter runs.
class RawNode {
public:
    explicit RawNode(int port) : socket_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ =
            ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            answer("< hi >") && write("< open vcan0 >") && answer("< ok >") &&
            write("< rawmode >") && answer("< ok >");
    }
    ~RawNode() { ::close(socket_); }
    RawNode(const RawNode&) = delete;
    RawNode& operator=(const RawNode&) = delete;

    bool connected() const { return connected_; }

    bool write(const std::string& text)
    {
        return ::send(socket_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    }

private:
    // Reads until `expected` has come (the daemon may end a message with a
    // line end).
    bool answer(const std::string& expected)
    {
        std::string got;
        char c = 0;
        while (got.find(expected) == std::string::npos && ::recv(socket_, &c, 1, 0) == 1) {
            got += c;
        }
        return got.find(expected) != std::string::npos;
    }

    int socket_;
    bool connected_ = false;
};

TEST_F(NoAllocation, FramesFromTheBusInNetworkMode)
{
    BusDaemon daemon;
    ASSERT_TRUE(daemon.running());
    setenv("MORVANTIS_BUS", daemon.address().c_str(), 1);
    ASSERT_EQ(CAN_Init(), 0);
    RawNode node(daemon.port());
    ASSERT_TRUE(node.connected());

    // Frames as the other node sends them, made before counting.
    constexpr int kFrames = 500;
    std::string burst;
    for (int i = 0; i < kFrames; ++i) {
        burst += "< send 123 2 " + std::to_string(i % 10) + " ab >";
    }
    const auto readAll = [](int count) {
        CanMsg msg{};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int read = 0;
        while (read < count && std::chrono::steady_clock::now() < end) {
            if (CAN_Read_Msg(&msg) == 0) {
                ++read;
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
        return read;
    };
    ASSERT_TRUE(node.write(burst)); // once without counting: the network thread warms up
    ASSERT_EQ(readAll(kFrames), kFrames);

    long counted = 0;
    int read = 0;
    {
        AllocationCounter counter;
        node.write(burst);
        read = readAll(kFrames);
        counted = counter.count();
    }
    EXPECT_EQ(read, kFrames);
    EXPECT_EQ(counted, 0);
    CAN_Exit();
    unsetenv("MORVANTIS_BUS");
}

} // namespace
} // namespace morvantis::testing
