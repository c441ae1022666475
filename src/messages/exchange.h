// Carrying frames between the application's message records and the
// driver's event records: one driver call per function, nothing allocated.
#pragma once

#include "morvantis.h"

#include <cstdint>

namespace morvantis {

// 0 when a received frame was delivered into `msg`, -1 otherwise (nothing
// taken, not a frame, a refused frame).
std::int32_t readMessage(CanMsg& msg);
std::int32_t readMessage(CanExtMsg& msg);

// 0 when the driver accepted the frame for sending.
std::int32_t sendMessage(const CanMsg& msg, bool remote);
std::int32_t sendMessage(const CanExtMsg& msg, bool remote);

} // namespace morvantis
