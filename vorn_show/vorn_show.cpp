// vorn_show: prints a configuration file written by vorn_sql, decrypted where it
// is encrypted and with the password masked, and checks every line of it.
// Status 0: valid; 1: read but broken; 2: nothing could be checked.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "chores.h"
#include "display.h"
#include "secrets.h"
#include "config_check.h"
#include "config_read.h"
#include "tool_options.h"

namespace {

const char kUsage[] =
    "Usage: vorn_show [-r|--reveal] [-q|--quiet] [-k PATH|--key-file=PATH] [FILE]\n"
    "Prints the configuration FILE (default: $HOME/.vorn_sql), decrypted where it is\n"
    "encrypted, and reports on standard error every line that vorn_sql cannot have written.\n"
    "  -r, --reveal           print the password instead of *****\n"
    "  -q, --quiet            print nothing on standard output; only check\n"
    "  -k, --key-file=PATH    decrypt with the key file PATH instead of the fixed one\n"
    "  -h, --help             print this help\n"
    "FILE - reads the configuration from standard input.\n"
    "Exit status: 0 valid, 1 read but not valid, 2 not read (usage, file, key or content).\n";

const vornopt::option kLongOptions[] = {
    {"reveal", vornopt::no_argument, nullptr, 'r'},
    {"quiet", vornopt::no_argument, nullptr, 'q'},
    {"key-file", vornopt::required_argument, nullptr, 'k'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

constexpr char kMask[] = "*****";

// Writes n bytes of a line: byte for byte, or on a terminal with control
// characters and bytes outside UTF-8 shown as \xHH, so that no value can steer
// the terminal. False when standard output fails.
bool putLine(const char* text, size_t n, bool on_terminal) {
  if (on_terminal) return putDisplayed(stdout, text, n, kDisplayHexEscape);
  return std::fwrite(text, 1, n, stdout) == n;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool endsKey(char c) { return isBlank(c) || c == '=' || c == ':'; }

bool isKey(const char* key, size_t n, const char* name) {
  return std::strlen(name) == n && std::memcmp(name, key, n) == 0;
}

// Whether the n bytes at key are the key of a line that vorn_sql writes and
// that holds no secret.
bool isShownKey(const char* key, size_t n) {
  bool shown = false;
  for (const SettingLine& line : kFixedLines) shown = shown || isKey(key, n, line.key);
  for (const ConnectionLine& line : kConnectionLines) {
    shown = shown || (isKey(key, n, line.key) && !isKey(key, n, kConnectionLines[kPasswordField].key));
  }
  return shown;
}

// Where the mask replaces the rest of the line of n bytes at line; n for none.
// A hand-edited file may hold a password under a key spaced, cased or spelt
// otherwise, or on a line of its own, so a value is shown only after a key
// that vorn_sql writes and that is no password, blanks allowed around the
// opening double quote; any other key's value is masked, and so is a line
// without the double quote. Another key with nothing after it is masked
// itself: a password typed against its key, or alone after the quote, is one
// word.
size_t maskFrom(const char* line, size_t n) {
  size_t at = 0;
  while (at < n && isBlank(line[at])) at++;
  if (at == n) return n;
  if (line[at++] != '"') return 0;
  while (at < n && isBlank(line[at])) at++;
  size_t key = at;
  while (at < n && !endsKey(line[at])) at++;
  if (isShownKey(line + key, at - key)) return n;
  size_t value = at;
  while (value < n && endsKey(line[value])) value++;
  return value == n && !isKey(line + key, at - key, kConnectionLines[kPasswordField].key) ? key : value;
}

// Writes text to standard output, unless reveal with the mask for every value
// that may be a secret (maskFrom). False when standard output fails.
bool printText(const char* text, size_t len, bool reveal, bool on_terminal) {
  for (size_t at = 0; at < len;) {
    const char* nl = static_cast<const char*>(std::memchr(text + at, '\n', len - at));
    size_t end = nl != nullptr ? static_cast<size_t>(nl - text) : len;
    size_t shown = reveal ? end - at : maskFrom(text + at, end - at);
    if (!putLine(text + at, shown, on_terminal) || (shown < end - at && std::fputs(kMask, stdout) == EOF) ||
        (nl != nullptr && std::fputc('\n', stdout) == EOF))
      return false;
    at = end + 1;
  }
  return std::fflush(stdout) == 0;
}

struct Settings {
  bool reveal = false;
  bool quiet = false;
  const char* key_path = nullptr;
};

bool takeOption(int c, const char* arg, void* context) {
  Settings* s = static_cast<Settings*>(context);
  if (c == 'r') {
    s->reveal = true;
  } else if (c == 'q') {
    s->quiet = true;
  } else if (arg[0] == '\0') {
    std::fputs("vorn_show: --key-file needs a path\n", stderr);
    return false;
  } else {
    s->key_path = arg;
  }
  return true;
}

// Prints the notes of absent connection lines, naming the file as name, and,
// unless quiet, the text. False when standard output fails.
bool report(const char* name, const char* text, size_t len, const ConnectionValues& values, const Settings& s) {
  for (size_t i = 0; i < kConnectionLineCount; i++) {
    if (values.value[i] == nullptr) {
      std::fprintf(stderr, "%s: note: no %s line; the product cannot connect without it\n", name,
                   kConnectionLines[i].key);
    }
  }
  return s.quiet || printText(text, len, s.reveal, isatty(STDOUT_FILENO) == 1);
}

int run(int argc, char** argv) {
  static const ToolCommandLine kCommandLine = {
      .short_options = "rqk:h", .long_options = kLongOptions, .usage = kUsage, .help_failed_status = kReadFailed};
  Settings s;
  int status = parseToolOptions(argc, argv, kCommandLine, takeOption, &s);
  if (status >= 0) return status;
  if (argc - vornopt::optind > 1) {
    std::fputs("vorn_show: one FILE at most\n", stderr);
    return usageError(kUsage);
  }
  char default_path[PATH_MAX];
  const char* path = argv[vornopt::optind];
  if (path == nullptr) {
    if (!defaultConfigPath(default_path, sizeof default_path)) return kReadFailed;
    path = default_path;
  }

  // Messages show names as the text is shown on a terminal: neither may
  // steer it.
  const ShownName name = shownName(path, kDisplayHexEscape);
  char text[kConfigFileMax + 1];
  size_t len = 0;
  // "-": the configuration comes on standard input, for example through a pipe.
  status = std::strcmp(path, "-") == 0 ? readConfigStream(STDIN_FILENO, path, s.key_path, kDisplayHexEscape, text, &len)
                                       : readConfigFile(path, s.key_path, kDisplayHexEscape, text, &len);
  if (status != 0) return status;
  ConnectionValues values;
  int faults = checkConfigText(name.text, text, len, &values, stderr);
  bool printed = report(name.text, text, len, values, s);
  wipe(text, sizeof text);
  if (!printed) {
    std::perror("vorn_show: cannot write to standard output");
    return kReadFailed;
  }
  return faults == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  keepSecretsOutOfDumps();
  return run(argc, argv);
}
