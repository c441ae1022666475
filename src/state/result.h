// The results the library's functions give their callers.
#pragma once

#include <cstdint>

namespace morvantis {

inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFailure = -1;

} // namespace morvantis
