// Turning the texts of the settings file and of the setup dialog into
// numbers, and numbers into those texts.
#pragma once

#include <cstdint>

namespace morvantis {

// Signed decimal, as the C library's string-to-long conversion with a
// 32-bit result: leading white space, an optional sign, digits up to the
// first other character; no digit gives 0; out-of-range values saturate.
std::int32_t ParseDecimal(const char* text);

// A 32-bit pattern in hexadecimal, as the C library's unsigned
// string-to-long conversion with a 32-bit result: leading white space, an
// optional sign, an optional "0x"/"0X", hexadecimal digits up to the first
// other character. "-" negates modulo 2^32 ("-1" is 0xFFFFFFFF); a value
// wider than 32 bits gives 0xFFFFFFFF. Returned as the signed integer with
// that bit pattern, as the settings hold it.
std::int32_t ParseHexPattern(const char* text);

} // namespace morvantis
