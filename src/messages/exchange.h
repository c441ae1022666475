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
// they were: a merge under a mask from a table, a machine word at a time,
// rather than a copy of variable length. The read path is a handful of
// instructions around the driver call, and a call of memcpy would be a
// good part of it.
inline void CopyData(std::uint8_t (&to)[8], const std::uint8_t (&from)[8], std::uint8_t length)
{
    static_assert(std::endian::native == std::endian::little, "byte i is bits 8i to 8i+7");
    static constexpr std::uint64_t kTaken[kMaxLength + 1] = {
        0,
        0xFF,
        0xFFFF,
        0xFFFFFF,
        0xFFFFFFFF,
        0xFFFFFFFFFF,
        0xFFFFFFFFFFFF,
        0xFFFFFFFFFFFFFF,
        0xFFFFFFFFFFFFFFFF,
    };
    using Word = std::uintptr_t; // 4 bytes on 32-bit machines, 8 on 64-bit ones
    static_assert(8 % sizeof(Word) == 0);
    for (std::size_t offset = 0; offset < 8; offset += sizeof(Word)) {
        Word kept = 0;
        Word taken = 0;
        std::memcpy(&kept, to + offset, sizeof kept);
        std::memcpy(&taken, from + offset, sizeof taken);
        const auto mask = static_cast<Word>(kTaken[length] >> (8 * offset));
        const Word merged = kept ^ ((kept ^ taken) & mask);
        std::memcpy(to + offset, &merged, sizeof merged);
    }
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
    const std::uint8_t length = event->length;
    msg.length = length;
    if (length > kMaxLength) {
        return kFailure;
    }
    CopyData(msg.data, event->data, length);
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
