// In the shared library of the native build, the loader's constructor hook
// stands in for the Windows loader's process-attach call.
#include "api/dll_entry.h"

#include <dlfcn.h>

namespace {

[[gnu::constructor]] void attachToProcess()
{
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&attachToProcess), &info);
    DllEntryPoint(info.dli_fbase, kProcessAttach, nullptr);
}

} // namespace
