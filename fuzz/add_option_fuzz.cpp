// addOption against its area limit. Input: two bytes give the area size (1 to
// 512), then the text (cut to fit its area) and, after a zero byte, the line to
// insert. The area is a heap block of exactly that size, so any write past it
// is caught. The line must go in after the first newline when the result and
// its terminator fit; otherwise, or without a newline, nothing may change.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t nbuf = 1 + (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % 512;
  std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  size_t cut = rest.find('\0');
  std::string text = rest.substr(0, cut);
  std::string line = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
  line = line.substr(0, line.find('\0'));
  if (text.size() >= nbuf) text.resize(nbuf - 1);

  char* area = static_cast<char*>(std::malloc(nbuf));
  FUZZ_CHECK(area != nullptr);
  std::memset(area, 0x7E, nbuf);  // the unused rest of the area must stay as it is
  std::memcpy(area, text.c_str(), text.size() + 1);
  std::string before(area, nbuf);

  char* result = addOption(area, nbuf, line.c_str());
  size_t newline = text.find('\n');
  if (newline != std::string::npos && text.size() + line.size() < nbuf) {
    FUZZ_CHECK(result == area);
    std::string want = text.substr(0, newline + 1) + line + text.substr(newline + 1);
    size_t used = want.size() + 1;
    FUZZ_CHECK(std::memcmp(area, want.c_str(), used) == 0);
    FUZZ_CHECK(std::memcmp(area + used, before.data() + used, nbuf - used) == 0);
  } else {
    FUZZ_CHECK(result == nullptr);
    FUZZ_CHECK(std::memcmp(area, before.data(), nbuf) == 0);
  }
  std::free(area);
  return 0;
}
