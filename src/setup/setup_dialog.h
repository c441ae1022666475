// The setup dialog: channel, bitrate and acceptance values, applied with a
// restart of the channel and saved when the restart succeeds.
#pragma once

#include "platform/dialog_controls.h"

#include <cstdint>

namespace morvantis {

inline constexpr std::int32_t kCommandOk = 1;
inline constexpr std::int32_t kCommandCancel = 2;

// Runs the modal setup dialog owned by `owner` (a window handle or null);
// the dialog's result, or the platform's failure value when it cannot be
// shown.
std::int32_t RunSetupDialog(void* owner);

// Fills the controls from the settings. Returns 1 (focus to the first tab
// stop).
std::int32_t InitSetupDialog(DialogControls& dialog);

// OK applies and restarts, Cancel closes; other commands do nothing.
void HandleSetupCommand(DialogControls& dialog, std::int32_t command);

} // namespace morvantis
