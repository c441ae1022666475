#include "setup/setup_dialog.h"

#include "api/module_state.h"
#include "driver/bringup.h"
#include "driver/channel_catalogue.h"
#include "driver/status_report.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "settings/conversion.h"
#include "settings/settings_file.h"

#include <cstdio>

namespace morvantis {
namespace {

constexpr const char* kVersionText = "V1.00r0";
constexpr std::size_t kEditTextSize = 32;

struct HexEdit {
    int id;
    std::int32_t CanSettings::*field;
    const char* format;
};

// In the order in which they are filled and read back.
constexpr HexEdit kHexEdits[] = {
    {IDC_GLOBAL_MASK_STD, &CanSettings::globalMaskStd, "%03X"},
    {IDC_GLOBAL_CODE_STD, &CanSettings::globalCodeStd, "%03X"},
    {IDC_GLOBAL_MASK_XTD, &CanSettings::globalMaskXtd, "%08X"},
    {IDC_GLOBAL_CODE_XTD, &CanSettings::globalCodeXtd, "%08X"},
};

void applyOk(DialogControls& dialog)
{
    // With no entry selected (the stored index was outside the catalogue
    // and the user picked none) the stored index stays.
    const std::int32_t channel = dialog.selectedListEntry(IDC_CHANNEL_INDEX);
    if (channel >= 0) {
        canSettings.channelIndex = channel;
    }
    for (const HexEdit& edit : kHexEdits) {
        char text[kEditTextSize];
        dialog.getText(edit.id, text, sizeof text);
        canSettings.*edit.field = parseHexPattern(text);
    }
    const std::int32_t bitrateIndex = dialog.selectedListEntry(IDC_BITRATE);
    if (static_cast<std::uint32_t>(bitrateIndex) < kBitrateList.size()) {
        canSettings.bitrateIndex = bitrateIndex;
        canSettings.bitrate = parseDecimal(kBitrateList[static_cast<std::size_t>(bitrateIndex)]);
    }

    // Boxes shown from here on are owned by the dialog, so that it takes
    // no second OK or Cancel while one is open.
    const StatusBoxOwner owner(dialog.window());
    if (canReset() == 0) {
        AccessSettingsFile(kSettingsFileName, kSettingsSave);
    } else {
        platform::messageBox(dialog.window(), "Could not init CAN with these settings !",
                             kBoxCaption);
    }
}

} // namespace

std::int32_t InitSetupDialog(DialogControls& dialog)
{
    char text[64];
    std::snprintf(text, sizeof text, "DLL-Version: %s", kVersionText);
    dialog.setText(IDC_DLL_VERSION, text);

    dialog.resetList(IDC_CHANNEL_INDEX);
    for (const ChannelEntry& channel : kChannelCatalogue) {
        dialog.addListEntry(IDC_CHANNEL_INDEX, channel.displayName.data());
    }
    dialog.selectListEntry(IDC_CHANNEL_INDEX, canSettings.channelIndex);

    dialog.resetList(IDC_BITRATE);
    for (std::size_t i = 0; i < kBitrateList.size(); ++i) {
        dialog.addListEntry(IDC_BITRATE, kBitrateList[i]);
        if (parseDecimal(kBitrateList[i]) == canSettings.bitrate) {
            canSettings.bitrateIndex = static_cast<std::int32_t>(i);
        }
    }
    dialog.selectListEntry(IDC_BITRATE, canSettings.bitrateIndex);

    for (const HexEdit& edit : kHexEdits) {
        std::snprintf(text, sizeof text, edit.format,
                      static_cast<unsigned>(canSettings.*edit.field));
        dialog.setText(edit.id, text);
    }
    return 1;
}

void HandleSetupCommand(DialogControls& dialog, std::int32_t command)
{
    if (command == kCommandOk) {
        applyOk(dialog);
        dialog.endDialog(1);
    } else if (command == kCommandCancel) {
        dialog.endDialog(1);
    }
}

} // namespace morvantis
