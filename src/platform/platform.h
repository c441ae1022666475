// What the library needs from the platform it runs on. The core calls only
// these; the win32 port implements them with the Windows API, the host port
// with portable C++ (an INI reader and writer, a message sink, an in-memory
// dialog) for native builds and tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvantis::platform {

inline constexpr std::size_t kMaxPath = 260;

// Searches the platform's default places for `fileName`. On success the
// full path, zero-terminated, is in `path` and the result is true; false
// when nothing was found or the path does not fit.
bool searchPath(const char* fileName, char (&path)[kMaxPath]);

// Copies the value of `key` in `section` of the INI file at `path` into
// `buffer`, cut to `size - 1` characters, or `defaultText` when the file,
// the section or the key is missing.
void readProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                       std::size_t size, const char* path);

// Stores `value` under `key` in `section`, creating what is missing and
// leaving every other key, section and line as it was.
void writeProfileString(const char* section, const char* key, const char* value, const char* path);

// Shows a modal box with an OK button only and returns when it has been
// dismissed. `owner` is a window handle or null.
void messageBox(void* owner, const char* text, const char* caption);

// Runs the modal setup dialog owned by `owner`; the result of the dialog,
// or the platform's failure value when it cannot be shown.
std::int32_t runSetupDialog(void* owner);

} // namespace morvantis::platform
