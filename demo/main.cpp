// morvantis-demo: the library's main job from an application's side. It
// brings the configured channel onto the bus with the settings the library
// loaded, sends the frames given on the command line (or a short scripted
// exchange), lets a peer node on another channel answer each one, prints
// what it sends and reads in candump's line form, and takes the channel off
// the bus again.
//
// The peer opens its own port on the driver library; with the simulated
// driver every channel is on one shared bus. With --no-peer another node of
// the bus answers instead, such as a python-can script on a morvantis-bus
// bus that the simulated driver joins (MORVANTIS_BUS).
#include "driver_id.h"
#include "frame.h"
#include "morvantis.h"
#include "peer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using notation::Frame;

constexpr char kProgram[] = "morvantis-demo";
constexpr char kChannel[] = "morvantis"; // the channel column of the printed lines
using namespace std::chrono_literals;
constexpr auto kAnswerTime = 2s; // how long an answer may take
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The peer takes the first of these that the library is not on.
constexpr demo::PeerChannel kPeerChannels[] = {{"Virtual C2", 1, 0, 1}, {"Virtual C1", 1, 0, 0}};

const char* const kScript[] = {"123#DEADBEEF", "456#R", "12345678#11.22.33", "1ABCDEF0#R2", "7FF#"};

void printUsage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: %s [--no-peer] [FRAME...]\n"
                 "  Brings the configured channel onto the bus, sends each FRAME, prints it\n"
                 "  and the answer of a peer node (identifier + 1), then takes the channel\n"
                 "  off the bus. Without frames a short scripted exchange runs.\n"
                 "  --no-peer  another node of the bus answers; none is opened here\n"
                 "  FRAME is <id>#<data> or <id>#R[<dlc>]:\n"
                 "    <id>    3 hex digits (standard, up to 7FF) or 8 (extended, up to 1FFFFFFF)\n"
                 "    <data>  up to 8 hex byte pairs, optionally separated by '.'\n"
                 "    R       a remote frame, with an optional data length code 0 to 8\n"
                 "  e.g. %s 123#DEADBEEF 12345678#11.22.33 456#R2\n",
                 kProgram, kProgram);
}

bool send(const Frame& frame)
{
    if (frame.extended) {
        CanExtMsg msg{};
        msg.id = demo::driverId(frame);
        msg.length = frame.length;
        std::memcpy(msg.data, frame.data.data(), sizeof msg.data);
        return (frame.remote ? CAN_Send_extRTR(&msg) : CAN_Send_extMsg(&msg)) == 0;
    }
    CanMsg msg{};
    msg.id = static_cast<std::uint16_t>(frame.id);
    msg.length = frame.length;
    std::memcpy(msg.data, frame.data.data(), sizeof msg.data);
    return (frame.remote ? CAN_Send_RTR(&msg) : CAN_Send_Msg(&msg)) == 0;
}

// The next frame the library delivers, through the read function for the
// kind of identifier expected.
std::optional<Frame> read(bool extended)
{
    Frame frame;
    if (extended) {
        CanExtMsg msg{};
        if (CAN_Read_extMsg(&msg) != 0) {
            return std::nullopt;
        }
        demo::setFromDriverId(frame, msg.id);
        frame.length = msg.length;
        std::memcpy(frame.data.data(), msg.data, msg.length);
    } else {
        CanMsg msg{};
        if (CAN_Read_Msg(&msg) != 0) {
            return std::nullopt;
        }
        frame.id = msg.id;
        frame.length = msg.length;
        std::memcpy(frame.data.data(), msg.data, msg.length);
    }
    return frame;
}

// Sends `frame` and polls until the peer's answer has been read, for
// kAnswerTime at most. Every frame read is printed. `peer` is null when
// another node answers.
bool exchange(const Frame& frame, demo::Peer* peer)
{
    if (!send(frame)) {
        std::fprintf(stderr, "%s: the library refused to send %s\n", kProgram,
                     notation::notation(frame).c_str());
        return false;
    }
    std::printf("%s\n", notation::candumpLine(kChannel, "TX", frame).c_str());

    Frame expected = frame;
    demo::setFromDriverId(expected, demo::answerId(demo::driverId(frame)));
    const auto end = std::chrono::steady_clock::now() + kAnswerTime;
    while (std::chrono::steady_clock::now() < end) {
        if (peer != nullptr) {
            peer->serve();
        }
        std::optional<Frame> got = read(expected.extended);
        if (!got) {
            std::this_thread::sleep_for(1ms); // nothing usable taken; poll again
            continue;
        }
        // The message records carry no remote mark: a remote frame arrives
        // like a data frame of its length. The peer answers a remote request
        // with one, so that answer is shown as what it is.
        if (expected.remote && got->id == expected.id && got->length == expected.length) {
            got->remote = true;
            got->data = {};
        }
        std::printf("%s\n", notation::candumpLine(kChannel, "RX", *got).c_str());
        if (*got == expected) {
            return true;
        }
    }
    std::fprintf(stderr, "%s: no answer to %s within %lld ms\n", kProgram,
                 notation::notation(frame).c_str(),
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(kAnswerTime).count()));
    return false;
}

std::string channelName()
{
    CanDllInfo info{};
    CAN_DLL_Info(&info);
    const char* const name = info.channelName;
    return std::string(name, std::find(name, name + sizeof info.channelName, '\0'));
}

std::int32_t bitrateKbit()
{
    CanStatusRecord status{};
    CAN_Status(&status);
    return status.value[MORVANTIS_STATUS_BITRATE];
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Frame> frames;
    std::vector<std::string> texts(argv + 1, argv + argc);
    const auto noPeer = std::find(texts.begin(), texts.end(), "--no-peer");
    const bool ownPeer = noPeer == texts.end();
    if (!ownPeer) {
        texts.erase(noPeer);
    }
    if (texts.empty()) {
        texts.assign(std::begin(kScript), std::end(kScript));
    }
    for (const std::string& text : texts) {
        if (text == "-h" || text == "--help") {
            printUsage(stdout);
            return 0;
        }
        std::string error;
        std::optional<Frame> frame = notation::parseFrame(text, error);
        if (!frame) {
            std::fprintf(stderr, "%s: bad frame \"%s\": %s\n", kProgram, text.c_str(),
                         error.c_str());
            printUsage(stderr);
            return kExitUsage;
        }
        frames.push_back(*frame);
    }

    const std::string channel = channelName();
    const std::int32_t kbit = bitrateKbit();
    if (CAN_Init() != 0) {
        std::fprintf(stderr, "%s: CAN_Init could not bring %s onto the bus\n", kProgram,
                     channel.c_str());
        CAN_Exit();
        return kExitFailure;
    }
    const demo::PeerChannel& peerChannel =
        channel == kPeerChannels[0].name ? kPeerChannels[1] : kPeerChannels[0];
    demo::Peer peer;
    std::string error;
    if (ownPeer && !peer.open(peerChannel, kbit * 1000, error)) {
        std::fprintf(stderr, "%s: the peer cannot join the bus: %s\n", kProgram, error.c_str());
        CAN_Exit();
        return kExitFailure;
    }
    std::printf("%s on %s at %d kbit/s; %s answers with identifier + 1\n", kChannel,
                channel.c_str(), static_cast<int>(kbit),
                ownPeer ? (std::string("peer on ") + peerChannel.name).c_str()
                        : "another node of the bus");

    int answered = 0;
    for (const Frame& frame : frames) {
        answered += exchange(frame, ownPeer ? &peer : nullptr) ? 1 : 0;
    }
    std::printf("%zu sent, %d answered\n", frames.size(), answered);

    CAN_Exit();
    peer.close();
    return answered == static_cast<int>(frames.size()) ? 0 : kExitFailure;
}
