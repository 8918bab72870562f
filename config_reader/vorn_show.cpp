// vorn_show: prints a configuration file written by vorn_sql, decrypted where it
// is encrypted and with the password masked, and checks every line of it.
// Status 0: valid; 1: read but broken; 2: nothing could be checked.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "config_check.h"
#include "config_read.h"
#include "getopt.h"

namespace {

const char kUsage[] =
    "Usage: vorn_show [-r|--reveal] [-q|--quiet] [-k PATH|--key-file=PATH] [FILE]\n"
    "Prints the configuration FILE (default: $HOME/.vorn_sql), decrypted where it is\n"
    "encrypted, and reports on standard error every line that vorn_sql cannot have written.\n"
    "  -r, --reveal           print the password instead of *****\n"
    "  -q, --quiet            print nothing on standard output; only check\n"
    "  -k, --key-file=PATH    decrypt with the key file PATH instead of the fixed one\n"
    "  -h, --help             print this help\n"
    "Exit status: 0 valid, 1 read but not valid, 2 not read (usage, file, key or content).\n";

const vornopt::option kLongOptions[] = {
    {"reveal", vornopt::no_argument, nullptr, 'r'},
    {"quiet", vornopt::no_argument, nullptr, 'q'},
    {"key-file", vornopt::required_argument, nullptr, 'k'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

constexpr char kPasswordPrefix[] = "\" PASSWORD ";
constexpr char kMask[] = "*****";

int usageError() {
  std::fputs(kUsage, stderr);
  return kReadFailed;
}

// Writes text to standard output with the value of every PASSWORD line replaced
// by the mask unless reveal. False when standard output fails.
bool printText(const char* text, size_t len, bool reveal) {
  const size_t prefix = sizeof kPasswordPrefix - 1;
  for (size_t at = 0; at < len;) {
    const char* nl = static_cast<const char*>(std::memchr(text + at, '\n', len - at));
    size_t end = nl != nullptr ? static_cast<size_t>(nl - text) : len;
    if (!reveal && end - at > prefix && std::memcmp(text + at, kPasswordPrefix, prefix) == 0) {
      if (std::fwrite(text + at, 1, prefix, stdout) != prefix || std::fputs(kMask, stdout) == EOF) return false;
      at = end;
    }
    size_t stop = nl != nullptr ? end + 1 : len;
    if (std::fwrite(text + at, 1, stop - at, stdout) != stop - at) return false;
    at = stop;
  }
  return std::fflush(stdout) == 0;
}

int run(int argc, char** argv) {
  bool reveal = false;
  bool quiet = false;
  const char* key_path = nullptr;
  for (;;) {
    int c = vornopt::_getopt_long(argc, argv, "rqk:h", kLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'r':
        reveal = true;
        break;
      case 'q':
        quiet = true;
        break;
      case 'k':
        if (vornopt::optarg == nullptr || vornopt::optarg[0] == '\0') {
          std::fputs("vorn_show: --key-file needs a path\n", stderr);
          return usageError();
        }
        key_path = vornopt::optarg;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : kReadFailed;
      default:
        // The parser's message ends without a newline.
        std::fputs("\n", stderr);
        return usageError();
    }
  }
  if (argc - vornopt::optind > 1) {
    std::fputs("vorn_show: one FILE at most\n", stderr);
    return usageError();
  }
  char default_path[PATH_MAX];
  const char* path = argv[vornopt::optind];
  if (path == nullptr) {
    if (!defaultConfigPath(default_path, sizeof default_path)) return kReadFailed;
    path = default_path;
  }

  char text[kConfigFileMax + 1];
  size_t len = 0;
  int read_status = readConfigFile(path, key_path, text, &len);
  if (read_status != 0) return read_status;

  ConnectionValues values;
  int faults = checkConfigText(path, text, len, &values, stderr);
  for (size_t i = 0; i < kConnectionLineCount; i++) {
    if (values.value[i] == nullptr) {
      std::fprintf(stderr, "%s: note: no %s line; the product cannot connect without it\n", path,
                   kConnectionLines[i].key);
    }
  }
  bool printed = quiet || printText(text, len, reveal);
  explicit_bzero(text, sizeof text);
  if (!printed) {
    std::perror("vorn_show: cannot write to standard output");
    return kReadFailed;
  }
  return faults == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
