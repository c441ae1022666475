// The setup dialog: channel, bitrate and acceptance values, applied with a
// restart of the channel and saved when the restart succeeds.
#pragma once

#include "setup/dialog_controls.h"

#include <cstdint>

namespace morvantis {

inline constexpr std::int32_t kCommandOk = 1;
inline constexpr std::int32_t kCommandCancel = 2;

// Fills the controls from the settings. Returns 1 (focus to the first tab
// stop).
std::int32_t InitSetupDialog(DialogControls& dialog);

// OK applies and restarts, Cancel closes; other commands do nothing.
void HandleSetupCommand(DialogControls& dialog, std::int32_t command);

} // namespace morvantis
