// Base64 codec. Encoding is standard; decoding adds up the table values of each
// group as a 32-bit sum, so that a character outside the alphabet (-1) borrows
// from the bits above its place instead of making the decoding fail.
#include "base64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// clang-format off
const char Base64EncodeChars[64] = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/',
};
// clang-format on

// clang-format off
constexpr signed char Base64DecodeChars[128] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 62, -1, -1, -1, 63,
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61, -1, -1, -1, -1, -1, -1,
    -1, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, -1, -1, -1, -1, -1,
    -1, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, -1, -1, -1, -1, -1,
};
// clang-format on

namespace {

char encodeChar(uint32_t sextet) { return Base64EncodeChars[sextet & 63]; }

// The table value of every byte as a 32-bit two's-complement word: bytes from
// 128 up lie outside the table and count as -1 like any other stranger. Made
// once at compile time, so that decoding a character is one load, without a
// range test or a sign extension.
struct DecodeValues {
  uint32_t of[256];
};

constexpr DecodeValues kDecodeValues = [] {
  DecodeValues t{};
  for (int c = 0; c < 256; c++) t.of[c] = static_cast<uint32_t>(c < 128 ? Base64DecodeChars[c] : -1);
  return t;
}();

uint32_t decodeValue(char c) { return kDecodeValues.of[static_cast<unsigned char>(c)]; }

}  // namespace

char* base64_encode(const unsigned char* data, size_t len) {
  if (len == 0 || data == nullptr) return nullptr;
  size_t quot = len / 3;
  size_t rem = len % 3;
  size_t groups = quot + (rem != 0 ? 1 : 0);
  // 4 characters per group and the terminator must fit in size_t.
  if (groups > (SIZE_MAX - 1) / 4) return nullptr;
  char* out = static_cast<char*>(std::malloc(groups * 4 + 1));
  if (out == nullptr) return nullptr;

  char* p = out;
  for (size_t g = 0; g < quot; g++, data += 3) {
    uint32_t t = (uint32_t{data[0]} << 16) | (uint32_t{data[1]} << 8) | data[2];
    *p++ = encodeChar(t >> 18);
    *p++ = encodeChar(t >> 12);
    *p++ = encodeChar(t >> 6);
    *p++ = encodeChar(t);
  }
  if (rem == 1) {
    uint32_t b0 = data[0];
    *p++ = encodeChar(b0 >> 2);
    *p++ = encodeChar((b0 & 3) << 4);
    *p++ = '=';
    *p++ = '=';
  } else if (rem == 2) {
    uint32_t t = (uint32_t{data[0]} << 8) | data[1];
    *p++ = encodeChar(t >> 10);
    *p++ = encodeChar(t >> 4);
    *p++ = encodeChar((t & 15) << 2);
    *p++ = '=';
  }
  *p = '\0';
  return out;
}

unsigned char* base64_decode(const char* data, size_t* out_len) {
  if (data == nullptr || out_len == nullptr) return nullptr;
  size_t len = std::strlen(data);
  if (len == 0 || len % 4 != 0) return nullptr;
  size_t quot = len / 4;
  size_t paddings = data[len - 2] == '=' ? 2 : data[len - 1] == '=' ? 1 : 0;
  // 3 * quot is at most three quarters of a length that fits, so it cannot wrap.
  unsigned char* out = static_cast<unsigned char*>(std::malloc(3 * quot - paddings + 1));
  if (out == nullptr) return nullptr;

  // Every group consumes at least the two characters it decodes unconditionally
  // and writes one byte fewer than it consumes; a group that ends at an "=" leaves
  // the "=" for the next group. So the reads stay below len (group g starts at or
  // before 4 * g, and no group reads past its fourth character), and the writes
  // below 3 * quot - paddings: the last group stops at or before the trailing "=".
  // Each byte is taken from the sum as it stands after its own characters, so the
  // borrow of a character outside the alphabet never reaches a byte already written.
  const char* in = data;
  unsigned char* p = out;
  for (size_t g = 0; g < quot; g++) {
    uint32_t sum = (decodeValue(in[0]) << 18) + (decodeValue(in[1]) << 12);
    if (in[2] != '=' && in[3] != '=') {  // the common case: a whole group
      uint32_t sum2 = sum + (decodeValue(in[2]) << 6);
      uint32_t sum3 = sum2 + decodeValue(in[3]);
      p[0] = static_cast<unsigned char>(sum >> 16);
      p[1] = static_cast<unsigned char>(sum2 >> 8);
      p[2] = static_cast<unsigned char>(sum3);
      p += 3;
      in += 4;
      continue;
    }
    *p++ = static_cast<unsigned char>(sum >> 16);
    in += 2;
    if (*in == '=') continue;
    sum += decodeValue(*in) << 6;
    *p++ = static_cast<unsigned char>(sum >> 8);
    in++;
    if (*in == '=') continue;
    sum += decodeValue(*in);
    *p++ = static_cast<unsigned char>(sum);
    in++;
  }
  *p = 0;
  *out_len = static_cast<size_t>(p - out);
  return out;
}
