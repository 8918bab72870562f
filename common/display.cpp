#include "display.h"

#include <cstring>

namespace {

bool isContinuation(unsigned char b) { return (b & 0xc0) == 0x80; }

// The length of the UTF-8 sequence that starts with lead, and the range its
// second byte must lie in so that the sequence is neither overlong, nor a
// surrogate, nor beyond U+10FFFF; 0 for a byte that starts no sequence.
size_t sequenceLength(unsigned char lead, unsigned char* low, unsigned char* high) {
  *low = 0x80;
  *high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) {
    if (lead == 0xe0) *low = 0xa0;
    if (lead == 0xed) *high = 0x9f;
    return 3;
  }
  if (lead >= 0xf0 && lead <= 0xf4) {
    if (lead == 0xf0) *low = 0x90;
    if (lead == 0xf4) *high = 0x8f;
    return 4;
  }
  return 0;
}

// How many bytes at the start of text (len > 0) form one character that may
// reach a terminal as it is; 0 when the first byte must be replaced.
size_t displayableLength(const unsigned char* text, size_t len) {
  if (text[0] < 0x80) return text[0] >= 0x20 && text[0] != 0x7f ? 1 : 0;
  unsigned char low = 0;
  unsigned char high = 0;
  size_t n = sequenceLength(text[0], &low, &high);
  if (n == 0 || n > len || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < n; i++) {
    if (!isContinuation(text[i])) return 0;
  }
  // U+0080 to U+009F are C2 80 to C2 9F: the C1 controls, CSI (U+009B) among them.
  if (text[0] == 0xc2 && text[1] <= 0x9f) return 0;
  return n;
}

// What the byte b becomes in form, written into shown (not terminated); returns
// its length.
size_t replacementOf(unsigned char b, DisplayForm form, char shown[4]) {
  if (form == kDisplayQuestionMark) {
    shown[0] = '?';
    return 1;
  }
  static const char kHexDigits[] = "0123456789abcdef";
  shown[0] = '\\';
  shown[1] = 'x';
  shown[2] = kHexDigits[b >> 4];
  shown[3] = kHexDigits[b & 0xf];
  return 4;
}

}  // namespace

bool putDisplayed(FILE* out, const char* text, size_t len, DisplayForm form) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t at = 0;
  while (at < len) {
    size_t run = 0;
    for (size_t n = 0; at + run < len && (n = displayableLength(bytes + at + run, len - at - run)) > 0;) run += n;
    if (std::fwrite(text + at, 1, run, out) != run) return false;
    at += run;
    if (at == len) break;
    char shown[4];
    size_t n = replacementOf(bytes[at], form, shown);
    if (std::fwrite(shown, 1, n, out) != n) return false;
    at++;
  }
  return true;
}

ShownName shownName(const char* name, DisplayForm form) {
  ShownName shown;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(name);
  size_t len = std::strlen(name);
  // Room is kept for "..." and the terminator.
  const size_t room = sizeof shown.text - 4;
  size_t out = 0;
  for (size_t at = 0; at < len;) {
    char replaced[4];
    size_t taken = displayableLength(bytes + at, len - at);
    const char* piece = name + at;
    size_t size = taken;
    if (taken == 0) {
      size = replacementOf(bytes[at], form, replaced);
      piece = replaced;
      taken = 1;
    }
    if (out + size > room) {
      std::memcpy(shown.text + out, "...", 3);
      out += 3;
      break;
    }
    std::memcpy(shown.text + out, piece, size);
    out += size;
    at += taken;
  }
  shown.text[out] = '\0';
  return shown;
}
