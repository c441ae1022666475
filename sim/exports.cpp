// The twelve driver operations and the bench controls, as the simulated
// VCAND32.DLL exports them (and as native tests link them).
#define SIM_BUILDING
#include "bench.h"
#include "sim_control.h"

#if !defined(_WIN32)
#include "driver/vcand32.h" // the natively linked operations must match it
#endif

#include <cstring>

using morvantis::AcceptanceFilter;
using morvantis::DriverEvent;

namespace {

std::uint32_t highBits = 0;

#if defined(_WIN32)
// A driver may leave anything in the upper half of the result register;
// only the low 16 bits are the status. The DLL shows that when asked to.
using Result = std::uint32_t;
Result result(sim::Status status)
{
    return (highBits << 16) | status;
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
    return result(sim::bench().openDriver());
}

SIM_API Result NCD_CALL ncdCloseDriver()
{
    return result(sim::bench().closeDriver());
}

SIM_API std::uint32_t NCD_CALL ncdGetChannelMask(std::int32_t hwType, std::int32_t hwIndex,
                                                 std::int32_t hwChannel)
{
    return sim::bench().getChannelMask(hwType, hwIndex, hwChannel);
}

SIM_API Result NCD_CALL ncdOpenPort(std::int32_t* portHandle, const char* userName,
                                    std::uint32_t accessMask, std::uint32_t initMask,
                                    std::uint32_t* permissionMask, std::int32_t rxQueueSize)
{
    return result(sim::bench().openPort(portHandle, userName, accessMask, initMask, permissionMask,
                                        rxQueueSize));
}

SIM_API Result NCD_CALL ncdClosePort(std::int32_t portHandle)
{
    return result(sim::bench().closePort(portHandle));
}

SIM_API Result NCD_CALL ncdSetChannelBitrate(std::int32_t portHandle, std::uint32_t accessMask,
                                             std::int32_t bitrate)
{
    return result(sim::bench().setBitrate(portHandle, accessMask, bitrate));
}

SIM_API Result NCD_CALL ncdSetChannelOutput(std::int32_t portHandle, std::uint32_t accessMask,
                                            std::int32_t mode)
{
    return result(sim::bench().setOutput(portHandle, accessMask, mode));
}

SIM_API Result NCD_CALL ncdSetChannelAcceptance(std::int32_t portHandle, std::uint32_t accessMask,
                                                AcceptanceFilter* filter)
{
    return result(sim::bench().setAcceptance(portHandle, accessMask, filter));
}

SIM_API Result NCD_CALL ncdSetChannelMode(std::int32_t portHandle, std::uint32_t accessMask,
                                          std::int32_t tx, std::int32_t txrq)
{
    return result(sim::bench().setMode(portHandle, accessMask, tx, txrq));
}

SIM_API Result NCD_CALL ncdActivateChannel(std::int32_t portHandle, std::uint32_t accessMask)
{
    return result(sim::bench().activate(portHandle, accessMask));
}

SIM_API Result NCD_CALL ncdReceive1(std::int32_t portHandle, DriverEvent** event)
{
    return result(sim::bench().receive(portHandle, event));
}

SIM_API Result NCD_CALL ncdTransmit(std::int32_t portHandle, std::uint32_t accessMask,
                                    DriverEvent* event)
{
    return result(sim::bench().transmit(portHandle, accessMask, event));
}

void simReset(void)
{
    sim::bench().reset();
    highBits = 0;
}

void simSetStatus(int32_t op, uint16_t status)
{
    sim::bench().setStatus(op, status);
}

void simSetStatusAfter(int32_t op, uint16_t status, int32_t calls)
{
    sim::bench().setStatus(op, status, calls);
}

void simSetChannelMask(int32_t hwType, int32_t hwIndex, int32_t hwChannel, uint32_t mask)
{
    sim::bench().setChannelMask(hwType, hwIndex, hwChannel, mask);
}

void simScriptOpenPort(uint16_t status, int32_t handle, uint32_t permission)
{
    sim::bench().scriptOpenPort(status, handle, permission);
}

void simClearOpenPortScript(void)
{
    sim::bench().clearOpenPortScript();
}

void simReceiveNothing(int32_t on)
{
    sim::bench().setReceiveNothing(on != 0);
}

void simSetResultHighBits(uint16_t bits)
{
    highBits = bits;
}

int32_t simInjectEvent(int32_t port, const void* event)
{
    DriverEvent copy;
    std::memcpy(&copy, event, sizeof copy);
    return sim::bench().inject(port, copy);
}

void simSetLogging(int32_t on)
{
    sim::bench().setLogging(on != 0);
}

int32_t simCallCount(void)
{
    return sim::bench().callCount();
}

int32_t simGetCall(int32_t index, SimCall* call)
{
    return sim::bench().call(index, *call) ? 1 : 0;
}

void simClearCalls(void)
{
    sim::bench().clearCalls();
}

int32_t simOpenPortCount(void)
{
    return sim::bench().openPortCount();
}

int32_t simDriverOpenCount(void)
{
    return sim::bench().driverOpenCount();
}

int32_t simQueuedEvents(int32_t port)
{
    return sim::bench().queuedEvents(port);
}

uint32_t simActiveChannels(int32_t port)
{
    return sim::bench().activeChannels(port);
}

int32_t simChannelBitrate(uint32_t channelMask)
{
    return sim::bench().channelBitrate(channelMask);
}

} // extern "C"
