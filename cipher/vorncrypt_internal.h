// The layers below vorn_encrypt and vorn_decrypt and the key loading state, for
// the module itself, the key file tool and the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vorncrypt.h"

// Size of the key area, terminator included.
constexpr size_t kSeedKeyBytes = 89;
// Entries of the key index table.
constexpr size_t kYeltoEntries = 90;

// The key area: all zero except between a successful getSeedKey and the end of
// the text operation that called it. The cipher uses its first 16 bytes.
extern char seed_key[kSeedKeyBytes];

// The key index table: entry i names the position of the character (first pass)
// or byte (second pass) that goes to place i. Its first 66 entries are an
// ordering of 0 to 65 and the next 22 of 66 to 87, so that every key file made by
// vorn_keyfile decodes to 66 bytes that are all used; the last two are unused.
extern const int32_t YeltoEncodeChars[kYeltoEntries];

// getSeedKey with the key file at path: 1 when seed_key holds the key, else -1.
int getSeedKeyFromFile(const char* path);

// Byte layer: packs, frames and encrypts len bytes under exactly 16 key bytes.
uint8_t* vorn_ubyte_encrypt(const uint8_t* data, size_t len, const uint8_t* key, size_t* out_len);
// Byte layer: decrypts and checks the length word; null when it is out of range.
uint8_t* vorn_ubyte_decrypt(const uint8_t* data, size_t len, const uint8_t* key, size_t* out_len);

// XXTEA on the n words v in place under the four key words k; a single word is
// left as it is. Returns v.
uint32_t* vorn_uint_encrypt(uint32_t* v, size_t n, const uint32_t* k);
uint32_t* vorn_uint_decrypt(uint32_t* v, size_t n, const uint32_t* k);

// Packs len bytes little-endian into new zero-filled words (released with free),
// with inc_len nonzero followed by a word holding len; *out_len receives the word
// count. Null when the size does not fit, len does not fit the length word, or
// the allocation fails.
uint32_t* vorn_to_uint_array(const uint8_t* data, size_t len, int inc_len, size_t* out_len);

// Unpacks len words little-endian into a new byte buffer followed by a zero byte
// (released with free); *out_len receives the byte count. With inc_len nonzero
// the last word is a length word that must name a count needing exactly len - 1
// words, and only that many bytes are returned. Null when that check or the
// allocation fails, or the size does not fit.
uint8_t* vorn_to_ubyte_array(const uint32_t* data, size_t len, int inc_len, size_t* out_len);
