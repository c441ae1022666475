// The settings file: section "MORVANTIS" of an INI file holding the six
// persistent fields of the settings.
#pragma once

#include <cstdint>

namespace morvantis {

// The library's settings file, in the current directory.
inline constexpr const char* kSettingsFileName = ".\\MORVANTIS.INI";

inline constexpr std::int32_t kSettingsSave = 0;
inline constexpr std::int32_t kSettingsLoad = 1;

// Mode 0 writes the six fields of the settings into `fileName`, mode 1
// reads them from it; any other mode only resolves the path. A key the
// file lacks leaves its field as it was. Nothing is reported: a file that cannot be read or
// written leaves the fields, or the file, as they were.
void AccessSettingsFile(const char* fileName, std::int32_t mode);

} // namespace morvantis
