// checkConfigText on any bytes. The text is a heap block of exactly its length,
// so any read past it is caught. The count returned must be the number of fault
// lines printed, each naming the file; the connection values must lie inside the
// text; and a text found valid must be exactly the one the writer builds from
// those values and the fixed lines (with the text's own secure key).
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_check.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = static_cast<char*>(std::malloc(size + 1));
  FUZZ_CHECK(text != nullptr);
  if (size > 0) std::memcpy(text, data, size);
  char* report = nullptr;
  size_t report_len = 0;
  FILE* faults = open_memstream(&report, &report_len);
  FUZZ_CHECK(faults != nullptr);
  ConnectionValues values;
  int count = checkConfigText("F", text, size, &values, faults);
  FUZZ_CHECK(std::fclose(faults) == 0);

  std::string printed(report, report_len);
  std::free(report);
  int lines = 0;
  for (size_t at = 0; at < printed.size(); at = printed.find('\n', at) + 1) {
    FUZZ_CHECK(printed.compare(at, 2, "F:") == 0);
    FUZZ_CHECK(printed.find('\n', at) != std::string::npos);
    lines++;
  }
  FUZZ_CHECK(count == lines);
  for (size_t i = 0; i < kConnectionLineCount; i++) {
    if (values.value[i] == nullptr) continue;
    FUZZ_CHECK(values.value[i] >= text && values.value[i] + values.length[i] <= text + size);
  }

  if (count == 0) {
    std::string want = "\" AUTH_KEY\n";
    char line[kLineSize];
    for (size_t i = 0; i < kConnectionLineCount; i++) {
      if (values.value[i] == nullptr) continue;
      std::string value(values.value[i], values.length[i]);
      FUZZ_CHECK(formatLine(line, sizeof line, kConnectionLines[i].key, value.c_str()));
      want += line;
    }
    for (size_t i = 1; i < kFixedLineCount; i++) {
      std::string value = kFixedLines[i].value;
      if (i == kSecureKeyLine) value = std::string(text + want.size() + 13, 32);
      FUZZ_CHECK(formatLine(line, sizeof line, kFixedLines[i].key, value.c_str()));
      want += line;
    }
    FUZZ_CHECK(want.size() == size && want.size() < kSecretSize);
    FUZZ_CHECK(std::memcmp(want.data(), text, size) == 0);
  }
  std::free(text);
  return 0;
}
