// The configuration text: a NUL-terminated run of option lines ("\" KEY value\n")
// held in a fixed area, and the operations that assemble it.
#pragma once

#include <cstddef>

// Size of the configuration text area, terminator included.
constexpr size_t kSecretSize = 316;
// Size of the scratch area in which one connection line is formatted.
constexpr size_t kLineSize = 80;
// Length of the ten fixed lines every text starts with.
constexpr size_t kFixedSettingsLength = 210;

// Writes the ten fixed lines into secret (at least kSecretSize bytes), replacing
// whatever it held.
void buildFixedSettings(char* secret);

// Inserts the line option directly after the first newline of buf and returns buf.
// Returns null and leaves buf unchanged when the result and its terminator would
// not fit in nbuf bytes, or when buf holds no newline.
char* addOption(char* buf, size_t nbuf, const char* option);

// Asks msg as a yes/no question on standard output and reads the answer, one
// character, from standard input: non-zero for yes, 0 for no.
int maybe(const char* msg);

// Asks msg and, on yes, inserts option as addOption does. Returns buf, or null
// when a line that was accepted does not fit (buf is then unchanged).
char* maybeAddOption(const char* msg, char* buf, size_t nbuf, const char* option);

// Reads one answer from standard input: spaces, carriage returns and newlines are
// skipped, and the first other character decides ('y' or 'Y' is yes; anything
// else, end of input included, is no).
bool readAnswer();
