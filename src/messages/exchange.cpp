#include "messages/exchange.h"

#include "api/module_state.h"
#include "driver/vcand32.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace morvantis {
namespace {

constexpr std::int32_t kFailure = -1;
constexpr std::uint8_t kMaxLength = 8;

// Copies the first `length` data bytes (at most 8) and keeps the rest as
// they were, as one merge of eight bytes rather than a copy of variable
// length: the read path is a handful of instructions around the driver
// call, and a call of memcpy would be a good part of it.
void copyData(std::uint8_t (&to)[8], const std::uint8_t (&from)[8], std::uint8_t length)
{
    static_assert(std::endian::native == std::endian::little, "byte i is bits 8i to 8i+7");
    std::uint64_t kept = 0;
    std::uint64_t taken = 0;
    std::memcpy(&kept, to, sizeof kept);
    std::memcpy(&taken, from, sizeof taken);
    const std::uint64_t mask =
        length >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * length)) - 1;
    const std::uint64_t merged = (taken & mask) | (kept & ~mask);
    std::memcpy(to, &merged, sizeof merged);
}

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
    copyData(msg.data, event->data, event->length);
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
