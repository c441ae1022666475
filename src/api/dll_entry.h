// The module entry point, which the runtime's start-up code calls for
// every reason the loader has.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define MORVANTIS_ENTRY_CALL __stdcall
#else
#define MORVANTIS_ENTRY_CALL
#endif

inline constexpr std::uint32_t kProcessAttach = 1;

// Keeps the module handle and loads the settings file at process attach;
// does nothing for any other reason. Always returns 1.
extern "C" int MORVANTIS_ENTRY_CALL DllEntryPoint(void* module, std::uint32_t reason,
                                                  void* reserved);
