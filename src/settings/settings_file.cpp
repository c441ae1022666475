#include "settings/settings_file.h"

#include "platform/platform.h"
#include "settings/conversion.h"
#include "state/library_state.h"

#include <cstdio>
#include <cstring>

namespace morvantis {
namespace {

constexpr const char* kSection = "MORVANTIS";
constexpr std::size_t kValueSize = 80;

enum class Format { Decimal, Hex };

struct Key {
    const char* name;
    std::int32_t CanSettings::*field;
    Format format;
};

// The order in which the keys are written and read.
constexpr Key kKeys[] = {
    {"CHANNEL_INDEX", &CanSettings::channelIndex, Format::Decimal},
    {"BITRATE", &CanSettings::bitrate, Format::Decimal},
    {"GLOBALMASKSTD", &CanSettings::globalMaskStd, Format::Hex},
    {"GLOBALCODESTD", &CanSettings::globalCodeStd, Format::Hex},
    {"GLOBALMASKXTD", &CanSettings::globalMaskXtd, Format::Hex},
    {"GLOBALCODEXTD", &CanSettings::globalCodeXtd, Format::Hex},
};

void formatValue(const Key& key, std::int32_t value, char (&text)[kValueSize])
{
    if (key.format == Format::Decimal) {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    } else {
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    }
}

void save(const char* path)
{
    char value[kValueSize];
    for (const Key& key : kKeys) {
        formatValue(key, libraryState.settings.*key.field, value);
        platform::WriteProfileValue(kSection, key.name, value, path);
    }
}

void load(const char* path)
{
    char defaultText[kValueSize];
    char value[kValueSize];
    for (const Key& key : kKeys) {
        std::int32_t& field = libraryState.settings.*key.field;
        formatValue(key, field, defaultText);
        platform::ReadProfileValue(kSection, key.name, defaultText, value, sizeof value, path);
        field = key.format == Format::Decimal ? ParseDecimal(value) : ParseHexPattern(value);
    }
}

} // namespace

void AccessSettingsFile(const char* fileName, std::int32_t mode)
{
    char path[platform::kMaxPath];
    if (!platform::FindFile(fileName, path)) {
        // Not found (or found at a path too long to hold): the name as
        // given, relative to the current directory. A name that does not
        // fit cannot name the file at all, so nothing is read or written.
        const std::size_t length = std::strlen(fileName);
        if (length >= sizeof path) {
            return;
        }
        std::memcpy(path, fileName, length + 1);
    }
    if (mode == kSettingsSave) {
        save(path);
    } else if (mode == kSettingsLoad) {
        load(path);
    }
}

} // namespace morvantis
