// The CAN driver library VCAND32.DLL, as this library uses it: twelve
// operations imported by their undecorated names. Our own declarations; the
// simulated driver implements the same operations for tests and the demo.
#pragma once

#include "driver/vcand32_records.h"

// On Windows the calls go straight through the import address table
// rather than through a jump in an import thunk.
#if defined(_WIN32)
#define NCD_IMPORT __declspec(dllimport)
#else
#define NCD_IMPORT
#endif

extern "C" {
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdOpenDriver();
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdCloseDriver();
NCD_IMPORT std::uint32_t NCD_CALL ncdGetChannelMask(std::int32_t hwType, std::int32_t hwIndex,
                                                    std::int32_t hwChannel);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdOpenPort(std::int32_t* portHandle, const char* userName,
                                                     std::uint32_t accessMask,
                                                     std::uint32_t initMask,
                                                     std::uint32_t* permissionMask,
                                                     std::int32_t rxQueueSize);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdClosePort(std::int32_t portHandle);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdSetChannelBitrate(std::int32_t portHandle,
                                                              std::uint32_t accessMask,
                                                              std::int32_t bitrate);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdSetChannelOutput(std::int32_t portHandle,
                                                             std::uint32_t accessMask,
                                                             std::int32_t mode);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdSetChannelAcceptance(
    std::int32_t portHandle, std::uint32_t accessMask, morvantis::AcceptanceFilter* filter);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdSetChannelMode(std::int32_t portHandle,
                                                           std::uint32_t accessMask,
                                                           std::int32_t tx, std::int32_t txrq);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdActivateChannel(std::int32_t portHandle,
                                                            std::uint32_t accessMask);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdReceive1(std::int32_t portHandle,
                                                     morvantis::DriverEvent** event);
NCD_IMPORT morvantis::NcdStatus NCD_CALL ncdTransmit(std::int32_t portHandle,
                                                     std::uint32_t accessMask,
                                                     morvantis::DriverEvent* event);
}
