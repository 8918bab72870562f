// vorn_keyfile: writes a key file, mode 0444, whose loaded key is the 16 bytes
// given as hexadecimal digits. The key bytes are placed among random non-zero
// filler so that all 66 bytes of key material are used, the material is
// base64-encoded to 88 characters, and those are scrambled with the key index
// table: the loader's two passes undo exactly these two steps.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "vorncrypt.h"
#include "vorncrypt_internal.h"

namespace {

constexpr size_t kKeyBytes = 16;
static_assert(kKeyBytes <= kKeyMaterialBytes);

void usage() {
  std::fprintf(stderr,
               "usage: vorn_keyfile <32 hex digits> <output path>\n"
               "Writes a new key file for the key given in hexadecimal; no key byte may be 00.\n"
               "The programs read the key file at \"%s\".\n",
               vorn_key_path);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseKey(const char* hex, uint8_t key[kKeyBytes]) {
  if (std::strlen(hex) != 2 * kKeyBytes) return false;
  for (size_t i = 0; i < kKeyBytes; i++) {
    int hi = hexValue(hex[2 * i]);
    int lo = hexValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    key[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

// Fills out with random bytes other than zero: a zero byte would cut the key
// material short when the loader takes it as a text.
bool randomNonZero(uint8_t* out, size_t count) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t chunk[64];
  size_t filled = 0;
  while (filled < count) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && filled < count; i++) {
      if (chunk[i] != 0) out[filled++] = chunk[i];
    }
  }
  explicit_bzero(chunk, sizeof chunk);
  close(fd);
  return filled == count;
}

// The 88 scrambled characters for key, or false when the random filler or the
// encoding cannot be had.
bool scrambledKeyText(const uint8_t key[kKeyBytes], char scrambled[kScrambledKeyChars]) {
  uint8_t material[kKeyMaterialBytes];
  if (!randomNonZero(material, sizeof material)) return false;
  for (size_t i = 0; i < kKeyBytes; i++) material[YeltoEncodeChars[i]] = key[i];
  char* text = base64_encode(material, sizeof material);
  explicit_bzero(material, sizeof material);
  if (text == nullptr) return false;
  for (size_t i = 0; i < kScrambledKeyChars; i++) scrambled[YeltoEncodeChars[i]] = text[i];
  explicit_bzero(text, kScrambledKeyChars + 1);
  std::free(text);
  return true;
}

int run(int argc, char** argv) {
  if (argc != 3) {
    usage();
    return 1;
  }
  const char* path = argv[2];
  uint8_t key[kKeyBytes];
  if (!parseKey(argv[1], key)) {
    std::fputs("vorn_keyfile: the key must be exactly 32 hexadecimal digits\n", stderr);
    return 1;
  }
  if (std::memchr(key, 0, sizeof key) != nullptr) {
    explicit_bzero(key, sizeof key);
    std::fputs("vorn_keyfile: the key must not contain a zero byte (00): it would end the key there\n", stderr);
    return 1;
  }
  char scrambled[kScrambledKeyChars];
  bool made = scrambledKeyText(key, scrambled);
  explicit_bzero(key, sizeof key);
  if (!made) {
    std::fputs("vorn_keyfile: cannot get random bytes from \"/dev/urandom\"\n", stderr);
    return 1;
  }

  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
  if (fd < 0) {
    explicit_bzero(scrambled, sizeof scrambled);
    std::fprintf(stderr, "vorn_keyfile: cannot create \"%s\": %s\n", path, std::strerror(errno));
    return 1;
  }
  // The creation mask may have taken bits away; the loader wants exactly 0444.
  bool ok = fchmod(fd, 0444) == 0 && write(fd, scrambled, sizeof scrambled) == static_cast<ssize_t>(sizeof scrambled) &&
            fsync(fd) == 0;
  int error = errno;
  explicit_bzero(scrambled, sizeof scrambled);
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(path);
    std::fprintf(stderr, "vorn_keyfile: cannot write \"%s\": %s\n", path, std::strerror(error));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
