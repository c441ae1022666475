#include "bench_ports.h"

#include "driver/vcand32.h"
#include "morvantis.h"
#include "sim_control.h"

#include <array>
#include <cstdio>

namespace bench {

bool OpenPorts(Connection& library, Connection& peer, std::int32_t peerQueue)
{
    simReset();
    if (CAN_Init() != 0) {
        std::fprintf(stderr, "CAN_Init failed\n");
        return false;
    }
    SimCall call{};
    for (std::int32_t i = 0; i < simCallCount() && simGetCall(i, &call); ++i) {
        if (call.op == SIM_OPEN_PORT) {
            library.port = static_cast<std::int32_t>(call.arg[0]);
            library.mask = call.arg[1];
        }
    }
    simSetLogging(0);

    peer.mask = ncdGetChannelMask(1, 0, 1);
    if (peer.mask == library.mask) {
        peer.mask = ncdGetChannelMask(1, 0, 0);
    }
    std::uint32_t permission = 0;
    static const std::array<char, 36> name = {"MORVANTIS BENCH PEER"};
    if (library.port < 0 || ncdOpenDriver() != 0 ||
        ncdOpenPort(&peer.port, name.data(), peer.mask, peer.mask, &permission, peerQueue) != 0 ||
        ncdSetChannelBitrate(peer.port, peer.mask, 100000) != 0 ||
        ncdActivateChannel(peer.port, peer.mask) != 0) {
        std::fprintf(stderr, "the peer port could not be opened\n");
        return false;
    }
    return true;
}

morvantis::DriverEvent FrameEvent(std::uint8_t tag, std::uint32_t id)
{
    morvantis::DriverEvent event{};
    event.tag = tag;
    event.id = id;
    event.length = 8;
    for (std::uint8_t i = 0; i < 8; ++i) {
        event.data[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
    }
    return event;
}

void Drain(std::int32_t port)
{
    morvantis::DriverEvent* event = nullptr;
    while (ncdReceive1(port, &event) == NCD_SUCCESS) {
    }
}

} // namespace bench
