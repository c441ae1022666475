#include "setup/setup_dialog.h"

#include "driver/bringup.h"
#include "driver/channel_catalogue.h"
#include "driver/status_report.h"
#include "morvantis_version.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "settings/conversion.h"
#include "settings/settings_file.h"
#include "state/library_state.h"

#include <array>
#include <cstdio>

namespace morvantis {
namespace {

// The bitrates offered, in kbit/s.
constexpr std::array<const char*, 9> kBitrateList = {"10",  "20",  "40",  "50",  "100",
                                                     "125", "250", "500", "1000"};

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
    CanSettings& settings = libraryState.settings;
    const std::int32_t channel = dialog.selectedListEntry(IDC_CHANNEL_INDEX);
    if (channel >= 0) {
        settings.channelIndex = channel;
    }
    for (const HexEdit& edit : kHexEdits) {
        char text[kEditTextSize];
        dialog.getText(edit.id, text, sizeof text);
        settings.*edit.field = ParseHexPattern(text);
    }
    const std::int32_t bitrateIndex = dialog.selectedListEntry(IDC_BITRATE);
    if (static_cast<std::uint32_t>(bitrateIndex) < kBitrateList.size()) {
        libraryState.setupDialog.bitrateIndex = bitrateIndex;
        settings.bitrate = ParseDecimal(kBitrateList[static_cast<std::size_t>(bitrateIndex)]);
    }

    // Boxes shown from here on are owned by the dialog, so that it takes
    // no second OK or Cancel while one is open.
    const StatusBoxOwner owner(dialog.window());
    if (ResetChannel() == 0) {
        AccessSettingsFile(kSettingsFileName, kSettingsSave);
    } else {
        platform::ShowMessageBox(dialog.window(), "Could not init CAN with these settings !",
                                 kBoxCaption);
    }
}

} // namespace

std::int32_t RunSetupDialog(void* owner)
{
    static constexpr platform::DialogHandlers kHandlers{InitSetupDialog, HandleSetupCommand};
    return platform::RunModalDialog(libraryState.moduleHandle, owner, SETUP_DIALOG_NAME, kHandlers);
}

std::int32_t InitSetupDialog(DialogControls& dialog)
{
    const CanSettings& settings = libraryState.settings;
    std::int32_t& bitrateIndex = libraryState.setupDialog.bitrateIndex;
    char text[64];
    std::snprintf(text, sizeof text, "DLL-Version: %s", MORVANTIS_VERSION_TEXT);
    dialog.setText(IDC_DLL_VERSION, text);

    dialog.resetList(IDC_CHANNEL_INDEX);
    for (const ChannelEntry& channel : kChannelCatalogue) {
        dialog.addListEntry(IDC_CHANNEL_INDEX, channel.displayName.data());
    }
    dialog.selectListEntry(IDC_CHANNEL_INDEX, settings.channelIndex);

    dialog.resetList(IDC_BITRATE);
    for (std::size_t i = 0; i < kBitrateList.size(); ++i) {
        dialog.addListEntry(IDC_BITRATE, kBitrateList[i]);
        if (ParseDecimal(kBitrateList[i]) == settings.bitrate) {
            bitrateIndex = static_cast<std::int32_t>(i);
        }
    }
    dialog.selectListEntry(IDC_BITRATE, bitrateIndex);

    for (const HexEdit& edit : kHexEdits) {
        std::snprintf(text, sizeof text, edit.format, static_cast<unsigned>(settings.*edit.field));
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
