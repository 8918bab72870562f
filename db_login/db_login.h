// Logging in to the MariaDB server that a configuration names, with MariaDB
// Connector/C, as vorn_dbcheck and check_vorn do: only with authentication
// plugins that keep the password from the server unless told otherwise, the
// client library's plugins only from its own folder, each wait limited, and the
// password wiped right after. Nothing is sent but the login and the choice of
// the database.
#pragma once

#include <mysql.h>

#include <cstdio>

#include "config_check.h"
#include "config_text.h"
#include "display.h"

// How a value from the file or from the server, and a file's name, is shown
// in a connection's report: control characters and bytes outside UTF-8 as '?',
// so that the report stays one line and cannot steer a terminal.
constexpr DisplayForm kLoginShownAs = kDisplayQuestionMark;

// The largest TCP port; the resolver would take a larger number modulo 65536
// and reach another port.
constexpr long kMaxTcpPort = 65535;

// A connection value as a NUL-terminated text; values are shorter than a line.
struct Value {
  char text[kLineSize];
};

// Copies the value found for the connection field into *value; false, with
// *value empty, when its line is absent.
bool takeConnectionValue(const ConnectionValues& found, size_t field, Value* value);

// The library keeps its timeouts in milliseconds in an int: a day keeps far
// below that limit and above any wait an administrator means.
constexpr long kMaxLoginTimeout = 86400;

// How the login is made.
struct LoginSettings {
  const char* socket;    // the local server's socket for the host localhost; null: the library's
  unsigned timeout;      // seconds, each wait of the library: 1 to kMaxLoginTimeout
  bool allow_cleartext;  // also the plugins that hand the server the password
};

// One login to try: the file's values and where they lead.
struct Login {
  const char* file;  // as shown
  const Value* host;
  const Value* user;
  Value* password;
  const Value* dbname;
  const Value* port;
  bool via_socket;  // the host localhost: the local socket, as with every MariaDB client
  const char* socket;
  long port_no;
};

// The login for values (by field) from the file shown as file.
Login loginFor(const char* file, Value* values, const LoginSettings& s);

// How a login ended, kept past the end of the connection: the server's version,
// or the library's error, and the time it took.
struct Outcome {
  bool connected;
  unsigned error;
  char text[MYSQL_ERRMSG_SIZE];
  double seconds;  // from the start of the connection to the database opened or the failure
};

// Whether the server asked for an authentication plugin that s does not allow.
bool refusedPlugin(const Outcome& o);

// Tries the login and keeps how it ended in *o; the password is wiped right
// after. The caller arms the watchdog (watchdog.h) first. False when the
// attempt could not be set up (the library refused an option: memory is short).
bool attemptLogin(const Login& l, const LoginSettings& s, Outcome* o);

// Writes "HOST port PORT" or "localhost socket PATH", then " as USER", each
// value shown in kLoginShownAs.
void putTarget(FILE* out, const Login& l);

// Writes text shown in kLoginShownAs.
void putShown(FILE* out, const char* text);
