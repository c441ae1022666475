// The records and values of the CAN driver library VCAND32.DLL, shared by
// the library and the simulated driver.
#pragma once

#include "driver/ncd_status.h"

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define NCD_CALL __stdcall
#else
#define NCD_CALL
#endif

namespace morvantis {

// A driver status (the values are in driver/ncd_status.h). Declaring the
// result as a 16-bit type makes the compiler read only the low half of the
// result register, whatever the driver leaves in the upper half.
using NcdStatus = std::uint16_t;

#pragma pack(push, 1)

// The driver's 22-byte event record.
struct DriverEvent {
    std::uint8_t tag;
    std::uint8_t header[7]; // the driver's own; no meaning here
    std::uint32_t id;
    std::uint8_t flags;
    std::uint8_t length;
    std::uint8_t data[8];
};

// Acceptance code and mask. An identifier passes when it equals `code` in
// every bit that is 1 in `mask`; bit 31 set in both selects the filter for
// extended identifiers.
struct AcceptanceFilter {
    std::uint32_t code;
    std::uint32_t mask;
};

#pragma pack(pop)

static_assert(sizeof(DriverEvent) == 22);
static_assert(offsetof(DriverEvent, tag) == 0);
static_assert(offsetof(DriverEvent, id) == 8);
static_assert(offsetof(DriverEvent, flags) == 12);
static_assert(offsetof(DriverEvent, length) == 13);
static_assert(offsetof(DriverEvent, data) == 14);
static_assert(sizeof(AcceptanceFilter) == 8);
static_assert(offsetof(AcceptanceFilter, code) == 0);
static_assert(offsetof(AcceptanceFilter, mask) == 4);

inline constexpr std::uint8_t kEventReceived = 1;
inline constexpr std::uint8_t kEventTransmit = 10;

inline constexpr std::uint8_t kFlagError = 0x01;
inline constexpr std::uint8_t kFlagOverrun = 0x02;
inline constexpr std::uint8_t kFlagRemote = 0x10;

inline constexpr std::int32_t kNoPort = -1;
inline constexpr std::int32_t kReceiveQueueSize = 1024;
inline constexpr std::int32_t kOutputNormal = 1;

} // namespace morvantis
