// vorn_decrypt on arbitrary bytes under an arbitrary key, and encrypt/decrypt
// round trips. Input: the first 16 bytes are the key (zero-filled when the
// input is shorter), the rest the data. Decryption must refuse empty and
// single-word inputs and otherwise return only a length that the block's words
// can hold; encryption gives 4 * (ceil(n / 4) + 1) bytes that decrypt back to
// the data, and the key counts only up to its first zero byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "vorncrypt.h"

namespace {

constexpr size_t kKeyBytes = 16;
constexpr size_t kUntouched = 0x5A5A5A5A;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  uint8_t key[kKeyBytes] = {};
  size_t key_bytes = size < kKeyBytes ? size : kKeyBytes;
  std::memcpy(key, input, key_bytes);
  const uint8_t* data = input + key_bytes;
  size_t len = size - key_bytes;

  size_t out_len = kUntouched;
  uint8_t* plain = static_cast<uint8_t*>(vorn_decrypt(data, len, key, &out_len));
  if (len <= 4) {
    FUZZ_CHECK(plain == nullptr);
  }
  if (plain == nullptr) {
    FUZZ_CHECK(out_len == kUntouched);
  } else {
    size_t words = (len + 3) / 4;
    FUZZ_CHECK(out_len + 7 >= 4 * words && out_len + 4 <= 4 * words);
    FUZZ_CHECK(plain[out_len] == 0);
    std::free(plain);
  }

  size_t cipher_len = kUntouched;
  uint8_t* cipher = static_cast<uint8_t*>(vorn_encrypt(data, len, key, &cipher_len));
  if (len == 0) {
    FUZZ_CHECK(cipher == nullptr && cipher_len == kUntouched);
    return 0;
  }
  FUZZ_CHECK(cipher != nullptr);
  FUZZ_CHECK(cipher_len == 4 * ((len + 3) / 4 + 1));
  FUZZ_CHECK(cipher[cipher_len] == 0);
  size_t back_len = kUntouched;
  uint8_t* back = static_cast<uint8_t*>(vorn_decrypt(cipher, cipher_len, key, &back_len));
  FUZZ_CHECK(back != nullptr);
  FUZZ_CHECK(back_len == len && std::memcmp(back, data, len) == 0 && back[len] == 0);
  std::free(back);

  // Bytes after the key's first zero byte do not matter.
  const void* zero = std::memchr(key, 0, kKeyBytes);
  if (zero != nullptr) {
    uint8_t other[kKeyBytes];
    std::memcpy(other, key, kKeyBytes);
    for (size_t i = static_cast<const uint8_t*>(zero) - key + 1; i < kKeyBytes; i++) other[i] ^= 0xA5;
    size_t other_len = kUntouched;
    uint8_t* same = static_cast<uint8_t*>(vorn_encrypt(data, len, other, &other_len));
    FUZZ_CHECK(same != nullptr && other_len == cipher_len && std::memcmp(same, cipher, cipher_len) == 0);
    std::free(same);
  }
  std::free(cipher);
  return 0;
}
