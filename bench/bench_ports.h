// What the library benchmarks share: the library's channel brought up on
// the simulated driver, a peer port on another channel of its bus, and the
// driver events they send and drain.
#pragma once

#include "driver/vcand32_records.h"

#include <cstdint>

namespace bench {

struct Connection {
    std::int32_t port = -1;
    std::uint32_t mask = 0;
};

// Brings the library's channel up on a fresh simulated bus with its call
// log off, finds the port and channel mask the library uses, and opens the
// peer's port (with a queue of `peerQueue`) on Virtual C2, or C1 when the
// library is there. False with a message on standard error when that
// fails.
bool OpenPorts(Connection& library, Connection& peer, std::int32_t peerQueue);

// A frame of eight data bytes as the driver's event with `tag`.
morvantis::DriverEvent FrameEvent(std::uint8_t tag, std::uint32_t id);

// Takes every waiting event off the port.
void Drain(std::int32_t port);

} // namespace bench
