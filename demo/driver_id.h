// Identifiers in the driver's form: bit 31 marks an extended one.
#pragma once

#include "frame.h"

#include <cstdint>

namespace demo {

inline constexpr std::uint32_t kExtendedMark = 0x80000000u;

// The identifier in the driver's form and back.
std::uint32_t driverId(const notation::Frame& frame);
void setFromDriverId(notation::Frame& frame, std::uint32_t id);

// The identifier with which the peer answers `id` (driver form): one more,
// wrapping within its 11 or 29 bits and keeping its kind.
std::uint32_t answerId(std::uint32_t id);

} // namespace demo
