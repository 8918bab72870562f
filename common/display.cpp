#include "display.h"

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
    int written = form == kDisplayHexEscape ? std::fprintf(out, "\\x%02x", bytes[at]) : std::fputc('?', out);
    if (written < 0) return false;
    at++;
  }
  return true;
}
