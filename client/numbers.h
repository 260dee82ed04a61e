// Number texts of the settings and answers: decimal codes and frequencies, and
// the hexadecimal LastCheck time.
#pragma once

#include <cstdint>
#include <string>

namespace client_numbers {

// Base-10 reading as atoi does it (leading blanks, optional sign, digits; 0
// when there are none), but out-of-range texts saturate instead of being
// undefined.
int32_t ParseDecimalInt32(const std::string& text);

// The time that a LastCheck text names, in seconds since 1970 UTC. LastCheck
// holds only the low 32 bits of the time, so the value is placed in the 2^32
// second era that puts it at most 2^30 seconds ahead of now and otherwise in
// the past: a check made after January 2038 (when the low 32 bits pass
// 7fffffff) reads back as itself, not as a time decades away. A text that is not hexadecimal reads as 0; a
// signed text (as strtol accepts it) is taken as written.
int64_t LastCheckTime(const std::string& text, int64_t now);
// The LastCheck text of a moment: the low 32 bits of its seconds since 1970 in
// lower-case hexadecimal, without prefix or leading zeros.
std::string LastCheckText(int64_t seconds);

// A double as int by truncation toward zero; NaN gives 0 and values beyond
// the int32 range saturate (a plain cast would be undefined).
int32_t TruncateToInt32(double value);

}  // namespace client_numbers
