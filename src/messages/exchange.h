// Carrying frames between the application's message records and the
// driver's event records: one driver call per function, nothing allocated.
// Defined here, inline, so that each exported function is one short
// function around its driver call.
#pragma once

#include "driver/vcand32.h"
#include "morvantis.h"
#include "state/library_state.h"
#include "state/result.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace morvantis {

static_assert(std::is_same_v<decltype(CanMsg::id), std::uint16_t>);
static_assert(std::is_same_v<decltype(CanExtMsg::id), std::uint32_t>);

inline constexpr std::uint8_t kMaxLength = 8;

// Copies the first `length` data bytes (at most 8) and keeps the rest as
// they were, as one merge of eight bytes rather than a copy of variable
// length: the read path is a handful of instructions around the driver
// call, and a call of memcpy would be a good part of it.
inline void CopyData(std::uint8_t (&to)[8], const std::uint8_t (&from)[8], std::uint8_t length)
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

// Takes the next event of the port into `msg` (CanMsg or CanExtMsg): 0
// when it was a received frame, -1 otherwise (nothing taken, not a frame,
// a refused frame). A standard record holds the low 16 bits of the
// identifier, an extended one all 32.
template <typename Record> std::int32_t ReceiveMessage(Record& msg)
{
    DriverEvent* event = nullptr;
    if (ncdReceive1(libraryState.connection.portHandle, &event) != NCD_SUCCESS ||
        event == nullptr) {
        return kFailure;
    }
    if (event->tag != kEventReceived) {
        return kFailure;
    }
    msg.overrun = (event->flags & kFlagOverrun) != 0 ? 1 : 0;
    if ((event->flags & (kFlagError | kFlagOverrun)) != 0) {
        return kFailure;
    }
    msg.id = static_cast<decltype(msg.id)>(event->id);
    msg.length = event->length;
    if (event->length > kMaxLength) {
        return kFailure;
    }
    CopyData(msg.data, event->data, event->length);
    return kSuccess;
}

// Hands `msg` to the driver for sending, as a data or a remote frame: 0
// when the driver accepted it.
template <typename Record> std::int32_t TransmitMessage(const Record& msg, bool remote)
{
    DriverEvent event{};
    event.tag = kEventTransmit;
    event.id = msg.id; // widened with zeros from a standard record
    event.flags = remote ? kFlagRemote : 0;
    event.length = msg.length;
    std::memcpy(event.data, msg.data, sizeof event.data);
    const DriverConnection& connection = libraryState.connection;
    const NcdStatus status = ncdTransmit(connection.portHandle, connection.channelMask, &event);
    return status == NCD_SUCCESS ? kSuccess : kFailure;
}

} // namespace morvantis
