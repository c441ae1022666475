// The module entry point. On Windows the loader calls the mingw-w64
// runtime's start-up code (DllMainCRTStartup), which sets up the runtime at
// process attach and then calls DllEntryPoint for every reason, passing
// the arguments and the result through. In the native build a constructor
// of the shared library calls it at load (api/library_load.cpp).
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
