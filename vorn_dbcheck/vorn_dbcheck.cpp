// vorn_dbcheck: says whether the MariaDB connection that a configuration file
// describes works. The file is read and checked exactly as vorn_show does; then
// the program logs in with MariaDB Connector/C and opens the database, prints
// one line on success or one line with the client library's error on failure,
// and ends. It writes nothing and changes nothing on the server, and the
// password appears in no message.
#include <errno.h>
#include <mysql.h>
#include <string.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "chores.h"
#include "display.h"
#include "config_check.h"
#include "config_read.h"
#include "config_text.h"
#include "tool_options.h"

namespace {

const char kUsage[] =
    "Usage: vorn_dbcheck [-k PATH|--key-file=PATH] [-S PATH|--socket=PATH] [-t SECONDS|--timeout=SECONDS] [FILE]\n"
    "Connects to the MariaDB server that the configuration FILE (default: $HOME/.vorn_sql,\n"
    "plain or encrypted) names, as its user, and opens its database. Changes nothing.\n"
    "  -k, --key-file=PATH    decrypt with the key file PATH instead of the fixed one\n"
    "  -S, --socket=PATH      the local server's socket, for the host localhost\n"
    "  -t, --timeout=SECONDS  limit for connecting, reading and writing (1 to 86400; default 10)\n"
    "  -h, --help             print this help\n"
    "Exit status: 0 connected, 1 not valid, a connection line missing or no connection,\n"
    "2 not read (usage, file, key or content).\n";

const vornopt::option kLongOptions[] = {
    {"key-file", vornopt::required_argument, nullptr, 'k'},
    {"socket", vornopt::required_argument, nullptr, 'S'},
    {"timeout", vornopt::required_argument, nullptr, 't'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// The library keeps its timeouts in milliseconds in an int: a day keeps far
// below that limit and above any wait an administrator means.
constexpr long kMaxTimeoutSeconds = 86400;
constexpr unsigned kDefaultTimeoutSeconds = 10;
constexpr long kMaxTcpPort = 65535;

struct Settings {
  const char* key_file = nullptr;
  const char* socket = nullptr;
  unsigned timeout = kDefaultTimeoutSeconds;
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

// Prints a value from the file or from the server on one line: control
// characters (a carriage return, an escape sequence, a C1 control) and bytes
// outside UTF-8 are shown as '?', so that the report stays one line and cannot
// steer the terminal.
void putShown(FILE* out, std::string_view text) { putDisplayed(out, text.data(), text.size(), kDisplayQuestionMark); }

// A connection value as a NUL-terminated text; values are shorter than a line.
struct Value {
  char text[kLineSize];
};

void copyValue(Value* v, std::string_view from) {
  size_t n = from.size() < sizeof v->text ? from.size() : sizeof v->text - 1;
  std::memcpy(v->text, from.data(), n);
  v->text[n] = '\0';
}

// The value of the connection line KEY, whatever the order of the table.
Value* byKey(Value* values, const char* key) {
  size_t i = 0;
  while (i + 1 < kConnectionLineCount && std::strcmp(kConnectionLines[i].key, key) != 0) i++;
  return &values[i];
}

// "HOST port PORT" or "localhost socket PATH", then " as USER".
void putTarget(FILE* out, const char* host, bool via_socket, const char* port, const char* socket, const char* user) {
  putShown(out, host);
  std::fputs(via_socket ? " socket " : " port ", out);
  putShown(out, via_socket ? socket : port);
  std::fputs(" as ", out);
  putShown(out, user);
}

// Connects with the library's timeouts; null when it fails (db then holds why).
MYSQL* connect(MYSQL* db, const Settings& s, const Value& host, const Value& user, const Value& password,
               const Value& dbname, bool via_socket, const char* socket, long port_no) {
  unsigned timeout = s.timeout;
  unsigned protocol = via_socket ? MYSQL_PROTOCOL_SOCKET : MYSQL_PROTOCOL_TCP;
  mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_OPT_READ_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_OPT_PROTOCOL, &protocol);
  return mysql_real_connect(db, host.text, user.text, password.text, dbname.text,
                            via_socket ? 0 : static_cast<unsigned>(port_no), via_socket ? socket : nullptr, 0);
}

// Connects and reports; returns the exit status.
int tryConnection(const char* file, const Settings& s, Value* host, Value* user, Value* password, Value* dbname,
                  Value* port) {
  // As with every MariaDB client, the host "localhost" means the local server's
  // socket; the library's own default path unless --socket names another.
  bool via_socket = std::strcmp(host->text, "localhost") == 0;
  const char* socket = s.socket != nullptr ? s.socket : MARIADB_UNIX_ADDR;
  long port_no = std::strtol(port->text, nullptr, 10);
  // The resolver would take a larger number modulo 65536 and reach another port.
  if (!via_socket && port_no > kMaxTcpPort) {
    std::fprintf(stderr, "%s: PORTNO %ld is not a TCP port (at most %ld); no connection tried\n", file, port_no,
                 kMaxTcpPort);
    return 1;
  }
  MYSQL* db = mysql_init(nullptr);
  if (db == nullptr) {
    std::fputs("vorn_dbcheck: out of memory\n", stderr);
    return 1;
  }
  bool connected = connect(db, s, *host, *user, *password, *dbname, via_socket, socket, port_no) != nullptr;
  wipe(password->text, sizeof password->text);
  FILE* out = connected ? stdout : stderr;
  if (connected) {
    std::fputs("Connected to ", out);
  } else {
    std::fprintf(out, "%s: cannot connect to ", file);
  }
  putTarget(out, host->text, via_socket, port->text, socket, user->text);
  if (connected) {
    std::fputs(", database ", out);
    putShown(out, dbname->text);
    std::fputs(", server ", out);
    putShown(out, mysql_get_server_info(db));
  } else {
    std::fprintf(out, ": error %u: ", mysql_errno(db));
    putShown(out, mysql_error(db));
  }
  std::fputc('\n', out);
  mysql_close(db);
  mysql_library_end();
  if (std::fflush(stdout) != 0 && connected) {
    std::perror("vorn_dbcheck: standard output");
    return 1;
  }
  return connected ? 0 : 1;
}

// Reads and checks the file as vorn_show does, then connects with its values.
int checkAndConnect(const Settings& s) {
  char default_path[PATH_MAX];
  const char* file = s.file;
  if (file == nullptr) {
    if (!defaultConfigPath(default_path, sizeof default_path)) return kReadFailed;
    file = default_path;
  }
  static char text[kConfigFileMax + 1];
  size_t len = 0;
  if (readConfigFile(file, s.key_file, text, &len) != 0) return kReadFailed;
  ConnectionValues found{};
  int faults = checkConfigText(file, text, len, &found, stderr);

  // The product has nothing to connect with when a line is absent: name each,
  // guess nothing and try nothing.
  Value values[kConnectionLineCount];
  bool complete = faults == 0;
  for (size_t i = 0; faults == 0 && i < kConnectionLineCount; i++) {
    if (found.value[i] == nullptr) {
      std::fprintf(stderr, "%s: no %s line; cannot connect without it\n", file, kConnectionLines[i].key);
      complete = false;
    } else {
      copyValue(&values[i], std::string_view(found.value[i], found.length[i]));
    }
  }
  wipe(text, sizeof text);
  int status = 1;
  if (complete) {
    status = tryConnection(file, s, byKey(values, "HOSTNAME"), byKey(values, "USERNAME"), byKey(values, "PASSWORD"),
                           byKey(values, "DBNAME"), byKey(values, "PORTNO"));
  }
  wipe(values, sizeof values);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  int status = parseCommandLine(argc, argv, &s);
  if (status >= 0) return status;
  status = checkAndConnect(s);
  return status;
}
