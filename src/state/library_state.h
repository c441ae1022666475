// What the library keeps for the process: the settings of its one channel,
// the connection to the driver library, and what the setup dialog and the
// status boxes remember between calls. One instance, statically
// initialised; nothing is allocated. Every other room of the library sits
// on this one, and setting it back to `LibraryState{}` gives the state of a
// fresh load.
#pragma once

#include <cstdint>

namespace morvantis {

// The settings of the channel, as the settings file holds them.
struct CanSettings {
    std::int32_t channelIndex = 2; // "LAPcan(II) C1 S1"
    std::int32_t bitrate = 100;    // kbit/s
    // Acceptance values: 32-bit patterns, kept as the settings file and the
    // dialog give them. Bring-up sets bit 31 in both extended ones.
    std::int32_t globalMaskStd = 0;
    std::int32_t globalCodeStd = 0;
    std::int32_t globalMaskXtd = 0;
    std::int32_t globalCodeXtd = 0;
};

struct DriverConnection {
    std::int32_t portHandle = -1; // -1: no port open
    std::uint32_t channelMask = 0;
    std::uint32_t permissionMask = 0; // channels with init access
    bool initialised = false;
    // True while the port of an attempt that got no init access is still
    // open; the next attempt closes it before it opens its own.
    bool portWithoutInitAccess = false;
};

// What the setup dialog remembers from one opening to the next; never saved.
struct SetupDialogMemory {
    std::int32_t bitrateIndex = 4; // "100" in the dialog's bitrate list
};

struct LibraryState {
    CanSettings settings;
    DriverConnection connection;
    SetupDialogMemory setupDialog;
    void* moduleHandle = nullptr; // this library's module, which holds the dialog template
    void* boxOwner = nullptr;     // the window that owns status boxes; null: none
};

extern LibraryState libraryState;

} // namespace morvantis
