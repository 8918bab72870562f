#include "plugin_options.h"

#include <errno.h>
#include <pwd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "getopt.h"

namespace {

const char kUsage[] =
    "Usage: check_vorn -f FILE [-w RANGE] [-c RANGE] [-t SECONDS[:STATE]] [-k PATH] [-S PATH]\n"
    "                  [--allow-cleartext] [-m MODE] [-o USER] [-i CHECK[,CHECK]...] [-v] [-V] [-h]\n";

const char kHelp[] =
    "Checks the vorn configuration FILE and its MariaDB connection for a monitoring engine\n"
    "(Nagios, Icinga, Naemon, Checkmk, Zabbix): the file is a regular file, read-only, owned\n"
    "as expected and locked (WARNING otherwise); an encrypted file's key file loads, the text\n"
    "is what vorn_sql writes, and the server accepts its login and opens its database\n"
    "(CRITICAL otherwise). One line \"VORN STATE - ... | 'connect_time'=...s;...\", then a\n"
    "line for each check made.\n"
    "  -f, --file=PATH        the configuration file (plain or encrypted)\n"
    "  -w, --warning=RANGE    WARNING when the connection time in seconds is outside RANGE\n"
    "  -c, --critical=RANGE   CRITICAL when it is outside RANGE\n"
    "                         (10: 0 to 10; 10: at least 10; ~:10 at most 10; 10:20;\n"
    "                          @10:20 alerts inside 10 to 20)\n"
    "  -t, --timeout=SECONDS[:STATE]  the whole check's limit (1 to 86400, default 10)\n"
    "                         and the state it gives (critical, the default, or unknown,\n"
    "                         warning, ok)\n"
    "  -k, --key-file=PATH    decrypt with the key file PATH instead of the fixed one\n"
    "  -S, --socket=PATH      the local server's socket, for the host localhost\n"
    "      --allow-cleartext  also log in where the server asks for the password itself\n"
    "  -m, --mode=MODE        the file's mode, in octal (default: 0444 or less)\n"
    "  -o, --owner=USER       the file's owner, a name or a uid (default: root)\n"
    "  -i, --ignore=CHECK     leave out the check lock, mode or owner (a list: lock,mode)\n"
    "  -v, --verbose          also list every fault of the format check\n"
    "  -V, --version          print the version\n"
    "  -h, --help             print this help\n"
    "Exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (bad options, a file the plugin\n"
    "may not read, a failure inside the plugin).\n";

// clang-format off
const vornopt::option kLongOptions[] = {
    {"file", vornopt::required_argument, nullptr, 'f'},
    {"warning", vornopt::required_argument, nullptr, 'w'},
    {"critical", vornopt::required_argument, nullptr, 'c'},
    {"timeout", vornopt::required_argument, nullptr, 't'},
    {"key-file", vornopt::required_argument, nullptr, 'k'},
    {"socket", vornopt::required_argument, nullptr, 'S'},
    {"allow-cleartext", vornopt::no_argument, nullptr, 'a'},
    {"mode", vornopt::required_argument, nullptr, 'm'},
    {"owner", vornopt::required_argument, nullptr, 'o'},
    {"ignore", vornopt::required_argument, nullptr, 'i'},
    {"verbose", vornopt::no_argument, nullptr, 'v'},
    {"version", vornopt::no_argument, nullptr, 'V'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};
// clang-format on

// "VORN UNKNOWN - check_vorn: " and why, then the usage; returns kStateUnknown.
int refuse(const char* why, const char* what) {
  std::printf("VORN UNKNOWN - check_vorn: %s%s\n%s", why, what, kUsage);
  std::fflush(stdout);
  return kStateUnknown;
}

bool parseTimeout(char* arg, Settings* s) {
  char* colon = std::strchr(arg, ':');
  if (colon != nullptr) {
    s->timeout_state = stateNamed(colon + 1);
    *colon = '\0';
  }
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(arg, &end, 10);
  bool ok = end != arg && *end == '\0' && errno == 0 && value >= 1 && value <= kMaxLoginTimeout;
  if (colon != nullptr) *colon = ':';
  s->login.timeout = static_cast<unsigned>(ok ? value : 10);
  return ok && s->timeout_state >= 0;
}

bool parseMode(const char* arg, Settings* s) {
  char* end = nullptr;
  long value = std::strtol(arg, &end, 8);
  s->mode = static_cast<int>(value);
  return end != arg && *end == '\0' && arg[0] != '-' && arg[0] != '+' && value <= 07777;
}

bool parseOwner(const char* arg, Settings* s) {
  s->owner_name = arg;
  if (arg[0] != '\0' && std::strspn(arg, "0123456789") == std::strlen(arg)) {
    errno = 0;
    unsigned long uid = std::strtoul(arg, nullptr, 10);
    s->owner = static_cast<uid_t>(uid);
    // (uid_t)-1 is no user: chown takes it for "unchanged".
    return errno == 0 && uid < static_cast<unsigned long>(static_cast<uid_t>(-1));
  }
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buf[4096];
  if (arg[0] == '\0' || getpwnam_r(arg, &entry, buf, sizeof buf, &found) != 0 || found == nullptr) return false;
  s->owner = found->pw_uid;
  return true;
}

bool parseIgnore(const char* arg, Settings* s) {
  for (const char* at = arg;; at++) {
    size_t n = std::strcspn(at, ",");
    if (n == 4 && std::strncmp(at, "lock", 4) == 0) {
      s->ignore_lock = true;
    } else if (n == 4 && std::strncmp(at, "mode", 4) == 0) {
      s->ignore_mode = true;
    } else if (n == 5 && std::strncmp(at, "owner", 5) == 0) {
      s->ignore_owner = true;
    } else {
      return false;
    }
    at += n;
    if (*at == '\0') return true;
  }
}

// Takes option c with its argument; null when it is taken, else why not.
const char* takeOption(int c, char* arg, Settings* s) {
  switch (c) {
    case 'f':
      s->file = arg;
      return arg[0] == '\0' ? "--file needs a path" : nullptr;
    case 'k':
      s->key_file = arg;
      return arg[0] == '\0' ? "--key-file needs a path" : nullptr;
    case 'S':
      s->login.socket = arg;
      return arg[0] == '\0' ? "--socket needs a path" : nullptr;
    case 'a':
      s->login.allow_cleartext = true;
      return nullptr;
    case 'v':
      s->verbose++;
      return nullptr;
    case 'w':
      return parseRange(arg, &s->warning) ? nullptr : "--warning needs a range such as 1, 1:, ~:1, 1:2 or @1:2";
    case 'c':
      return parseRange(arg, &s->critical) ? nullptr : "--critical needs a range such as 1, 1:, ~:1, 1:2 or @1:2";
    case 't':
      return parseTimeout(arg, s)
                 ? nullptr
                 : "--timeout needs SECONDS from 1 to 86400, then optionally :ok, :warning, :critical or :unknown";
    case 'm':
      return parseMode(arg, s) ? nullptr : "--mode needs an octal mode such as 0444";
    case 'o':
      return parseOwner(arg, s) ? nullptr : "--owner needs a user name or a uid of this system";
    case 'i':
      return parseIgnore(arg, s) ? nullptr : "--ignore takes lock, mode and owner, separated by commas";
    default:
      return "unexpected option";
  }
}

}  // namespace

int parsePluginOptions(int argc, char** argv, Settings* s) {
  vornopt::opterr = 0;
  for (;;) {
    int c = vornopt::_getopt_long(argc, argv, ":f:w:c:t:k:S:m:o:i:vVh", kLongOptions, nullptr);
    if (c == -1) break;
    if (c == 'h') return std::printf("%s%s", kUsage, kHelp) < 0 || std::fflush(stdout) != 0 ? kStateUnknown : 0;
    if (c == 'V')
      return std::printf("check_vorn (vorn %s)\n", VORN_VERSION) < 0 || std::fflush(stdout) != 0 ? kStateUnknown : 0;
    if (c == ':') return refuse("an option needs a value: ", argv[vornopt::optind - 1]);
    if (c == '?') return refuse("unknown or ambiguous option: ", argv[vornopt::optind - 1]);
    const char* why = takeOption(c, vornopt::optarg, s);
    if (why != nullptr) return refuse(why, "");
  }
  if (vornopt::optind < argc) return refuse("unexpected argument: ", argv[vornopt::optind]);
  if (s->file == nullptr) return refuse("-f FILE is required", "");
  return -1;
}
