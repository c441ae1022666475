// The socketcand protocol as the bus room speaks it: the codec's names
// (socketcand/protocol.h), used in the room without their namespace.
#pragma once

#include "protocol.h"

namespace bus {
using namespace socketcand;
} // namespace bus
