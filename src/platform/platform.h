// What the library needs from the platform it runs on. The core calls only
// these; the win32 port implements them with the Windows API, the host port
// with portable C++ (an INI reader and writer, a message sink, an in-memory
// dialog) for native builds and tests. The ports know nothing of the core.
#pragma once

#include "platform/dialog_controls.h"

#include <cstddef>
#include <cstdint>

namespace morvantis::platform {

inline constexpr std::size_t kMaxPath = 260;

// Searches the platform's default places for `fileName`. On success the
// full path, zero-terminated, is in `path` and the result is true; false
// when nothing was found or the path does not fit.
bool FindFile(const char* fileName, char (&path)[kMaxPath]);

// Copies the value of `key` in `section` of the INI file at `path` into
// `buffer`, cut to `size - 1` characters, or `defaultText` when the file,
// the section or the key is missing.
void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path);

// Stores `value` under `key` in `section`, creating what is missing and
// leaving every other key, section and line as it was.
void WriteProfileValue(const char* section, const char* key, const char* value, const char* path);

// Shows a modal box with an OK button only and returns when it has been
// dismissed. `owner` is a window handle or null.
void ShowMessageBox(void* owner, const char* text, const char* caption);

// What a modal dialog does when it opens and when one of its controls
// sends a command (a button press: the control's identifier).
struct DialogHandlers {
    std::int32_t (*init)(DialogControls& dialog); // its result goes to the platform
    void (*command)(DialogControls& dialog, std::int32_t command);
};

// Runs the modal dialog of template `templateName` in `module`, owned by
// `owner`, until a handler ends it; the result it ended with, or the
// platform's failure value when the dialog cannot be shown.
std::int32_t RunModalDialog(void* module, void* owner, const char* templateName,
                            const DialogHandlers& handlers);

} // namespace morvantis::platform
