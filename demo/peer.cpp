#include "peer.h"

#include "driver/vcand32.h"
#include "driver_id.h"
#include "frame.h"

#include <array>
#include <cstring>

namespace demo {
namespace {

using morvantis::DriverEvent;
using morvantis::NcdStatus;

constexpr std::int32_t kQueueSize = 256;
// The application name goes to the driver as a field of the same width as
// the library's own.
constexpr std::array<char, 36> kPeerName = {"MORVANTIS DEMO PEER"};

std::string refused(const char* step, NcdStatus status)
{
    return std::string(step) + " refused, status " + std::to_string(status);
}

} // namespace

bool Peer::open(const PeerChannel& channel, std::int32_t bitrate, std::string& error)
{
    NcdStatus status = ncdOpenDriver();
    if (status != NCD_SUCCESS) {
        error = refused("ncdOpenDriver", status);
        return false;
    }
    driverOpen_ = true;
    mask_ = ncdGetChannelMask(channel.hardwareType, channel.hardwareIndex, channel.hardwareChannel);
    if (mask_ == 0) {
        error = std::string("the driver has no channel ") + channel.name;
        return false;
    }
    std::uint32_t permission = 0;
    status = ncdOpenPort(&port_, kPeerName.data(), mask_, mask_, &permission, kQueueSize);
    if (status != NCD_SUCCESS || port_ == morvantis::kNoPort) {
        port_ = morvantis::kNoPort;
        error = refused("ncdOpenPort", status);
        return false;
    }
    if (permission != mask_) {
        error = std::string("no init access on ") + channel.name;
        return false;
    }
    if ((status = ncdSetChannelBitrate(port_, mask_, bitrate)) != NCD_SUCCESS) {
        error = refused("ncdSetChannelBitrate", status);
        return false;
    }
    if ((status = ncdSetChannelOutput(port_, mask_, morvantis::kOutputNormal)) != NCD_SUCCESS) {
        error = refused("ncdSetChannelOutput", status);
        return false;
    }
    if ((status = ncdActivateChannel(port_, mask_)) != NCD_SUCCESS) {
        error = refused("ncdActivateChannel", status);
        return false;
    }
    return true;
}

int Peer::serve()
{
    int answered = 0;
    for (int taken = 0; taken < kQueueSize; ++taken) {
        DriverEvent* event = nullptr;
        if (ncdReceive1(port_, &event) != NCD_SUCCESS || event == nullptr) {
            break;
        }
        const bool usable =
            event->tag == morvantis::kEventReceived &&
            (event->flags & (morvantis::kFlagError | morvantis::kFlagOverrun)) == 0 &&
            event->length <= sizeof event->data;
        if (!usable) {
            continue;
        }
        DriverEvent answer{};
        answer.tag = morvantis::kEventTransmit;
        answer.id = answerId(event->id);
        answer.flags = event->flags & morvantis::kFlagRemote;
        answer.length = event->length;
        if (answer.flags == 0) {
            std::memcpy(answer.data, event->data, event->length);
        }
        if (ncdTransmit(port_, mask_, &answer) == NCD_SUCCESS) {
            ++answered;
        }
    }
    return answered;
}

void Peer::close()
{
    if (port_ != morvantis::kNoPort) {
        ncdClosePort(port_);
        port_ = morvantis::kNoPort;
    }
    if (driverOpen_) {
        ncdCloseDriver();
        driverOpen_ = false;
    }
}

} // namespace demo
