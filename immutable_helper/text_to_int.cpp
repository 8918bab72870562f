#include "text_to_int.h"

#include <cstdlib>

int32_t textToInt32(const char* text) {
  // strtoll already saturates at the 64-bit limits and never overflows; the rest
  // of the range is clamped here, so a huge number stays non-zero.
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}
