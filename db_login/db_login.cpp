#include "db_login.h"

#include <errmsg.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "chores.h"

namespace {

// The authentication plugins the client may use. Challenge-response
// (mysql_native_password) and a signature (client_ed25519) prove the password
// without giving it away: a host that only plays the server gets an answer to
// its own challenge, never the password. The first answer is always a native
// one, so the plugin that a greeting names is used only when the server asks
// for it again, and then only if it is allowed.
constexpr char kFirstPlugin[] = "mysql_native_password";
constexpr char kSafePlugins[] = "mysql_native_password,client_ed25519";
// With allow_cleartext, also those that give the password to whoever is at the
// other end: in clear (mysql_clear_password, dialog: PAM and LDAP logins), or
// encrypted under a public key that the other end supplies, or in clear inside
// TLS that it terminates (sha256_password, caching_sha2_password).
constexpr char kAllPlugins[] =
    "mysql_native_password,client_ed25519,mysql_clear_password,dialog,sha256_password,caching_sha2_password";

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
bool setOptions(MYSQL* db, const LoginSettings& s, bool via_socket) {
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

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

bool takeConnectionValue(const ConnectionValues& found, size_t field, Value* value) {
  value->text[0] = '\0';
  if (found.value[field] == nullptr) return false;
  size_t n = found.length[field] < sizeof value->text ? found.length[field] : sizeof value->text - 1;
  std::memcpy(value->text, found.value[field], n);
  value->text[n] = '\0';
  return true;
}

Login loginFor(const char* file, Value* values, const LoginSettings& s) {
  const Value* host = &values[kHostField];
  const Value* port = &values[kPortField];
  bool via_socket = std::strcmp(host->text, "localhost") == 0;
  return {.file = file,
          .host = host,
          .user = &values[kUserField],
          .password = &values[kPasswordField],
          .dbname = &values[kDbField],
          .port = port,
          .via_socket = via_socket,
          .socket = s.socket != nullptr ? s.socket : MARIADB_UNIX_ADDR,
          .port_no = std::strtol(port->text, nullptr, 10)};
}

bool refusedPlugin(const Outcome& o) { return !o.connected && o.error == CR_PLUGIN_NOT_ALLOWED; }

bool attemptLogin(const Login& l, const LoginSettings& s, Outcome* o) {
  dropPluginEnvironment();
  MYSQL* db = mysql_init(nullptr);
  bool ready = db != nullptr && setOptions(db, s, l.via_socket);
  if (ready) {
    double start = now();
    o->connected = mysql_real_connect(db, l.host->text, l.user->text, l.password->text, l.dbname->text,
                                      l.via_socket ? 0 : static_cast<unsigned>(l.port_no),
                                      l.via_socket ? l.socket : nullptr, 0) != nullptr;
    o->seconds = now() - start;
    o->error = mysql_errno(db);
    const char* text = o->connected ? mysql_get_server_info(db) : mysql_error(db);
    formatText(o->text, sizeof o->text, "%s", text != nullptr ? text : "");
  }
  wipe(l.password->text, sizeof l.password->text);
  if (db != nullptr) mysql_close(db);
  mysql_library_end();
  return ready;
}

void putShown(FILE* out, const char* text) { putDisplayed(out, text, std::strlen(text), kLoginShownAs); }

void putTarget(FILE* out, const Login& l) {
  putShown(out, l.host->text);
  std::fputs(l.via_socket ? " socket " : " port ", out);
  putShown(out, l.via_socket ? l.socket : l.port->text);
  std::fputs(" as ", out);
  putShown(out, l.user->text);
}
