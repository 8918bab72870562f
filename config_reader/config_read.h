// Reading a configuration file as vorn_sql writes it: the file's text, plain or
// decrypted under the key file's key.
#pragma once

#include <cstddef>
#include <cstdio>

#include "display.h"

// The largest configuration file that is read, in bytes.
constexpr size_t kConfigFileMax = 4096;

// The exit status of a program that could not read or check the file.
constexpr int kReadFailed = 2;

// Reads the configuration file at path into text (at least kConfigFileMax + 1
// bytes) and stores its length in *len; text is NUL-terminated after it, and may
// hold NUL bytes before it. The file is opened read-only and non-blocking (a
// FIFO cannot hang it; a symbolic link is followed) and must be a regular file
// of at most kConfigFileMax bytes. Plain when it starts with "\" AUTH_KEY\n";
// otherwise it is decrypted as vorn_decrypts does, under the key loaded from
// key_path, or from the fixed key file when key_path is null.
//
// Returns 0 on success. Returns kReadFailed after printing one line on standard
// error that names the file (and the key file where it applies), each name
// shown in form (display.h), and the cause; text then holds nothing of the file.
int readConfigFile(const char* path, const char* key_path, DisplayForm form, char* text, size_t* len);

// readConfigFile for a text that arrives on the open descriptor fd, such as
// standard input: fd is read to its end whatever it is (a pipe, a terminal), at
// most kConfigFileMax bytes, and name stands for the file in messages.
int readConfigStream(int fd, const char* name, const char* key_path, DisplayForm form, char* text, size_t* len);

// The steps of the two calls above, for a caller that reports each itself
// with their messages on a stream of its own (check_vorn).
//
// Reads fd to its end, at most kConfigFileMax bytes, into raw (at least
// kConfigFileMax + 2 bytes), NUL-terminated. Returns 0 and the count in *n, or
// kReadFailed after writing why on messages, the text named as name (shown).
int readConfigBytes(int fd, const char* name, char* raw, size_t* n, FILE* messages);

// Whether the n bytes at raw are in the plain form (they start with the
// AUTH_KEY line) rather than encrypted.
bool isPlainConfig(const char* raw, size_t n);

// The configuration text of the n bytes read into raw (NUL-terminated after
// them), as the calls above give it: the bytes themselves when plain, else
// decrypted under the key file key_path (null: the fixed one), the key file
// shown in form. Returns 0, or kReadFailed after writing why on messages.
int configTextOf(const char* name, const char* key_path, DisplayForm form, const char* raw, size_t n, char* text,
                 size_t* len, FILE* messages);
