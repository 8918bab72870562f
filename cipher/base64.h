// Standard base64 (the RFC 4648 alphabet with "=" padding, no line breaks).
// The decoder never rejects a character: malformed text is decoded by fixed
// arithmetic in which every character outside the alphabet counts as -1.
#pragma once

#include <cstddef>

// The 64 characters of the standard alphabet in value order, without a terminator.
extern const char Base64EncodeChars[64];
// The value of each character code below 128: 0 to 63 for the alphabet, -1 otherwise.
extern const signed char Base64DecodeChars[128];

// Returns a new zero-terminated text of 4 * ceil(len / 3) characters that the
// caller releases with free, or null when len is 0, when the size would not fit
// in size_t, or when the allocation fails.
char* base64_encode(const unsigned char* data, size_t len);

// Decodes the zero-terminated text data into a new buffer of bytes followed by one
// zero byte, released by the caller with free, and stores the byte count in
// *out_len. Returns null, leaving *out_len untouched, when the text is empty, its
// length is not a multiple of 4, or the allocation fails.
unsigned char* base64_decode(const char* data, size_t* out_len);
