// XXTEA over a whole byte string as one block, framed with a length word, and the
// key loading and text operations built on it. Bytes are packed into words
// little-endian. Every result is a new heap buffer with one zero byte after its
// content; work buffers that held key material are wiped before release.
#include "vorncrypt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "chores.h"
#include "vorncrypt_internal.h"

const char vorn_empty_text[1] = "";

char seed_key[kSeedKeyBytes];

// clang-format off
constexpr int32_t YeltoEncodeChars[kYeltoEntries] = {
    59, 30, 44, 55, 11, 36, 57, 17, 56, 7,  15, 33, 16, 52, 14,
    53, 60, 54, 37, 58, 8,  6,  41, 38, 51, 50, 61, 24, 35, 9,
    26, 34, 12, 39, 3,  40, 1,  47, 49, 21, 43, 22, 28, 0,  20,
    42, 5,  46, 25, 13, 27, 32, 10, 29, 4,  18, 62, 65, 64, 19,
    31, 23, 45, 63, 2,  48, 85, 69, 76, 66, 73, 67, 71, 78, 80,
    83, 79, 87, 75, 86, 68, 84, 82, 74, 81, 72, 77, 70, 36, 33,
};
// clang-format on

namespace {

// ---------------------------------------------------------------------------
// Key index table invariants

// True when entries [from, to) of the table hold each value of [from, to) once.
constexpr bool ordersRange(size_t from, size_t to) {
  for (size_t v = from; v < to; v++) {
    int seen = 0;
    for (size_t i = from; i < to; i++) seen += YeltoEncodeChars[i] == static_cast<int32_t>(v);
    if (seen != 1) return false;
  }
  return true;
}

// The first pass reorders the 88 characters: it must read each of them once.
static_assert(ordersRange(0, kKeyMaterialBytes) && ordersRange(kKeyMaterialBytes, kScrambledKeyChars));
static_assert(kScrambledKeyChars % 4 == 0 && kScrambledKeyChars / 4 * 3 == kKeyMaterialBytes);
// The second pass writes at most kKeyMaterialBytes bytes into the key area.
static_assert(kKeyMaterialBytes < kSeedKeyBytes && kScrambledKeyChars < kSeedKeyBytes);

constexpr uint32_t kDelta = 0x9E3779B9U;
constexpr size_t kKeyBytes = kCipherKeyBytes;
constexpr size_t kKeyWords = kKeyBytes / 4;

// ---------------------------------------------------------------------------
// Wiping and byte order

// wipe() for word arrays, a word per store.
void wipeWords(uint32_t* words, size_t count) {
  volatile uint32_t* p = words;
  for (size_t i = 0; i < count; i++) p[i] = 0;
}

// On a little-endian host the bytes of a word array in memory are its packed
// bytes, so whole words are copied as they are; elsewhere they are loaded and
// stored one by one. The compiler turns each of these into one 32-bit load or
// store where the target allows it, whatever the alignment.
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

uint32_t load32_le(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void store32_le(uint8_t* p, uint32_t w) {
  p[0] = static_cast<uint8_t>(w);
  p[1] = static_cast<uint8_t>(w >> 8);
  p[2] = static_cast<uint8_t>(w >> 16);
  p[3] = static_cast<uint8_t>(w >> 24);
}

}  // namespace

// ---------------------------------------------------------------------------
// Packing

uint32_t* vorn_to_uint_array(const uint8_t* data, size_t len, int inc_len, size_t* out_len) {
  size_t n = len / 4 + (len % 4 != 0 ? 1 : 0);
#if SIZE_MAX > UINT32_MAX
  if (inc_len && len > UINT32_MAX) return nullptr;  // would not fit the length word
#endif
  size_t words = inc_len ? n + 1 : n;  // n is at most SIZE_MAX / 4 + 1: no wrap
  if (words > SIZE_MAX / sizeof(uint32_t)) return nullptr;
  // Every word is written below, so the array needs no zeroing of its own.
  uint32_t* out = static_cast<uint32_t*>(std::malloc(words * sizeof(uint32_t)));
  if (out == nullptr) return nullptr;
  size_t whole = len / 4;
  if (kLittleEndianHost) {
    std::memcpy(out, data, 4 * whole);
  } else {
    for (size_t i = 0; i < whole; i++) out[i] = load32_le(data + 4 * i);
  }
  if (whole < n) {  // the last 1 to 3 bytes, the high bytes of their word zero
    uint32_t last = 0;
    for (size_t i = 4 * whole; i < len; i++) last |= uint32_t{data[i]} << (8 * (i % 4));
    out[whole] = last;
  }
  if (inc_len) out[n] = static_cast<uint32_t>(len);
  *out_len = words;
  return out;
}

uint8_t* vorn_to_ubyte_array(const uint32_t* data, size_t len, int inc_len, size_t* out_len) {
  if (len > (SIZE_MAX - 1) / 4) return nullptr;
  size_t n = 4 * len;
  if (inc_len) {
    if (len < 2) return nullptr;
    size_t m = data[len - 1];
    // Only a count that needs exactly len - 1 words is a length word.
    if (m < n - 7 || m > n - 4) return nullptr;
    n = m;
  }
  uint8_t* out = static_cast<uint8_t*>(std::malloc(n + 1));
  if (out == nullptr) return nullptr;
  size_t whole = n / 4;
  if (kLittleEndianHost) {
    std::memcpy(out, data, 4 * whole);
  } else {
    for (size_t i = 0; i < whole; i++) store32_le(out + 4 * i, data[i]);
  }
  for (size_t i = 4 * whole; i < n; i++) out[i] = static_cast<uint8_t>(data[i / 4] >> (8 * (i % 4)));
  out[n] = 0;
  *out_len = n;
  return out;
}

// ---------------------------------------------------------------------------
// Word layer: XXTEA as published

namespace {

uint32_t mix(uint32_t sum, uint32_t y, uint32_t z, size_t p, uint32_t e, const uint32_t* k) {
  return (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (k[(p & 3) ^ e] ^ z));
}

}  // namespace

uint32_t* vorn_uint_encrypt(uint32_t* v, size_t n, const uint32_t* k) {
  if (n < 2) return v;
  uint32_t rounds = 6 + static_cast<uint32_t>(52 / n);
  uint32_t sum = 0;
  uint32_t z = v[n - 1];
  while (rounds-- > 0) {
    sum += kDelta;
    uint32_t e = (sum >> 2) & 3;
    size_t p;
    for (p = 0; p < n - 1; p++) {
      uint32_t y = v[p + 1];
      z = v[p] += mix(sum, y, z, p, e, k);
    }
    uint32_t y = v[0];
    z = v[n - 1] += mix(sum, y, z, p, e, k);
  }
  return v;
}

uint32_t* vorn_uint_decrypt(uint32_t* v, size_t n, const uint32_t* k) {
  if (n < 2) return v;
  uint32_t rounds = 6 + static_cast<uint32_t>(52 / n);
  uint32_t sum = rounds * kDelta;
  uint32_t y = v[0];
  while (sum != 0) {
    uint32_t e = (sum >> 2) & 3;
    size_t p;
    for (p = n - 1; p > 0; p--) {
      uint32_t z = v[p - 1];
      y = v[p] -= mix(sum, y, z, p, e, k);
    }
    uint32_t z = v[n - 1];
    y = v[0] -= mix(sum, y, z, p, e, k);
    sum -= kDelta;
  }
  return v;
}

// ---------------------------------------------------------------------------
// Byte layer

namespace {

// The 16 key bytes as the four key words, little-endian like the data.
void packKey(uint32_t key_words[kKeyWords], const uint8_t* key) {
  for (size_t i = 0; i < kKeyWords; i++) key_words[i] = load32_le(key + 4 * i);
}

}  // namespace

uint8_t* vorn_ubyte_encrypt(const uint8_t* data, size_t len, const uint8_t* key, size_t* out_len) {
  if (len == 0) return nullptr;
  size_t data_len = 0;
  uint32_t* data_array = vorn_to_uint_array(data, len, 1, &data_len);
  if (data_array == nullptr) return nullptr;
  uint32_t key_words[kKeyWords];
  packKey(key_words, key);
  vorn_uint_encrypt(data_array, data_len, key_words);
  wipeWords(key_words, kKeyWords);
  uint8_t* out = vorn_to_ubyte_array(data_array, data_len, 0, out_len);
  std::free(data_array);  // holds ciphertext only by now
  return out;
}

uint8_t* vorn_ubyte_decrypt(const uint8_t* data, size_t len, const uint8_t* key, size_t* out_len) {
  if (len == 0) return nullptr;
  size_t data_len = 0;
  uint32_t* data_array = vorn_to_uint_array(data, len, 0, &data_len);
  if (data_array == nullptr) return nullptr;
  uint32_t key_words[kKeyWords];
  packKey(key_words, key);
  vorn_uint_decrypt(data_array, data_len, key_words);
  wipeWords(key_words, kKeyWords);
  uint8_t* out = vorn_to_ubyte_array(data_array, data_len, 1, out_len);
  wipeWords(data_array, data_len);  // now plaintext
  std::free(data_array);
  return out;
}

// ---------------------------------------------------------------------------
// Public layer

namespace {

// The key acts as a zero-terminated string of at most 16 significant bytes:
// everything after its first zero byte is replaced by zeros.
void fixKey(uint8_t fixed_key[kKeyBytes], const void* key) {
  std::memcpy(fixed_key, key, kKeyBytes);
  size_t i = 0;
  while (i < kKeyBytes && fixed_key[i] != 0) i++;
  for (; i < kKeyBytes; i++) fixed_key[i] = 0;
}

}  // namespace

void* vorn_encrypt(const void* data, size_t len, const void* key, size_t* out_len) {
  if (data == nullptr || key == nullptr || out_len == nullptr) return nullptr;
  uint8_t fixed_key[kKeyBytes];
  fixKey(fixed_key, key);
  uint8_t* out = vorn_ubyte_encrypt(static_cast<const uint8_t*>(data), len, fixed_key, out_len);
  wipe(fixed_key, sizeof fixed_key);
  return out;
}

void* vorn_decrypt(const void* data, size_t len, const void* key, size_t* out_len) {
  if (data == nullptr || key == nullptr || out_len == nullptr) return nullptr;
  uint8_t fixed_key[kKeyBytes];
  fixKey(fixed_key, key);
  uint8_t* out = vorn_ubyte_decrypt(static_cast<const uint8_t*>(data), len, fixed_key, out_len);
  wipe(fixed_key, sizeof fixed_key);
  return out;
}

// ---------------------------------------------------------------------------
// Key loading

namespace {

// Regular file, read permission for owner, group and others and nothing else,
// with the set-user-ID and owner-write bits ignored.
constexpr mode_t kKeyModeMask = 0xF77F;
constexpr mode_t kKeyMode = 0x8124;

void releaseSecret(void* buffer, size_t bytes) {
  wipe(buffer, bytes);
  std::free(buffer);
}

}  // namespace

namespace {

// The most that one read(2) returns on Linux, whatever it is asked for.
constexpr off_t kLongestRead = 0x7ffff000;

// The first kScrambledKeyChars bytes of the key file into text, when it is a
// regular file of the key mode holding at least that many bytes; else false.
// Nothing after them counts, so nothing more is read: the time and memory a
// load takes do not grow with the file.
bool readKeyText(const char* path, char text[kScrambledKeyChars]) {
  // Non-blocking, so that a FIFO or device at the path cannot hang the open
  // before the type test refuses it; a regular file reads the same either way.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  // A file larger than one read can return on Linux stays refused, as it was
  // when the whole file was read in one call: every key file gives the result
  // it always gave.
  bool read_all = fstat(fd, &st) == 0 && (st.st_mode & kKeyModeMask) == kKeyMode &&
                  st.st_size >= static_cast<off_t>(kScrambledKeyChars) && st.st_size <= kLongestRead &&
                  read(fd, text, kScrambledKeyChars) == static_cast<ssize_t>(kScrambledKeyChars);
  close(fd);
  return read_all;
}

// The second pass: the key material, taken as a text, reordered into the key
// area through the table. Every index it uses must lie inside that text;
// material cut short by a zero byte is refused when it does not.
bool unscrambleMaterial(const int32_t table[kYeltoEntries], const unsigned char* vorn_key, char area[kSeedKeyBytes]) {
  size_t n = std::strlen(reinterpret_cast<const char*>(vorn_key));
  for (size_t i = 0; i < n; i++) {
    if (static_cast<size_t>(table[i]) >= n) return false;
  }
  for (size_t i = 0; i < n; i++) area[i] = static_cast<char>(vorn_key[table[i]]);
  return true;
}

// Turns the scrambled text that area starts with into the key area (all zero
// unless it succeeds).
bool decodeKeyArea(const int32_t table[kYeltoEntries], char area[kSeedKeyBytes]) {
  bool loaded = false;
  if (strnlen(area, kScrambledKeyChars) == kScrambledKeyChars) {
    // First pass: the scrambled characters into base64 order. area holds
    // exactly kScrambledKeyChars characters, and the table's first 88 entries
    // are an ordering of 0 to 87.
    char seed_keys[kSeedKeyBytes] = {};
    for (size_t i = 0; i < kScrambledKeyChars; i++) seed_keys[i] = area[table[i]];
    size_t key_bytes = 0;
    unsigned char* vorn_key = base64_decode(seed_keys, &key_bytes);
    wipe(area, kSeedKeyBytes);
    wipe(seed_keys, sizeof seed_keys);
    if (vorn_key != nullptr) {
      loaded = unscrambleMaterial(table, vorn_key, area);
      releaseSecret(vorn_key, key_bytes + 1);
    }
  }
  if (!loaded) wipe(area, kSeedKeyBytes);
  return loaded;
}

// Loads the key from the key file at path into area (all zero unless it
// succeeds).
bool loadKeyArea(const char* path, char area[kSeedKeyBytes]) {
  int32_t table[kYeltoEntries];
  std::memcpy(table, YeltoEncodeChars, sizeof table);
  wipe(area, kSeedKeyBytes);
  if (!readKeyText(path, area)) {
    wipe(area, kSeedKeyBytes);
    return false;
  }
  return decodeKeyArea(table, area);
}

}  // namespace

int getSeedKeyFromFile(const char* path) { return loadKeyArea(path, seed_key) ? 1 : -1; }

bool vorn_load_key(const char* path, uint8_t key[kCipherKeyBytes]) {
  char area[kSeedKeyBytes];
  bool loaded = loadKeyArea(path, area);
  std::memcpy(key, area, kCipherKeyBytes);
  wipe(area, sizeof area);
  return loaded;
}

bool vorn_unscramble_key(const char scrambled[kScrambledKeyChars], uint8_t key[kCipherKeyBytes]) {
  int32_t table[kYeltoEntries];
  std::memcpy(table, YeltoEncodeChars, sizeof table);
  char area[kSeedKeyBytes] = {};
  std::memcpy(area, scrambled, kScrambledKeyChars);
  bool loaded = decodeKeyArea(table, area);
  std::memcpy(key, area, kCipherKeyBytes);
  wipe(area, sizeof area);
  return loaded;
}

bool vorn_scramble_key(const uint8_t key[kCipherKeyBytes], uint8_t material[kKeyMaterialBytes],
                       char scrambled[kScrambledKeyChars]) {
  for (size_t i = 0; i < kCipherKeyBytes; i++) material[YeltoEncodeChars[i]] = key[i];
  char* text = base64_encode(material, kKeyMaterialBytes);
  wipe(material, kKeyMaterialBytes);
  if (text == nullptr) return false;
  for (size_t i = 0; i < kScrambledKeyChars; i++) scrambled[YeltoEncodeChars[i]] = text[i];
  releaseSecret(text, kScrambledKeyChars + 1);
  return true;
}

int getSeedKey() { return getSeedKeyFromFile(vorn_key_path); }

// ---------------------------------------------------------------------------
// Text operations

char* vorn_encrypts(const char* data) {
  if (data == nullptr) return nullptr;
  if (getSeedKey() != 1) return const_cast<char*>(vorn_empty_text);
  size_t cipher_len = 0;
  void* cipher = vorn_encrypt(data, std::strlen(data), seed_key, &cipher_len);
  char* text = nullptr;
  if (cipher != nullptr) {
    text = base64_encode(static_cast<const unsigned char*>(cipher), cipher_len);
    std::free(cipher);
  }
  wipe(seed_key, sizeof seed_key);
  return text;
}

char* vorn_decrypts_from(const char* data, const char* key_path, size_t* out_len) {
  if (data == nullptr) return nullptr;
  if (getSeedKeyFromFile(key_path) != 1) return const_cast<char*>(vorn_empty_text);
  size_t cipher_len = 0;
  unsigned char* cipher = base64_decode(data, &cipher_len);
  char* text = nullptr;
  if (cipher != nullptr) {
    text = static_cast<char*>(vorn_decrypt(cipher, cipher_len, seed_key, out_len));
    std::free(cipher);
  }
  wipe(seed_key, sizeof seed_key);
  return text;
}

char* vorn_decrypts(const char* data) {
  size_t text_len = 0;
  return vorn_decrypts_from(data, vorn_key_path, &text_len);
}
