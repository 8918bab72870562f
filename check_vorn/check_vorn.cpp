// check_vorn: a monitoring plugin for Nagios, Icinga, Naemon, Checkmk and
// Zabbix. It checks the configuration file that the product connects with:
// the file is there, read-only, owned as expected and locked; its key file
// loads (encrypted files); its text is what vorn_sql writes; and the MariaDB
// server accepts its login and opens its database, in how long. It reads and
// checks the file as vorn_show does and logs in as vorn_dbcheck does, then
// reports in the plugins' form (plugin_report.h). The password never leaves
// the process; a watchdog ends the whole check at its timeout.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "chores.h"
#include "secrets.h"
#include "config_check.h"
#include "config_read.h"
#include "config_text.h"
#include "db_login.h"
#include "plugin_options.h"
#include "plugin_report.h"
#include "vorncrypt.h"
#include "watchdog.h"

namespace {

// What the file checks leave for the next steps.
struct FileBytes {
  char raw[kConfigFileMax + 2];
  size_t n;
};

// A stream's captured text (a reader's or the checker's message) cut to
// one line: its first line, without the newline.
const char* firstLine(char* captured) {
  captured[std::strcspn(captured, "\n")] = '\0';
  return captured;
}

// Puts a watchdog message in force: the report so far and, for the step about
// to start, a result in the timeout's state that says what was not done.
void prepareWatchdog(const Settings& s, Report* r, const char* what) {
  FILE* m = watchdogMessage();
  if (m == nullptr) return;
  size_t at =
      addResult(r, s.timeout_state, "%s: %s within the timeout of %u s; given up", s.file, what, s.login.timeout);
  writeReport(m, *r);
  r->count = at;
  watchdogSetMessage(m);
}

// The mode, owner and lock checks of the open file fd with status st.
void checkProtection(int fd, const struct stat& st, const Settings& s, Report* r) {
  unsigned mode = st.st_mode & 07777;
  if (s.mode >= 0 && !s.ignore_mode) {
    addResult(r, mode == static_cast<unsigned>(s.mode) ? kStateOk : kStateWarning, "%s: mode %04o%s%04o (--mode)",
              s.file, mode, mode == static_cast<unsigned>(s.mode) ? ", as " : ", not ", static_cast<unsigned>(s.mode));
  } else if (!s.ignore_mode) {
    bool read_only = (mode & ~0444U) == 0 && (mode & 0400U) != 0;
    addResult(r, read_only ? kStateOk : kStateWarning, "%s: mode %04o%s", s.file, mode,
              read_only ? "" : ", not read-only as vorn_sql writes it (0444 or less)");
  }
  if (!s.ignore_owner) {
    bool owned = st.st_uid == s.owner;
    if (owned) {
      addResult(r, kStateOk, "%s: owned by %s (uid %u)", s.file, s.owner_name, static_cast<unsigned>(s.owner));
    } else {
      addResult(r, kStateWarning, "%s: owned by uid %u, not %s (uid %u)", s.file, static_cast<unsigned>(st.st_uid),
                s.owner_name, static_cast<unsigned>(s.owner));
    }
  }
  if (s.ignore_lock) return;
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    addResult(r, kStateWarning, "%s: cannot tell whether it is locked: %s", s.file, std::strerror(errno));
  } else if ((flags & FS_IMMUTABLE_FL) == 0) {
    addResult(r, kStateWarning, "%s: not locked (no immutable attribute; quordex_helper locks it)", s.file);
  } else {
    addResult(r, kStateOk, "%s: locked (immutable)", s.file);
  }
}

// Opens the file, checks what it is and how it is protected, and reads its
// bytes into *b. False when there is nothing to check further.
bool checkFile(const Settings& s, Report* r, FileBytes* b) {
  // Non-blocking, so that opening a FIFO returns at once; the type test then
  // refuses it.
  int fd = open(s.file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    int error = errno;
    // A file the plugin may not read says nothing about the product's file:
    // the monitoring's own set-up is wrong.
    bool denied = error == EACCES || error == EPERM;
    addResult(r, denied ? kStateUnknown : kStateCritical, "%s: cannot open: %s%s", s.file, std::strerror(error),
              denied ? " (check_vorn runs without the right to read it; see sudo in check_vorn(1))" : "");
    if (fd >= 0) close(fd);
    return false;
  }
  bool regular = S_ISREG(st.st_mode);
  bool small = st.st_size <= static_cast<off_t>(kConfigFileMax);
  addResult(r, regular && small ? kStateOk : kStateCritical, "%s: %s", s.file,
            !regular ? "not a regular file"
            : small  ? "a regular file"
                     : "larger than 4096 bytes");
  if (regular && small) checkProtection(fd, st, s, r);
  char message[kResultTextMax];
  FILE* m = fmemopen(message, sizeof message, "w");
  bool read = regular && small && m != nullptr && readConfigBytes(fd, s.file, b->raw, &b->n, m) == 0;
  if (m != nullptr) std::fclose(m);
  if (regular && small && !read)
    addResult(r, kStateCritical, "%s", m != nullptr ? firstLine(message) : "out of memory");
  close(fd);
  return read;
}

// The key check of an encrypted file and its decryption into text. False when
// there is no text to check.
bool checkKeyAndText(const Settings& s, Report* r, const FileBytes& b, char* text, size_t* len) {
  const char* key_file = s.key_file != nullptr ? s.key_file : vorn_key_path;
  if (b.n > 0 && !isPlainConfig(b.raw, b.n)) {
    uint8_t key[kCipherKeyBytes];
    bool loads = vorn_load_key(key_file, key);
    wipe(key, sizeof key);
    addResult(r, loads ? kStateOk : kStateCritical, "%s: encrypted; %s the key file %s", s.file,
              loads ? "the key loads from" : "no key can be loaded from", key_file);
    if (!loads) return false;
  } else if (b.n > 0) {
    addResult(r, kStateOk, "%s: plain text, no key needed", s.file);
  }
  char message[kResultTextMax];
  FILE* m = fmemopen(message, sizeof message, "w");
  int status = m != nullptr ? configTextOf(s.file, key_file, kLoginShownAs, b.raw, b.n, text, len, m) : kReadFailed;
  if (m != nullptr) std::fclose(m);
  if (status != 0) addResult(r, kStateCritical, "%s", m != nullptr ? firstLine(message) : "out of memory");
  return status == 0;
}

// The format check of text and the connection values it holds. False when
// the connection cannot be tried.
bool checkText(const Settings& s, Report* r, const char* text, size_t len, Value* values) {
  ConnectionValues found{};
  FILE* m = fmemopen(r->details, sizeof r->details, "w");
  int faults = m != nullptr ? checkConfigText(s.file, text, len, &found, m) : -1;
  if (m != nullptr) std::fclose(m);
  if (faults != 0) {
    char first[kResultTextMax];
    formatText(first, sizeof first, "%s", r->details);
    addResult(r, kStateCritical, "%s: not as vorn_sql writes it (faults: %d); the first: %s", s.file, faults,
              faults < 0 ? "out of memory" : firstLine(first));
    if (s.verbose == 0) r->details[0] = '\0';
    return false;
  }
  char missing[128] = "";
  for (size_t i = 0; i < kConnectionLineCount; i++) {
    if (!takeConnectionValue(found, i, &values[i]))
      formatText(missing + std::strlen(missing), sizeof missing - std::strlen(missing), "%sno %s line",
                 missing[0] != '\0' ? ", " : "", kConnectionLines[i].key);
  }
  if (missing[0] != '\0') {
    addResult(r, kStateCritical, "%s: %s; the product cannot connect without it", s.file, missing);
    return false;
  }
  addResult(r, kStateOk, "%s: every line as vorn_sql writes it", s.file);
  return true;
}

// Writes "HOST port PORT as USER" (or socket) raw into buf.
void targetText(const Login& l, char* buf, size_t size) {
  formatText(buf, size, "%s %s %s as %s", l.host->text, l.via_socket ? "socket" : "port",
             l.via_socket ? l.socket : l.port->text, l.user->text);
}

// The connection's result, with the thresholds on its time.
void reportLogin(const Settings& s, const Login& l, const Outcome& o, Report* r) {
  char target[4 * kLineSize + 4096];
  targetText(l, target, sizeof target);
  if (!o.connected && refusedPlugin(o)) {
    addResult(r, kStateCritical,
              "%s: refused to log in to %s: the server asks for an authentication plugin %s;"
              " the password was not sent",
              s.file, target,
              s.login.allow_cleartext ? "that check_vorn does not use"
                                      : "other than mysql_native_password and client_ed25519 (see --allow-cleartext)");
  } else if (!o.connected) {
    addResult(r, kStateCritical, "%s: cannot connect to %s: error %u: %s", s.file, target, o.error, o.text);
  } else {
    r->timed = true;
    r->seconds = o.seconds;
    int state = rangeAlerts(s.critical, o.seconds)  ? kStateCritical
                : rangeAlerts(s.warning, o.seconds) ? kStateWarning
                                                    : kStateOk;
    const Range& crossed = state == kStateCritical ? s.critical : s.warning;
    r->summary = static_cast<int>(addResult(r, state, "connected to %s, database %s, server %s, in %.3f s%s%s%s",
                                            target, l.dbname->text, o.text, o.seconds,
                                            state == kStateOk         ? ""
                                            : state == kStateCritical ? " (-c "
                                                                      : " (-w ",
                                            state == kStateOk ? "" : crossed.text, state == kStateOk ? "" : ")"));
  }
}

// Logs in with the file's values under the watchdog.
void checkLogin(const Settings& s, Report* r, Value* values) {
  Login l = loginFor(s.file, values, s.login);
  if (!l.via_socket && l.port_no > kMaxTcpPort) {
    addResult(r, kStateCritical, "%s: PORTNO %ld is not a TCP port (at most %ld); no connection tried", s.file,
              l.port_no, kMaxTcpPort);
    return;
  }
  char what[4 * kLineSize + 4096 + 32];
  char target[4 * kLineSize + 4096];
  targetText(l, target, sizeof target);
  formatText(what, sizeof what, "cannot connect to %s: not done", target);
  prepareWatchdog(s, r, what);
  watchdogWipes(l.password->text, sizeof l.password->text);
  Outcome o{};
  bool tried = attemptLogin(l, s.login, &o);
  watchdogDisarm();
  wipe(l.password->text, sizeof l.password->text);
  if (!tried) {
    addResult(r, kStateUnknown, "check_vorn: out of memory");
    return;
  }
  reportLogin(s, l, o, r);
}

// Every check in turn, each only when the ones before leave something to check.
void runChecks(const Settings& s, Report* r) {
  static FileBytes bytes;
  static char text[kConfigFileMax + 1];
  size_t len = 0;
  Value values[kConnectionLineCount];
  if (checkFile(s, r, &bytes) && checkKeyAndText(s, r, bytes, text, &len) && checkText(s, r, text, len, values)) {
    wipe(text, sizeof text);
    checkLogin(s, r, values);
  }
  wipe(&bytes, sizeof bytes);
  wipe(text, sizeof text);
  wipe(values, sizeof values);
}

}  // namespace

int main(int argc, char** argv) {
  keepSecretsOutOfDumps();
  static Settings s;
  int status = parsePluginOptions(argc, argv, &s);
  if (status >= 0) return status;
  static Report r;
  r.summary = -1;
  r.warning = &s.warning;
  r.critical = &s.critical;
  r.timeout = s.login.timeout;
  prepareWatchdog(s, &r, "not checked");
  if (!watchdogArm(s.login.timeout, STDOUT_FILENO, s.timeout_state)) {
    std::puts("VORN UNKNOWN - check_vorn: cannot arm its timeout");
    return kStateUnknown;
  }
  runChecks(s, &r);
  watchdogDisarm();
  writeReport(stdout, r);
  return std::fflush(stdout) == 0 ? reportState(r) : kStateUnknown;
}
