#include "api/dll_entry.h"

#include "settings/settings_file.h"
#include "state/library_state.h"

extern "C" int MORVANTIS_ENTRY_CALL DllEntryPoint(void* module, std::uint32_t reason,
                                                  void* /*reserved*/)
{
    if (reason == kProcessAttach) {
        morvantis::libraryState.moduleHandle = module;
        morvantis::AccessSettingsFile(morvantis::kSettingsFileName, morvantis::kSettingsLoad);
    }
    return 1;
}
