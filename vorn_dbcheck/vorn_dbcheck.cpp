// vorn_dbcheck: says whether the MariaDB connection that a configuration file
// describes works. The file is read and checked exactly as vorn_show does; then
// the program logs in with MariaDB Connector/C and opens the database, prints
// one line on success or one line with the client library's error on failure,
// and ends. It writes nothing and changes nothing on the server, and the
// password appears in no message. It logs in only with authentication plugins
// that keep the password from the server, unless told otherwise, and a watchdog
// ends the whole check when it outlasts the timeout.
#include <errno.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chores.h"
#include "secrets.h"
#include "config_check.h"
#include "config_read.h"
#include "config_text.h"
#include "tool_options.h"
#include "db_login.h"
#include "watchdog.h"

namespace {

const char kUsage[] =
    "Usage: vorn_dbcheck [-k PATH|--key-file=PATH] [-S PATH|--socket=PATH] [-t SECONDS|--timeout=SECONDS]\n"
    "                    [--allow-cleartext] [FILE]\n"
    "Connects to the MariaDB server that the configuration FILE (default: $HOME/.vorn_sql,\n"
    "plain or encrypted) names, as its user, and opens its database. Changes nothing.\n"
    "  -k, --key-file=PATH    decrypt with the key file PATH instead of the fixed one\n"
    "  -S, --socket=PATH      the local server's socket, for the host localhost\n"
    "  -t, --timeout=SECONDS  limit for each wait and, a second later, the whole check\n"
    "                         (1 to 86400; default 10)\n"
    "      --allow-cleartext  also log in where the server asks for the password itself\n"
    "                         (PAM, LDAP): the server then receives it\n"
    "  -h, --help             print this help\n"
    "Exit status: 0 connected, 1 not valid, a connection line missing or no connection,\n"
    "2 not read (usage, file, key or content).\n";

// clang-format off
const vornopt::option kLongOptions[] = {
    {"key-file", vornopt::required_argument, nullptr, 'k'},
    {"socket", vornopt::required_argument, nullptr, 'S'},
    {"timeout", vornopt::required_argument, nullptr, 't'},
    {"allow-cleartext", vornopt::no_argument, nullptr, 'c'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};
// clang-format on

constexpr unsigned kDefaultTimeoutSeconds = 10;

struct Settings {
  const char* key_file = nullptr;
  LoginSettings login = {.socket = nullptr, .timeout = kDefaultTimeoutSeconds, .allow_cleartext = false};
  const char* file = nullptr;
};

bool takeOption(int c, const char* arg, void* context) {
  Settings* s = static_cast<Settings*>(context);
  if (c == 't') {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(arg, &end, 10);
    if (end == arg || *end != '\0' || errno != 0 || value < 1 || value > kMaxLoginTimeout) {
      std::fprintf(stderr, "vorn_dbcheck: --timeout needs a number of seconds from 1 to %ld\n", kMaxLoginTimeout);
      return false;
    }
    s->login.timeout = static_cast<unsigned>(value);
  } else if (c == 'c') {
    s->login.allow_cleartext = true;
  } else if (arg[0] == '\0') {
    std::fprintf(stderr, "vorn_dbcheck: %s needs a path\n", c == 'k' ? "--key-file" : "--socket");
    return false;
  } else {
    (c == 'k' ? s->key_file : s->login.socket) = arg;
  }
  return true;
}

// Returns -1 to go on, else the exit status of a run that ends here.
int parseCommandLine(int argc, char** argv, Settings* s) {
  static const ToolCommandLine kCommandLine = {
      .short_options = "k:S:t:h", .long_options = kLongOptions, .usage = kUsage, .help_failed_status = kReadFailed};
  int status = parseToolOptions(argc, argv, kCommandLine, takeOption, s);
  if (status >= 0) return status;
  if (argc - vornopt::optind > 1) {
    std::fputs("vorn_dbcheck: one FILE at most\n", stderr);
    return usageError(kUsage);
  }
  if (argc - vornopt::optind == 1) s->file = argv[vornopt::optind];
  return -1;
}

// Prepares the watchdog's message and arms it to end the check one second after
// the timeout: the library's own waits, each limited to the timeout, report
// first; the watchdog bounds everything else. False when it cannot be armed.
bool armWatchdog(const Login& l, unsigned seconds) {
  FILE* m = watchdogMessage();
  if (m == nullptr) return false;
  std::fprintf(m, "%s: cannot connect to ", l.file);
  putTarget(m, l);
  std::fprintf(m, ": not done within the timeout of %u s; given up\n", seconds);
  if (!watchdogSetMessage(m)) return false;
  watchdogWipes(l.password->text, sizeof l.password->text);
  return watchdogArm(seconds + 1, STDERR_FILENO, 1);
}

// Tries the login under the watchdog, which is disarmed once the library is
// done, and keeps how it ended in *o. The password is wiped right after. False,
// after saying so, when the attempt could not be set up.
bool attempt(const Login& l, const Settings& s, Outcome* o) {
  bool ready = armWatchdog(l, s.login.timeout) && attemptLogin(l, s.login, o);
  wipe(l.password->text, sizeof l.password->text);
  watchdogDisarm();
  if (!ready) std::fputs("vorn_dbcheck: out of memory\n", stderr);
  return ready;
}

// The answer in one line: the server's version on standard output, or why not
// on standard error. Returns the exit status.
int report(const Login& l, const Settings& s, const Outcome& o) {
  bool refused = refusedPlugin(o);
  FILE* out = o.connected ? stdout : stderr;
  if (o.connected) {
    std::fputs("Connected to ", out);
  } else {
    std::fprintf(out, refused ? "%s: refused to log in to " : "%s: cannot connect to ", l.file);
  }
  putTarget(out, l);
  if (o.connected) {
    std::fputs(", database ", out);
    putShown(out, l.dbname->text);
    std::fputs(", server ", out);
    putShown(out, o.text);
  } else if (refused) {
    // Said in own words: the library's text may name another plugin than the
    // one the server asked for.
    std::fputs(s.login.allow_cleartext
                   ? ": the server asks for an authentication plugin that vorn_dbcheck does not use;"
                     " the password was not sent"
                   : ": the server asks for an authentication plugin other than mysql_native_password"
                     " and client_ed25519, which keep the password from it; the password was not sent"
                     " (see --allow-cleartext)",
               out);
  } else {
    std::fprintf(out, ": error %u: ", o.error);
    putShown(out, o.text);
  }
  std::fputc('\n', out);
  if (std::fflush(stdout) != 0 && o.connected) {
    std::perror("vorn_dbcheck: standard output");
    return 1;
  }
  return o.connected ? 0 : 1;
}

// Connects with the file's values (by field) and reports, naming the file as
// file; returns the exit status.
int tryConnection(const char* file, const Settings& s, Value* values) {
  Login l = loginFor(file, values, s.login);
  if (!l.via_socket && l.port_no > kMaxTcpPort) {
    std::fprintf(stderr, "%s: PORTNO %ld is not a TCP port (at most %ld); no connection tried\n", file, l.port_no,
                 kMaxTcpPort);
    return 1;
  }
  Outcome o{};
  if (!attempt(l, s, &o)) return 1;
  return report(l, s, o);
}

// Reads and checks the file as vorn_show does, then connects with its values.
int checkAndConnect(const Settings& s) {
  char default_path[PATH_MAX];
  const char* file = s.file;
  if (file == nullptr) {
    if (!defaultConfigPath(default_path, sizeof default_path)) return kReadFailed;
    file = default_path;
  }
  const ShownName name = shownName(file, kLoginShownAs);
  static char text[kConfigFileMax + 1];
  size_t len = 0;
  if (readConfigFile(file, s.key_file, kLoginShownAs, text, &len) != 0) return kReadFailed;
  ConnectionValues found{};
  int faults = checkConfigText(name.text, text, len, &found, stderr);

  // The product has nothing to connect with when a line is absent: name each,
  // guess nothing and try nothing.
  Value values[kConnectionLineCount];
  bool complete = faults == 0;
  for (size_t i = 0; faults == 0 && i < kConnectionLineCount; i++) {
    if (!takeConnectionValue(found, i, &values[i])) {
      std::fprintf(stderr, "%s: no %s line; cannot connect without it\n", name.text, kConnectionLines[i].key);
      complete = false;
    }
  }
  wipe(text, sizeof text);
  int status = 1;
  if (complete) {
    status = tryConnection(name.text, s, values);
  }
  wipe(values, sizeof values);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  keepSecretsOutOfDumps();
  Settings s;
  int status = parseCommandLine(argc, argv, &s);
  if (status >= 0) return status;
  status = checkAndConnect(s);
  return status;
}
