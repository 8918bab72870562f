// The helper's argument conversion: base-10 text to a signed 32-bit value, with
// the same result on every build whatever the width of long.
#pragma once

#include <cstdint>

// Returns text read as the standard base-10 conversion reads it (optional leading
// white space and sign, digits up to the first non-digit, 0 when no digit leads),
// saturated to the signed 32-bit limits. Never fails; text must be terminated.
int32_t textToInt32(const char* text);
