// The process-wide state every part of the library shares: the settings of
// the one channel, the connection to the driver library, and the constants
// the library names itself with. Statically initialised; nothing is
// allocated.
#pragma once

#include <array>
#include <cstdint>

namespace morvantis {

struct CanSettings {
    std::int32_t channelIndex = 2; // "LAPcan(II) C1 S1"
    std::int32_t bitrate = 100;    // kbit/s
    std::int32_t bitrateIndex = 4; // "100" in the bitrate list; never saved
    // Acceptance values, used as 32-bit patterns. The extended ones are
    // kept without bit 31; bring-up adds it.
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
    void* moduleHandle = nullptr; // HINSTANCE of this library
};

extern CanSettings canSettings;
extern DriverConnection driverConnection;

// The bitrates offered by the setup dialog, in kbit/s.
inline constexpr std::array<const char*, 9> kBitrateList = {"10",  "20",  "40",  "50",  "100",
                                                            "125", "250", "500", "1000"};

// The name with which the library opens its port, in a zero-filled array
// of the size the driver expects.
inline constexpr std::array<char, 36> kApplicationName = {'M', 'O', 'R', 'V', 'A',
                                                          'N', 'T', 'I', 'S'};

inline constexpr const char* kSettingsFileName = ".\\MORVANTIS.INI";

} // namespace morvantis
