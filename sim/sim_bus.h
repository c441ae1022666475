// The simulated bus behind the driver operations: every catalogue channel
// exists, each its own mask bit, and all share one bus. A frame sent on one
// port is received by every other port with an active channel whose
// acceptance filter passes it.
//
// The bus is the hardware every port shares, and one lock guards it: each
// operation and each control holds it from start to end, so that threads
// may call them at any time. An event a receive hands out is the port's
// own (`Port::delivered`) and stays as it is until the next receive on that
// port, closing the port or a reset; only the port's reading thread uses it.
//
// With MORVANTIS_BUS=HOST:PORT/BUS set when the driver is opened, the bus
// is a socketcand server's instead: each activated channel of a port joins
// it as a node of its own (network_link.h), frames sent go there, and what
// the server delivers reaches the port through its acceptance filters. The
// network thread takes the lock only to deliver; the operations that wait
// for it (activation, and closing the driver or a reset, which end it) wait
// without the lock.
#pragma once

#include "driver/vcand32_records.h"
#include "network_link.h"
#include "sim_control.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

using morvantis::AcceptanceFilter;
using morvantis::DriverEvent;
using Status = std::uint16_t;

class SimBus final : public NodeOwner {
public:
    SimBus();
    ~SimBus();
    void reset();

    Status openDriver();
    Status closeDriver();
    std::uint32_t getChannelMask(std::int32_t type, std::int32_t index, std::int32_t channel);
    Status openPort(std::int32_t* handle, const char* name, std::uint32_t access,
                    std::uint32_t init, std::uint32_t* permission, std::int32_t queueSize);
    Status closePort(std::int32_t handle);
    Status setBitrate(std::int32_t handle, std::uint32_t mask, std::int32_t bitrate);
    Status setOutput(std::int32_t handle, std::uint32_t mask, std::int32_t mode);
    Status setAcceptance(std::int32_t handle, std::uint32_t mask, const AcceptanceFilter* filter);
    Status setMode(std::int32_t handle, std::uint32_t mask, std::int32_t tx, std::int32_t txrq);
    Status activate(std::int32_t handle, std::uint32_t mask);
    Status receive(std::int32_t handle, DriverEvent** event);
    Status transmit(std::int32_t handle, std::uint32_t mask, const DriverEvent* event);

    // Scripting and inspection (see sim_control.h).
    void setStatus(std::int32_t op, Status status, std::int32_t after = 0);
    void setChannelMask(std::int32_t type, std::int32_t index, std::int32_t channel,
                        std::uint32_t mask);
    void scriptOpenPort(Status status, std::int32_t handle, std::uint32_t permission);
    void clearOpenPortScript();
    void setReceiveNothing(bool on);
    Status inject(std::int32_t handle, const DriverEvent& event);
    void setLogging(bool on);
    std::int32_t callCount() const;
    bool call(std::int32_t index, SimCall& out) const;
    void clearCalls();
    std::int32_t openPortCount() const;
    std::int32_t driverOpenCount() const;
    std::int32_t queuedEvents(std::int32_t handle) const;
    std::uint32_t activeChannels(std::int32_t handle) const;
    std::int32_t channelBitrate(std::uint32_t mask) const;

    // What the network thread delivers (NodeOwner).
    void received(std::uint64_t tag, const DriverEvent& event) override;
    void lostFrames(std::uint64_t tag) override;

private:
    static constexpr int kMaxPorts = 32;
    static constexpr int kMaxChannels = 32;
    static constexpr std::int32_t kMaxQueue = 65536;
    static constexpr int kMaxLog = 4096;

    struct Channel {
        std::int32_t type, index, channel;
        std::uint32_t mask;
        std::int32_t bitrate;
        std::int32_t initOwner; // port with init access, -1 none
    };

    static constexpr std::array<int, kMaxChannels> kNoNodes = [] {
        std::array<int, kMaxChannels> nodes{};
        nodes.fill(-1);
        return nodes;
    }();

    struct Port {
        bool open = false;
        std::uint32_t access = 0;
        std::uint32_t init = 0;
        std::uint32_t active = 0;
        AcceptanceFilter standard{0, 0};
        AcceptanceFilter extended{0x80000000u, 0x80000000u};
        std::vector<DriverEvent> queue; // ring of the requested size
        std::size_t head = 0;
        std::size_t count = 0;
        bool overrun = false;                           // a frame was lost: flag the next one
        DriverEvent delivered{};                        // what the last receive handed out
        std::array<int, kMaxChannels> nodes = kNoNodes; // network mode: by channel bit
    };

    struct OpenPortScript {
        bool active = false;
        Status status = 0;
        std::int32_t handle = -1;
        std::uint32_t permission = 0;
    };

    // What follows is used with mutex_ held.
    using Lock = std::lock_guard<std::mutex>;
    // Back to a fresh bus; the network link, if any, is handed out to be
    // ended once the lock is given up.
    [[nodiscard]] std::unique_ptr<NetworkLink> resetLocked();
    Port* port(std::int32_t handle);
    const Port* port(std::int32_t handle) const;
    std::uint32_t allChannels() const;
    // Closes port `handle` (open or not), without logging a call.
    void releasePort(std::int32_t handle);
    // Opens port `handle`; the channels on which it got init access.
    std::uint32_t createPort(std::int32_t handle, std::uint32_t access, std::uint32_t init,
                             std::int32_t queueSize);
    void enqueue(Port& port, const DriverEvent& event);
    // Logs a call with its arguments, or returns null when not logging;
    // `done` records the result and returns it.
    SimCall* log(SimOp op, std::initializer_list<std::uint32_t> args = {});
    static Status done(SimCall* entry, Status status);
    // The checks every operation on the channels `mask` of a port makes:
    // a scripted status, an unknown port, no channel, channels beyond what
    // the port may touch (`allowed`: its access or its init access). kOk
    // with `p` set when the operation may go on.
    Status checkChannels(SimOp op, std::int32_t handle, std::uint32_t mask,
                         std::uint32_t Port::*allowed, Port*& p);
    Status scripted(SimOp op);
    // Network mode: the port a node's tag names, while it is the same port.
    Port* taggedPort(std::uint64_t tag);
    std::uint64_t tagOf(std::int32_t handle) const;
    // Network mode: joins the bus for the channels `mask` of port `handle`,
    // with `lock` given up meanwhile; NCD_PORT_IS_OFFLINE when a node could
    // not join.
    Status joinNodes(std::unique_lock<std::mutex>& lock, std::int32_t handle, std::uint32_t mask);

    std::array<Channel, kMaxChannels> channels_{};
    int channelCount_ = 0;
    std::array<Port, kMaxPorts> ports_{};
    std::array<Status, SIM_OP_COUNT> scripted_{};
    std::array<std::int32_t, SIM_OP_COUNT> scriptDelay_{}; // calls still as usual
    OpenPortScript openScript_;
    bool receiveNothing_ = false; // RECEIVE succeeds without an event
    std::int32_t driverOpen_ = 0;
    bool logging_ = true;
    std::array<SimCall, kMaxLog> log_{};
    std::int32_t callCount_ = 0;
    std::unique_ptr<NetworkLink> network_;          // network mode while the driver is open
    std::array<std::uint32_t, kMaxPorts> epochs_{}; // counts each port's openings
    mutable std::mutex mutex_;
};

SimBus& TheBus();

} // namespace sim
