// vorn_dbcheck: says whether the MariaDB connection that a configuration file
// describes works. The file is read and checked exactly as vorn_show does; then
// the program logs in with MariaDB Connector/C and opens the database, prints
// one line on success or one line with the client library's error on failure,
// and ends. It writes nothing and changes nothing on the server, and the
// password appears in no message. It logs in only with authentication plugins
// that keep the password from the server, unless told otherwise, and a watchdog
// ends the whole check when it outlasts the timeout.
#include <errmsg.h>
#include <errno.h>
#include <mysql.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "chores.h"
#include "display.h"
#include "secrets.h"
#include "config_check.h"
#include "config_read.h"
#include "config_text.h"
#include "tool_options.h"

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

// The library keeps its timeouts in milliseconds in an int: a day keeps far
// below that limit and above any wait an administrator means.
constexpr long kMaxTimeoutSeconds = 86400;
constexpr unsigned kDefaultTimeoutSeconds = 10;
constexpr long kMaxTcpPort = 65535;

// The authentication plugins the client may use. Challenge-response
// (mysql_native_password) and a signature (client_ed25519) prove the password
// without giving it away: a host that only plays the server gets an answer to
// its own challenge, never the password. The first answer is always a native
// one, so the plugin that a greeting names is used only when the server asks
// for it again, and then only if it is allowed.
constexpr char kFirstPlugin[] = "mysql_native_password";
constexpr char kSafePlugins[] = "mysql_native_password,client_ed25519";
// With --allow-cleartext, also those that give the password to whoever is at the
// other end: in clear (mysql_clear_password, dialog: PAM and LDAP logins), or
// encrypted under a public key that the other end supplies, or in clear inside
// TLS that it terminates (sha256_password, caching_sha2_password).
constexpr char kAllPlugins[] =
    "mysql_native_password,client_ed25519,mysql_clear_password,dialog,sha256_password,caching_sha2_password";

struct Settings {
  const char* key_file = nullptr;
  const char* socket = nullptr;
  unsigned timeout = kDefaultTimeoutSeconds;
  bool allow_cleartext = false;
  const char* file = nullptr;
};

bool takeOption(int c, const char* arg, void* context) {
  Settings* s = static_cast<Settings*>(context);
  if (c == 't') {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(arg, &end, 10);
    if (end == arg || *end != '\0' || errno != 0 || value < 1 || value > kMaxTimeoutSeconds) {
      std::fprintf(stderr, "vorn_dbcheck: --timeout needs a number of seconds from 1 to %ld\n", kMaxTimeoutSeconds);
      return false;
    }
    s->timeout = static_cast<unsigned>(value);
  } else if (c == 'c') {
    s->allow_cleartext = true;
  } else if (arg[0] == '\0') {
    std::fprintf(stderr, "vorn_dbcheck: %s needs a path\n", c == 'k' ? "--key-file" : "--socket");
    return false;
  } else {
    (c == 'k' ? s->key_file : s->socket) = arg;
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

// How a value from the file or from the server, and a file's name, is
// printed: control characters (a carriage return, an escape sequence, a C1
// control) and bytes outside UTF-8 are shown as '?', so that the report stays
// one line and cannot steer the terminal.
constexpr DisplayForm kShownAs = kDisplayQuestionMark;

void putShown(FILE* out, std::string_view text) { putDisplayed(out, text.data(), text.size(), kShownAs); }

// A connection value as a NUL-terminated text; values are shorter than a line.
struct Value {
  char text[kLineSize];
};

void copyValue(Value* v, std::string_view from) {
  size_t n = from.size() < sizeof v->text ? from.size() : sizeof v->text - 1;
  std::memcpy(v->text, from.data(), n);
  v->text[n] = '\0';
}

// One login to try: the file's values and where they lead.
struct Login {
  const char* file;  // as shown
  const Value* host;
  const Value* user;
  Value* password;
  const Value* dbname;
  const Value* port;
  bool via_socket;
  const char* socket;
  long port_no;
};

// How a login ended, kept past the end of the connection: the server's version,
// or the library's error.
struct Outcome {
  bool connected;
  unsigned error;
  char text[MYSQL_ERRMSG_SIZE];
};

// The watchdog's state, set before it is armed: its message, written out whole
// beforehand so that the handler only copies it, and the password it wipes.
char g_timeout_message[2 * PATH_MAX + 512];
size_t g_timeout_length = 0;
char* g_password = nullptr;

}  // namespace

// The watchdog: the check outlasted its timeout, wherever it waits (a name
// lookup, a server that trickles its answer). Only async-signal-safe steps.
extern "C" {
static void onTimeout(int /*signal*/) {
  if (g_password != nullptr) wipe(g_password, kLineSize);
  ssize_t n = write(STDERR_FILENO, g_timeout_message, g_timeout_length);
  (void)n;
  _exit(1);
}
}

namespace {

// "HOST port PORT" or "localhost socket PATH", then " as USER".
void putTarget(FILE* out, const Login& l) {
  putShown(out, l.host->text);
  std::fputs(l.via_socket ? " socket " : " port ", out);
  putShown(out, l.via_socket ? l.socket : l.port->text);
  std::fputs(" as ", out);
  putShown(out, l.user->text);
}

// Prepares the watchdog's message and arms it to end the check one second after
// the timeout: the library's own waits, each limited to the timeout, report
// first; the watchdog bounds everything else. False when it cannot be armed.
bool armWatchdog(const Login& l, unsigned seconds) {
  FILE* m = fmemopen(g_timeout_message, sizeof g_timeout_message, "w");
  if (m == nullptr) return false;
  std::fprintf(m, "%s: cannot connect to ", l.file);
  putTarget(m, l);
  std::fprintf(m, ": not done within the timeout of %u s; given up\n", seconds);
  long n = std::ftell(m);
  std::fclose(m);
  if (n <= 0) return false;
  g_timeout_length = std::min(static_cast<size_t>(n), sizeof g_timeout_message - 1);
  g_timeout_message[g_timeout_length - 1] = '\n';  // a cut message still ends its line
  g_password = l.password->text;
  struct sigaction action {};
  action.sa_handler = onTimeout;
  sigemptyset(&action.sa_mask);
  // A signal mask inherited from the caller could hold the alarm back.
  sigset_t alarm_only;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  if (sigaction(SIGALRM, &action, nullptr) != 0 || sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr) != 0) return false;
  alarm(seconds + 1);
  return true;
}

// The client library takes the folder of its plugins from the caller's
// environment (MARIADB_PLUGIN_DIR, in older versions LIBMYSQL_PLUGIN_DIR) and
// loads those that LIBMYSQL_PLUGINS lists as it starts: a plugin's code runs
// as soon as it is loaded, before any check of the name, with the password in
// memory. The variables are dropped before the library starts, and setOptions
// names the folder the library was built with.
void dropPluginEnvironment() {
  static const char* const kVariables[] = {"MARIADB_PLUGIN_DIR", "LIBMYSQL_PLUGIN_DIR", "LIBMYSQL_PLUGINS"};
  for (const char* name : kVariables) unsetenv(name);
}

// The library's own plugin folder, its timeouts, the transport, and the
// authentication plugins that s allows. False when the library refuses one:
// the login is not tried then, so that it never goes ahead without the
// restriction. The package requires a library that knows every option, so
// only memory can be short.
bool setOptions(MYSQL* db, const Settings& s, bool via_socket) {
  unsigned timeout = s.timeout;
  unsigned protocol = via_socket ? MYSQL_PROTOCOL_SOCKET : MYSQL_PROTOCOL_TCP;
  return mysql_options(db, MYSQL_PLUGIN_DIR, MARIADB_PLUGINDIR) == 0 &&
         mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout) == 0 &&
         mysql_options(db, MYSQL_OPT_READ_TIMEOUT, &timeout) == 0 &&
         mysql_options(db, MYSQL_OPT_WRITE_TIMEOUT, &timeout) == 0 &&
         mysql_options(db, MYSQL_OPT_PROTOCOL, &protocol) == 0 &&
         mysql_options(db, MYSQL_DEFAULT_AUTH, kFirstPlugin) == 0 &&
         mysql_options(db, MARIADB_OPT_RESTRICTED_AUTH, s.allow_cleartext ? kAllPlugins : kSafePlugins) == 0;
}

// Tries the login under the watchdog, which is disarmed once the library is
// done, and keeps how it ended in *o. The password is wiped right after. False,
// after saying so, when the attempt could not be set up.
bool attempt(const Login& l, const Settings& s, Outcome* o) {
  dropPluginEnvironment();
  MYSQL* db = mysql_init(nullptr);
  bool ready = db != nullptr && setOptions(db, s, l.via_socket) && armWatchdog(l, s.timeout);
  if (ready) {
    o->connected = mysql_real_connect(db, l.host->text, l.user->text, l.password->text, l.dbname->text,
                                      l.via_socket ? 0 : static_cast<unsigned>(l.port_no),
                                      l.via_socket ? l.socket : nullptr, 0) != nullptr;
    o->error = mysql_errno(db);
    const char* text = o->connected ? mysql_get_server_info(db) : mysql_error(db);
    formatText(o->text, sizeof o->text, "%s", text != nullptr ? text : "");
  }
  wipe(l.password->text, sizeof l.password->text);
  if (db != nullptr) mysql_close(db);
  mysql_library_end();
  alarm(0);
  if (!ready) std::fputs("vorn_dbcheck: out of memory\n", stderr);
  return ready;
}

// The answer in one line: the server's version on standard output, or why not
// on standard error. Returns the exit status.
int report(const Login& l, const Settings& s, const Outcome& o) {
  bool refused = !o.connected && o.error == CR_PLUGIN_NOT_ALLOWED;
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
    std::fputs(s.allow_cleartext ? ": the server asks for an authentication plugin that vorn_dbcheck does not use;"
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
  const Value* host = &values[kHostField];
  const Value* port = &values[kPortField];
  // As with every MariaDB client, the host "localhost" means the local server's
  // socket; the library's own default path unless --socket names another.
  bool via_socket = std::strcmp(host->text, "localhost") == 0;
  Login l = {.file = file,
             .host = host,
             .user = &values[kUserField],
             .password = &values[kPasswordField],
             .dbname = &values[kDbField],
             .port = port,
             .via_socket = via_socket,
             .socket = s.socket != nullptr ? s.socket : MARIADB_UNIX_ADDR,
             .port_no = std::strtol(port->text, nullptr, 10)};
  // The resolver would take a larger number modulo 65536 and reach another port.
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
  const ShownName name = shownName(file, kShownAs);
  static char text[kConfigFileMax + 1];
  size_t len = 0;
  if (readConfigFile(file, s.key_file, kShownAs, text, &len) != 0) return kReadFailed;
  ConnectionValues found{};
  int faults = checkConfigText(name.text, text, len, &found, stderr);

  // The product has nothing to connect with when a line is absent: name each,
  // guess nothing and try nothing.
  Value values[kConnectionLineCount];
  bool complete = faults == 0;
  for (size_t i = 0; faults == 0 && i < kConnectionLineCount; i++) {
    if (found.value[i] == nullptr) {
      std::fprintf(stderr, "%s: no %s line; cannot connect without it\n", name.text, kConnectionLines[i].key);
      complete = false;
    } else {
      copyValue(&values[i], std::string_view(found.value[i], found.length[i]));
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
