// The simulated driver's way onto a shared bus: each activated channel is a
// node, one connection to a socketcand server (morvantis-bus, or a real
// socketcand) in raw mode. One network thread serves every node of the
// driver; the application's threads only queue frames for it and take the
// frames it delivers.
#pragma once

#include "driver/vcand32_records.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

using Status = std::uint16_t;

// Where the bus is, from MORVANTIS_BUS=HOST:PORT/BUS.
struct BusAddress {
    std::string host; // a name, an IPv4 address, or an IPv6 address without brackets
    std::string port; // decimal, 1 to 65535
    std::string bus;  // 1 to 16 characters, no white space or angle brackets
};

// Reads "HOST:PORT/BUS" (an IPv6 host in brackets: "[::1]:29536/vcan0").
// Without an address, `error` says what is wrong.
std::optional<BusAddress> ParseBusAddress(std::string_view text, std::string& error);

// Where the network thread puts what it takes from the bus for a node,
// named by the tag the node joined with. It calls these on the network
// thread, never while a join is waiting for it.
class NodeOwner {
public:
    // A frame (tag received) or an error event from the bus.
    virtual void received(std::uint64_t tag, const morvantis::DriverEvent& event) = 0;
    // The node's connection was lost and is back: frames may have been
    // lost in between.
    virtual void lostFrames(std::uint64_t tag) = 0;

protected:
    ~NodeOwner() = default;
};

class NetworkLink {
public:
    static constexpr int kMaxNodes = 32;

    NetworkLink(BusAddress address, NodeOwner& owner);
    // Every node leaves; the network thread ends. Not to be called while the
    // owner's callbacks cannot complete.
    ~NetworkLink();
    NetworkLink(const NetworkLink&) = delete;
    NetworkLink& operator=(const NetworkLink&) = delete;

    // Joins the bus as a new node whose frames go to the owner with `tag`:
    // connects and opens the bus in raw mode, waiting a few seconds at
    // most. The node, or -1 when the server could not be reached (or every
    // node is taken).
    int join(std::uint64_t tag);

    // Closes the node's connection, soon after; returns at once.
    void leave(int node);

    // Queues a frame (tag transmit) for sending and returns at once:
    // NCD_SUCCESS, NCD_QUEUE_IS_FULL, NCD_PORT_IS_OFFLINE while the
    // connection is down, NCD_WRONG_PARAMETER for a frame no CAN bus can
    // carry (an identifier wider than its kind, a length above 8).
    Status send(int node, const morvantis::DriverEvent& event);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
