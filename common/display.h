// Shows text from a file or a server on a terminal without letting it steer the
// terminal: printable ASCII and valid UTF-8 pass; control characters and bytes
// outside UTF-8 are replaced by a visible form.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdio>

// What a byte that must not reach the terminal becomes.
enum DisplayForm {
  kDisplayQuestionMark,  // '?'
  kDisplayHexEscape,     // "\x1b": a backslash, x and two lower-case hexadecimal digits
};

// Writes len bytes of text to out. Every byte that belongs to a C0 control
// (U+0000 to U+001F, the newline and the tab among them), to DEL, to a C1 control
// (U+0080 to U+009F, encoded in UTF-8), or to no valid UTF-8 sequence (a lone
// 0x9b, an overlong form, a surrogate, a cut sequence) is written in form; all
// else is written as it is. False when out fails.
bool putDisplayed(FILE* out, const char* text, size_t len, DisplayForm form);

// A name from outside (a file's path, a host) ready for a message's "%s".
struct ShownName {
  // Every byte of the longest path may take four; then "..." and the terminator.
  char text[4 * size_t{PATH_MAX - 1} + sizeof "..."];
};

// name (NUL-terminated) as putDisplayed writes it in form, NUL-terminated. Any
// path fits whole; a longer name, which can name no file, is cut and ends
// with "...".
ShownName shownName(const char* name, DisplayForm form);
