// The other node on the bus: a port of its own on another channel, opened
// directly on the driver's operations. It answers every frame it receives
// with the same frame under the next identifier (answerId).
#pragma once

#include <cstdint>
#include <string>

namespace demo {

struct PeerChannel {
    const char* name;
    std::int32_t hardwareType;
    std::int32_t hardwareIndex;
    std::int32_t hardwareChannel;
};

class Peer {
public:
    Peer() = default;
    ~Peer() { close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Opens a port with init access on `channel` and puts it on the bus at
    // `bitrate` bit/s. On failure `error` names the refused step.
    bool open(const PeerChannel& channel, std::int32_t bitrate, std::string& error);
    // Answers what has arrived, at most one queue's worth; the number of
    // frames answered.
    int serve();
    void close();

private:
    std::int32_t port_ = -1;
    std::uint32_t mask_ = 0;
    bool driverOpen_ = false;
};

} // namespace demo
