// Reading and sending allocate nothing, and neither does the simulated bus
// per frame. This file replaces the global operator new and delete of the
// test program with ones that count while counting is switched on.
#include "fixture.h"

#include "driver/vcand32.h"
#include "morvantis.h"

#include <cstdlib>
#include <new>

namespace {

bool counting = false;
long allocations = 0;

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

} // namespace
} // namespace morvantis::testing
