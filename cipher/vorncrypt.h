// XXTEA encryption of byte strings, with the plaintext length appended as a last
// 32-bit word and checked on decryption, and the text-level encryption of the
// configuration under the key stored, scrambled, in the key file.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of a cipher key: the first kCipherKeyBytes of the key area, cut at their
// first zero byte.
constexpr size_t kCipherKeyBytes = 16;

// Characters of scrambled key text that the key file must start with; nothing
// after them counts.
constexpr size_t kScrambledKeyChars = 88;
// Bytes of key material that kScrambledKeyChars base64 characters decode to.
constexpr size_t kKeyMaterialBytes = 66;

// The key file the text operations load their key from.
extern const char vorn_key_path[];

// The empty text that vorn_encrypts and vorn_decrypts return when the key cannot
// be loaded. It is constant: never release it, never write to it.
extern const char vorn_empty_text[1];

// Encrypts len bytes (len >= 1) under the first 16 bytes at key, cut at their
// first zero byte. Returns a new buffer of 4 * (ceil(len / 4) + 1) bytes followed
// by a zero byte, released by the caller with free, and stores that count in
// *out_len. Returns null, leaving *out_len untouched, when len is 0 or does not
// fit the 32-bit length word, or an allocation fails.
void* vorn_encrypt(const void* data, size_t len, const void* key, size_t* out_len);

// Decrypts what vorn_encrypt produced under the same key rule. Returns a new
// buffer of the plaintext bytes followed by a zero byte, released by the caller
// with free, and stores their count in *out_len. Returns null, leaving *out_len
// untouched, when len is 0, the ciphertext is shorter than two words, its
// decrypted length word does not fit its size, or an allocation fails.
void* vorn_decrypt(const void* data, size_t len, const void* key, size_t* out_len);

// Loads the key from the key file into the process-wide key area: 1 on success,
// -1 when the file or its content cannot be used (the key area is then all zero).
int getSeedKey();

// Loads the key from the key file at path into key, by the same rules as the
// text operations: true when a key can be loaded, else false with key all zero.
// The caller wipes key after use.
bool vorn_load_key(const char* path, uint8_t key[kCipherKeyBytes]);

// The key that the kScrambledKeyChars characters at scrambled stand for, by
// the same decoding as the key loading: true when they yield one, else false
// with key all zero. The caller wipes key after use.
bool vorn_unscramble_key(const char scrambled[kScrambledKeyChars], uint8_t key[kCipherKeyBytes]);

// The inverse of the key loading: the 88 characters a key file starts with, for
// key placed among the filler bytes of material (none of them zero: a zero byte
// would cut the material short). Wipes material; false when the encoding's
// allocation fails.
bool vorn_scramble_key(const uint8_t key[kCipherKeyBytes], uint8_t material[kKeyMaterialBytes],
                       char scrambled[kScrambledKeyChars]);

// Encrypts the text data under the key file's key and returns it base64-encoded
// in a new text that the caller releases with free. Returns vorn_empty_text when
// the key cannot be loaded, and null when data is null or the encryption fails.
// The key area is all zero again when it returns.
char* vorn_encrypts(const char* data);

// The inverse of vorn_encrypts: returns the decrypted text in a new buffer that
// the caller releases with free, vorn_empty_text when the key cannot be loaded,
// and null when data is null, is not base64 by its length, or fails the length
// check. The key area is all zero again when it returns.
char* vorn_decrypts(const char* data);

// vorn_decrypts under the key loaded, by the same rules, from the key file at
// key_path. On a result other than null and vorn_empty_text, stores the count of
// plain bytes in *out_len: unlike the text's length, it counts zero bytes too.
char* vorn_decrypts_from(const char* data, const char* key_path, size_t* out_len);
