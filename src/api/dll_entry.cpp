#include "api/dll_entry.h"

#include "api/module_state.h"
#include "settings/settings_file.h"

extern "C" int MORVANTIS_ENTRY_CALL DllEntryPoint(void* module, std::uint32_t reason,
                                                  void* /*reserved*/)
{
    if (reason == kProcessAttach) {
        morvantis::driverConnection.moduleHandle = module;
        morvantis::AccessSettingsFile(morvantis::kSettingsFileName, morvantis::kSettingsLoad);
    }
    return 1;
}
