// vorn_set's input reader on any bytes. The input is a heap block of exactly
// its length plus the one byte the reader may use to terminate a last line
// without a newline, so any other read or write past it is caught. On success
// every value lies in the input (or is the port's own text), fits its file line
// and is no longer than its input line; on failure the line at fault exists.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "set_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSetInputMax) return 0;
  char* text = static_cast<char*>(std::malloc(size + 1));
  FUZZ_CHECK(text != nullptr);
  if (size > 0) std::memcpy(text, data, size);
  size_t lines = 1;
  for (size_t i = 0; i < size; i++) lines += data[i] == '\n';
  SetValues values;
  size_t bad_line = 0;
  char reason[kReasonSize];
  if (parseSetInput(text, size, &values, &bad_line, reason)) {
    for (size_t i = 0; i < kConnectionLineCount; i++) {
      const char* v = values.value[i];
      if (v == nullptr) continue;
      FUZZ_CHECK(values.line[i] >= 1 && values.line[i] <= lines);
      bool own = v == values.port;
      FUZZ_CHECK(own || (v > text && v <= text + size));
      char line[kLineSize];
      FUZZ_CHECK(formatLine(line, sizeof line, kConnectionLines[i].key, v));
    }
  } else {
    FUZZ_CHECK(bad_line >= 1 && bad_line <= lines);
    FUZZ_CHECK(std::memchr(reason, '\0', sizeof reason) != nullptr && reason[0] != '\0');
  }
  std::free(text);
  return 0;
}
