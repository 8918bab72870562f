#include "config_text.h"

#include <climits>
#include <cstdio>
#include <cstring>

const SettingLine kFixedLines[kFixedLineCount] = {
    {.key = "AUTH_KEY", .value = nullptr},
    {.key = "RATE_LIMIT", .value = "3 30"},
    {.key = "KEY_METHOD", .value = "app512"},
    {.key = "CYCLE_TIME", .value = "30"},
    // The product's secure key: constant, the same in every file written.
    {.key = "SECURE_KEY", .value = "Vq7Zr2KxP9mWb4TnL8cYs1GdHf3Je6Ua"},
    {.key = "ACL_TYPE", .value = "deny"},
    {.key = "MIDDLE_TYPE", .value = "DISALLOW_REUSE"},
    {.key = "MIDDLE_TIME", .value = "58014762"},
    {.key = "ENV_TYPE", .value = "share"},
    {.key = "DETECT_YN", .value = "n"},
};

namespace {

// Appends text at *p, advancing *p, when it fits before end (terminator
// included); returns false, leaving *p, when it does not.
bool append(char** p, const char* end, const char* text) {
  size_t len = std::strlen(text);
  if (len >= static_cast<size_t>(end - *p)) return false;
  std::memcpy(*p, text, len + 1);
  *p += len;
  return true;
}

}  // namespace

bool formatLine(char* line, size_t size, const char* key, const char* value) {
  char* p = line;
  const char* end = line + size;
  return append(&p, end, "\" ") && append(&p, end, key) &&
         (value == nullptr || (append(&p, end, " ") && append(&p, end, value))) && append(&p, end, "\n");
}

void buildFixedSettings(char* secret) {
  char* p = secret;
  for (const SettingLine& line : kFixedLines) {
    // The ten lines fill kFixedSettingsLength characters, well inside the area.
    formatLine(p, kSecretSize - static_cast<size_t>(p - secret), line.key, line.value);
    p += std::strlen(p);
  }
}

char* addOption(char* buf, size_t nbuf, const char* option) {
  size_t text_len = std::strlen(buf);
  size_t line_len = std::strlen(option);
  // The sum cannot wrap: both lengths count bytes of objects in memory.
  if (text_len >= nbuf || line_len >= nbuf - text_len) return nullptr;
  char* newline = std::strchr(buf, '\n');
  if (newline == nullptr) return nullptr;
  char* p = newline + 1;
  std::memmove(p + line_len, p, text_len - static_cast<size_t>(p - buf) + 1);
  // The line goes in without its terminator: the text's own moved up above.
  std::memcpy(p, option, line_len);  // NOLINT(bugprone-not-null-terminated-result)
  return buf;
}

bool readAnswer() {
  int c;
  do {
    c = std::getchar();
  } while (c == ' ' || c == '\r' || c == '\n');
  return c == 'y' || c == 'Y';
}

int maybe(const char* msg) {
  std::fputs("\n", stdout);
  std::fputs(msg, stdout);
  std::fputs(" (y/n) ", stdout);
  std::fflush(stdout);
  return readAnswer() ? 1 : 0;
}

char* maybeAddOption(const char* msg, char* buf, size_t nbuf, const char* option) {
  if (!maybe(msg)) return buf;
  return addOption(buf, nbuf, option);
}

// Written out rather than left to strtoll, which brings the locale's character
// tables into every run.
bool parsePort(const char* text, int* port) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  if (*p < '0' || *p > '9') return false;
  // The magnitude saturates just past the largest one a 32-bit value can take,
  // so that no run of digits can overflow it.
  constexpr long long kPastRange = static_cast<long long>(INT_MAX) + 2;
  long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kPastRange) magnitude = kPastRange;
  }
  if (*p != '\0') return false;
  long long value = negative ? -magnitude : magnitude;
  if (value < INT_MIN || value > INT_MAX) return false;
  *port = static_cast<int>(value);
  return true;
}

bool readPort(const char* text, int* port) {
  int value = 0;
  if (!parsePort(text, &value) || value < kMinPort) return false;
  *port = value;
  return true;
}

const char* formatPort(int value, char* port) {
  char digits[12];
  size_t n = 0;
  // Ports are positive, so the value's magnitude is the value itself.
  unsigned magnitude = static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  for (size_t i = 0; i < n; i++) port[i] = digits[n - 1 - i];
  port[n] = '\0';
  return port;
}

size_t addConnectionLines(char* secret, const char* const values[kConnectionLineCount], DefaultOffer offer) {
  // Each line goes in directly after the first line of the text, so they are
  // added from the last up: PORTNO is handled first.
  for (size_t i = kConnectionLineCount; i-- > 0;) {
    const ConnectionLine& line = kConnectionLines[i];
    char buf[kLineSize];
    char* done;
    if (values[i] != nullptr) {
      done = formatLine(buf, sizeof buf, line.key, values[i]) ? addOption(secret, kSecretSize, buf) : nullptr;
    } else {
      // A default line is short and always fits the scratch line.
      formatLine(buf, sizeof buf, line.key, line.default_value);
      done = offer(line.question, secret, kSecretSize, buf);
    }
    if (done == nullptr) return i;
  }
  return kConnectionLineCount;
}
