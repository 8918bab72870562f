// base64_decode on arbitrary text, and encode/decode round trips. The decoder
// must refuse exactly the empty texts and those whose length is not a multiple
// of 4 (leaving out_len alone), and otherwise return at most three bytes per
// group with a zero byte after them; encoding any bytes gives 4 * ceil(n / 3)
// characters of the alphabet with "=" only as padding, which decode back to
// the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base64.h"
#include "fuzz_check.h"

namespace {

constexpr size_t kUntouched = 0x5A5A5A5A;

// Encodes bytes and checks the text's shape and its decoding.
void roundTrip(const uint8_t* data, size_t size) {
  char* text = base64_encode(data, size);
  if (size == 0) {
    FUZZ_CHECK(text == nullptr);
    return;
  }
  FUZZ_CHECK(text != nullptr);
  size_t len = std::strlen(text);
  FUZZ_CHECK(len == 4 * ((size + 2) / 3));
  size_t padding = (3 - size % 3) % 3;
  for (size_t i = 0; i < len; i++) {
    bool pad = i >= len - padding;
    FUZZ_CHECK(pad ? text[i] == '=' : std::memchr(Base64EncodeChars, text[i], sizeof Base64EncodeChars) != nullptr);
  }
  size_t out_len = kUntouched;
  unsigned char* back = base64_decode(text, &out_len);
  FUZZ_CHECK(back != nullptr);
  FUZZ_CHECK(out_len == size);
  FUZZ_CHECK(std::memcmp(back, data, size) == 0);
  FUZZ_CHECK(back[size] == 0);
  std::free(back);
  std::free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input as a text, cut at its first zero byte like any C string.
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t len = std::strlen(text.c_str());
  size_t out_len = kUntouched;
  unsigned char* bytes = base64_decode(text.c_str(), &out_len);
  if (len == 0 || len % 4 != 0) {
    FUZZ_CHECK(bytes == nullptr);
    FUZZ_CHECK(out_len == kUntouched);
  } else {
    FUZZ_CHECK(bytes != nullptr);
    FUZZ_CHECK(out_len <= 3 * (len / 4));
    FUZZ_CHECK(bytes[out_len] == 0);
    // Whatever the text decoded to is itself encoded and decoded faithfully.
    roundTrip(bytes, out_len);
    std::free(bytes);
  }
  roundTrip(data, size);
  return 0;
}
