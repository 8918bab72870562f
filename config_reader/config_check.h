// The rules of a valid configuration text, stated beside the writer and built
// on its tables: a text is valid when it is exactly what vorn_sql can write.
#pragma once

#include <cstddef>
#include <cstdio>

#include "config_text.h"

// Where each connection line's value lies in a checked text: for entry i of
// kConnectionLines, value[i] points into the text at the value and length[i]
// counts its bytes, or value[i] is null when the line is absent (or the text
// was too broken to tell).
struct ConnectionValues {
  const char* value[kConnectionLineCount];
  size_t length[kConnectionLineCount];
};

// Checks the len bytes of text against the rules: at most kSecretSize - 1
// characters, no NUL byte, ending with a newline; the AUTH_KEY line first; the
// connection lines in table order, each at most once and each fitting a
// kLineSize scratch line, PORTNO a port by readPort's rule as formatPort writes
// it (digits alone, from kMinPort to kMaxPort); then
// the fixed lines with their values (SECURE_KEY any 32 base64 characters);
// nothing else.
//
// Each fault goes to faults (when not null) as one line "NAME:LINE: message",
// or "NAME: message" for a fault of the whole text, NAME being name as it is:
// a caller shows a file's path through shownName (display.h) first. values
// (when not null) receives the connection values found. Returns the number of
// faults: 0 for a valid text. Absent connection lines are not faults.
int checkConfigText(const char* name, const char* text, size_t len, ConnectionValues* values, FILE* faults);
