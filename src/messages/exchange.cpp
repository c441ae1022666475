#include "messages/exchange.h"

#include "api/module_state.h"
#include "driver/vcand32.h"

#include <cstring>
#include <type_traits>

namespace morvantis {
namespace {

constexpr std::int32_t kFailure = -1;
constexpr std::uint8_t kMaxLength = 8;

template <typename Record> std::int32_t read(Record& msg)
{
    DriverEvent* event = nullptr;
    if (ncdReceive1(driverConnection.portHandle, &event) != kNcdSuccess || event == nullptr) {
        return kFailure;
    }
    if (event->tag != kEventReceived) {
        return kFailure;
    }
    msg.overrun = (event->flags & kFlagOverrun) != 0 ? 1 : 0;
    if ((event->flags & (kFlagError | kFlagOverrun)) != 0) {
        return kFailure;
    }
    // A standard record holds the low 16 bits; an extended one all 32.
    msg.id = static_cast<decltype(msg.id)>(event->id);
    msg.length = event->length;
    if (event->length > kMaxLength) {
        return kFailure;
    }
    std::memcpy(msg.data, event->data, event->length);
    return 0;
}

template <typename Record> std::int32_t send(const Record& msg, bool remote)
{
    DriverEvent event{};
    event.tag = kEventTransmit;
    event.id = msg.id; // widened with zeros from a standard record
    event.flags = remote ? kFlagRemote : 0;
    event.length = msg.length;
    std::memcpy(event.data, msg.data, sizeof event.data);
    const NcdStatus status =
        ncdTransmit(driverConnection.portHandle, driverConnection.channelMask, &event);
    return status == kNcdSuccess ? 0 : kFailure;
}

static_assert(std::is_same_v<decltype(CanMsg::id), std::uint16_t>);
static_assert(std::is_same_v<decltype(CanExtMsg::id), std::uint32_t>);

} // namespace

std::int32_t readMessage(CanMsg& msg)
{
    return read(msg);
}

std::int32_t readMessage(CanExtMsg& msg)
{
    return read(msg);
}

std::int32_t sendMessage(const CanMsg& msg, bool remote)
{
    return send(msg, remote);
}

std::int32_t sendMessage(const CanExtMsg& msg, bool remote)
{
    return send(msg, remote);
}

} // namespace morvantis
