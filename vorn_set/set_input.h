// vorn_set's input: lines NAME=VALUE, NAME one of vorn_sql's long option names
// for the connection values, each at most once, the value every byte after the
// first '=' up to the newline (the last line may end without one); empty lines
// and lines starting with '#' are skipped. Each value is checked as vorn_sql
// checks the same option.
#pragma once

#include <cstddef>

#include "config_text.h"

// The longest input read, in bytes.
constexpr size_t kSetInputMax = 8192;
// Room for a reason why a value or line is refused.
constexpr size_t kReasonSize = 128;

// The values found, by entry of kConnectionLines.
struct SetValues {
  const char* value[kConnectionLineCount];  // null when not given; into the input, or port
  size_t line[kConnectionLineCount];        // the input line that gave it
  char port[12];                            // the port as vorn_sql writes it
};

// Checks value (NUL-terminated) for entry i by its field's rule and stores it
// in values. False, with the reason in reason, when vorn_sql would refuse it:
// empty, a line longer than the file's line allows, or a port that readPort
// refuses.
bool takeSetValue(size_t i, const char* value, SetValues* values, char reason[kReasonSize]);

// Parses the len bytes at text, which it changes: every value is terminated in
// place. Returns true with values filled in, or false with the input line at
// fault in *bad_line and why in reason.
bool parseSetInput(char* text, size_t len, SetValues* values, size_t* bad_line, char reason[kReasonSize]);
