#include "config_text.h"

#include <cstdio>
#include <cstring>

namespace {

// The product's secure key: constant, the same in every file written.
constexpr char kSecureKey[] = "Vq7Zr2KxP9mWb4TnL8cYs1GdHf3Je6Ua";
static_assert(sizeof kSecureKey - 1 == 32, "the secure key is 32 characters");

constexpr char kFixedSettings[] =
    "\" AUTH_KEY\n"
    "\" RATE_LIMIT 3 30\n"
    "\" KEY_METHOD app512\n"
    "\" CYCLE_TIME 30\n"
    "\" SECURE_KEY %s\n"
    "\" ACL_TYPE deny\n"
    "\" MIDDLE_TYPE DISALLOW_REUSE\n"
    "\" MIDDLE_TIME 58014762\n"
    "\" ENV_TYPE share\n"
    "\" DETECT_YN n\n";
// The format's "%s" (2 characters) becomes the 32-character key.
static_assert(sizeof kFixedSettings - 1 - 2 + 32 == kFixedSettingsLength, "the fixed lines are 210 characters");
static_assert(kFixedSettingsLength < kSecretSize, "the fixed lines fit the text area");

}  // namespace

void buildFixedSettings(char* secret) {
  std::snprintf(secret, kSecretSize, kFixedSettings, kSecureKey);
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
  std::printf("\n%s (y/n) ", msg);
  std::fflush(stdout);
  return readAnswer() ? 1 : 0;
}

char* maybeAddOption(const char* msg, char* buf, size_t nbuf, const char* option) {
  if (!maybe(msg)) return buf;
  return addOption(buf, nbuf, option);
}
