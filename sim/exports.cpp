// The twelve driver operations and the bus controls, as the simulated
// VCAND32.DLL exports them (and as native tests link them).
#define SIM_BUILDING
#include "sim_bus.h"
#include "sim_control.h"

#if !defined(_WIN32)
#include "driver/vcand32.h" // the natively linked operations must match it
#endif

#include <atomic>
#include <cstring>

using morvantis::AcceptanceFilter;
using morvantis::DriverEvent;

namespace {

// Set by a control, read by every operation's result: atomic, like the
// bus's lock, so that controls may come from any thread.
std::atomic<std::uint32_t> highBits{0};

#if defined(_WIN32)
// A driver may leave anything in the upper half of the result register;
// only the low 16 bits are the status. The DLL shows that when asked to.
using Result = std::uint32_t;
Result result(sim::Status status)
{
    return (highBits.load(std::memory_order_relaxed) << 16) | status;
}
#else
using Result = morvantis::NcdStatus;
Result result(sim::Status status)
{
    return status;
}
#endif

} // namespace

extern "C" {

// SIM_API: the operations stay visible where everything else is hidden.
SIM_API Result NCD_CALL ncdOpenDriver()
{
    return result(sim::TheBus().openDriver());
}

SIM_API Result NCD_CALL ncdCloseDriver()
{
    return result(sim::TheBus().closeDriver());
}

SIM_API std::uint32_t NCD_CALL ncdGetChannelMask(std::int32_t hwType, std::int32_t hwIndex,
                                                 std::int32_t hwChannel)
{
    return sim::TheBus().getChannelMask(hwType, hwIndex, hwChannel);
}

SIM_API Result NCD_CALL ncdOpenPort(std::int32_t* portHandle, const char* userName,
                                    std::uint32_t accessMask, std::uint32_t initMask,
                                    std::uint32_t* permissionMask, std::int32_t rxQueueSize)
{
    return result(sim::TheBus().openPort(portHandle, userName, accessMask, initMask, permissionMask,
                                         rxQueueSize));
}

SIM_API Result NCD_CALL ncdClosePort(std::int32_t portHandle)
{
    return result(sim::TheBus().closePort(portHandle));
}

SIM_API Result NCD_CALL ncdSetChannelBitrate(std::int32_t portHandle, std::uint32_t accessMask,
                                             std::int32_t bitrate)
{
    return result(sim::TheBus().setBitrate(portHandle, accessMask, bitrate));
}

SIM_API Result NCD_CALL ncdSetChannelOutput(std::int32_t portHandle, std::uint32_t accessMask,
                                            std::int32_t mode)
{
    return result(sim::TheBus().setOutput(portHandle, accessMask, mode));
}

SIM_API Result NCD_CALL ncdSetChannelAcceptance(std::int32_t portHandle, std::uint32_t accessMask,
                                                AcceptanceFilter* filter)
{
    return result(sim::TheBus().setAcceptance(portHandle, accessMask, filter));
}

SIM_API Result NCD_CALL ncdSetChannelMode(std::int32_t portHandle, std::uint32_t accessMask,
                                          std::int32_t tx, std::int32_t txrq)
{
    return result(sim::TheBus().setMode(portHandle, accessMask, tx, txrq));
}

SIM_API Result NCD_CALL ncdActivateChannel(std::int32_t portHandle, std::uint32_t accessMask)
{
    return result(sim::TheBus().activate(portHandle, accessMask));
}

SIM_API Result NCD_CALL ncdReceive1(std::int32_t portHandle, DriverEvent** event)
{
    return result(sim::TheBus().receive(portHandle, event));
}

SIM_API Result NCD_CALL ncdTransmit(std::int32_t portHandle, std::uint32_t accessMask,
                                    DriverEvent* event)
{
    return result(sim::TheBus().transmit(portHandle, accessMask, event));
}

void simReset(void)
{
    sim::TheBus().reset();
    highBits.store(0, std::memory_order_relaxed);
}

void simSetStatus(int32_t op, uint16_t status)
{
    sim::TheBus().setStatus(op, status);
}

void simSetStatusAfter(int32_t op, uint16_t status, int32_t calls)
{
    sim::TheBus().setStatus(op, status, calls);
}

void simSetChannelMask(int32_t hwType, int32_t hwIndex, int32_t hwChannel, uint32_t mask)
{
    sim::TheBus().setChannelMask(hwType, hwIndex, hwChannel, mask);
}

void simScriptOpenPort(uint16_t status, int32_t handle, uint32_t permission)
{
    sim::TheBus().scriptOpenPort(status, handle, permission);
}

void simClearOpenPortScript(void)
{
    sim::TheBus().clearOpenPortScript();
}

void simReceiveNothing(int32_t on)
{
    sim::TheBus().setReceiveNothing(on != 0);
}

void simSetResultHighBits(uint16_t bits)
{
    highBits.store(bits, std::memory_order_relaxed);
}

int32_t simInjectEvent(int32_t port, const void* event)
{
    DriverEvent copy;
    std::memcpy(&copy, event, sizeof copy);
    return sim::TheBus().inject(port, copy);
}

void simSetLogging(int32_t on)
{
    sim::TheBus().setLogging(on != 0);
}

int32_t simCallCount(void)
{
    return sim::TheBus().callCount();
}

int32_t simGetCall(int32_t index, SimCall* call)
{
    return sim::TheBus().call(index, *call) ? 1 : 0;
}

void simClearCalls(void)
{
    sim::TheBus().clearCalls();
}

int32_t simOpenPortCount(void)
{
    return sim::TheBus().openPortCount();
}

int32_t simDriverOpenCount(void)
{
    return sim::TheBus().driverOpenCount();
}

int32_t simQueuedEvents(int32_t port)
{
    return sim::TheBus().queuedEvents(port);
}

uint32_t simActiveChannels(int32_t port)
{
    return sim::TheBus().activeChannels(port);
}

int32_t simChannelBitrate(uint32_t channelMask)
{
    return sim::TheBus().channelBitrate(channelMask);
}

} // extern "C"
