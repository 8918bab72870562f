// vorn_set: writes the same configuration file as vorn_sql, byte for byte, with
// the connection values read from standard input (NAME=VALUE lines) or, on a
// terminal, asked for one by one, the password without echo. No value ever
// travels on a command line. The file is replaced by the same code as vorn_sql's,
// without a question.
// Status 0: written; 1: not written for a reason of the system or the key
// (nothing left behind); 2: a refused option, input line or value.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chores.h"
#include "config_file.h"
#include "config_text.h"
#include "secrets.h"
#include "set_input.h"
#include "tool_options.h"

namespace {

const char kUsage[] =
    "Usage: vorn_set [-s PATH|--secret=PATH] [-e yes|no|--encrypt-flag=yes|no] [-y|--accept-defaults]\n"
    "                [-n|--print]\n"
    "Writes the configuration file PATH (default: $HOME/.vorn_sql) as vorn_sql does, with the\n"
    "connection values read from standard input as lines NAME=VALUE, NAME one of hostname,\n"
    "portno, dbname, username and password; on a terminal it asks for each instead.\n"
    "  -s, --secret=PATH          the file to write\n"
    "  -e, --encrypt-flag=yes|no  yes: write it encrypted under the key file's key\n"
    "  -y, --accept-defaults      give vorn_sql's default to each value not given\n"
    "  -n, --print                write the file's bytes to standard output, not to PATH\n"
    "  -h, --help                 print this help\n"
    "Exit status: 0 written, 1 not written (system or key), 2 refused option or input.\n";

const vornopt::option kLongOptions[] = {
    {"secret", vornopt::required_argument, nullptr, 's'},
    {"encrypt-flag", vornopt::required_argument, nullptr, 'e'},
    {"accept-defaults", vornopt::no_argument, nullptr, 'y'},
    {"print", vornopt::no_argument, nullptr, 'n'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

constexpr int kNotWritten = 1;

struct Settings {
  const char* path = nullptr;
  const char* encrypt_flag = nullptr;
  bool accept_defaults = false;
  bool print = false;  // the bytes to standard output instead of the file
};

// Everything that holds a value, wiped before the program ends.
struct Held {
  char input[kSetInputMax + 2];
  char answers[kConnectionLineCount][kSetInputMax / 8];
  char secret[kSecretSize];
  char path[PATH_MAX];
};
Held held;

bool takeOption(int c, const char* arg, void* context) {
  Settings* s = static_cast<Settings*>(context);
  if (c == 'y' || c == 'n') {
    (c == 'y' ? s->accept_defaults : s->print) = true;
    return true;
  }
  const char*& slot = c == 's' ? s->path : s->encrypt_flag;
  if (slot != nullptr) {
    std::fprintf(stderr, "vorn_set: -%c given twice\n", c);
    return false;
  }
  if (c == 's' && arg[0] == '\0') {
    std::fputs("vorn_set: -s needs a path\n", stderr);
    return false;
  }
  if (c == 'e' && std::strcmp(arg, "yes") != 0 && std::strcmp(arg, "no") != 0) {
    std::fputs("vorn_set: -e takes yes or no\n", stderr);
    return false;
  }
  slot = arg;
  return true;
}

// ---------------------------------------------------------------------------
// The terminal: each value asked for, the password without echo.

// One answer line into buf (size bytes, the newline dropped). Returns its
// length, or -1 at the end of input before any byte, or -2 when it does not fit
// (the rest of the line is read and dropped).
ssize_t readAnswer(char* buf, size_t size) {
  size_t n = 0;
  bool fits = true;
  for (;;) {
    char c;
    ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (n == 0 && fits) return -1;
      break;
    }
    if (c == '\n') break;
    if (n + 1 < size) {
      buf[n++] = c;
    } else {
      fits = false;
    }
  }
  buf[n] = '\0';
  return fits ? static_cast<ssize_t>(n) : -2;
}

// Asks for entry i until it is given and accepted, or left out with an empty
// answer or the end of input.
void askFor(size_t i, bool accept_defaults, SetValues* values) {
  char* buf = held.answers[i];
  for (;;) {
    const ConnectionLine& field = kConnectionLines[i];
    std::fprintf(stderr, "%s [%s]: ", field.name, accept_defaults ? field.default_value : "leave out");
    bool hidden = i == kPasswordField && echoOff(STDIN_FILENO);
    ssize_t n = readAnswer(buf, sizeof held.answers[i]);
    if (hidden) {
      restoreEcho();
      std::fputc('\n', stderr);
    }
    if (n == -1 || n == 0) return;
    char reason[kReasonSize];
    if (n > 0 && takeSetValue(i, buf, values, reason)) return;
    if (n < 0) formatText(reason, sizeof reason, "%s is too long", field.name);
    std::fprintf(stderr, "vorn_set: %s\n", reason);
  }
}

// ---------------------------------------------------------------------------
// Standard input as NAME=VALUE lines.

// Returns -1 with the values read, else the status to end with.
int readValues(SetValues* values) {
  size_t n = 0;
  for (;;) {
    ssize_t got = read(STDIN_FILENO, held.input + n, sizeof held.input - 1 - n);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::perror("vorn_set: cannot read standard input");
      return kNotWritten;
    }
    if (got == 0) break;
    n += static_cast<size_t>(got);
    if (n > kSetInputMax) {
      std::fprintf(stderr, "vorn_set: standard input is longer than %zu bytes\n", kSetInputMax);
      return kUsageStatus;
    }
  }
  size_t bad_line = 0;
  char reason[kReasonSize];
  if (parseSetInput(held.input, n, values, &bad_line, reason)) return -1;
  std::fprintf(stderr, "vorn_set: line %zu: %s\n", bad_line, reason);
  return kUsageStatus;
}

// ---------------------------------------------------------------------------
// The file.

// The connection lines as vorn_sql adds them when each question about a
// missing value is answered yes (with -y) or no.
char* addDefault(const char* /*question*/, char* buf, size_t nbuf, const char* option) {
  return addOption(buf, nbuf, option);
}
char* leaveOut(const char* /*question*/, char* buf, size_t /*nbuf*/, const char* /*option*/) { return buf; }

// Builds the text; returns -1, else the status after saying which value did
// not fit the file.
int buildText(const SetValues& values, bool accept_defaults) {
  buildFixedSettings(held.secret);
  size_t failed = addConnectionLines(held.secret, values.value, accept_defaults ? addDefault : leaveOut);
  if (failed == kConnectionLineCount) return -1;
  if (values.value[failed] != nullptr) {
    std::fprintf(stderr, "vorn_set: line %zu: %s does not fit the file (%zu characters at most)\n", values.line[failed],
                 kConnectionLines[failed].name, kSecretSize - 1);
  } else {
    std::fprintf(stderr,
                 "vorn_set: the default %s does not fit the file with the values given (%zu characters at most)\n",
                 kConnectionLines[failed].name, kSecretSize - 1);
  }
  return kUsageStatus;
}

int writeFile(const char* path, bool encrypt) {
  char* tmp_path = temporaryPath(path);
  bool done = replaceConfigFile(path, tmp_path, held.secret, encrypt, "\n");
  std::free(tmp_path);
  return done ? 0 : kNotWritten;
}

// With --print: the bytes that writeFile would write go to standard output
// instead, by write() itself, so that no stdio buffer keeps a copy of them; no
// file is created, read or replaced.
int printBytes(bool encrypt) {
  char* encrypted = nullptr;
  const char* bytes = configBytes(held.secret, encrypt, &encrypted);
  size_t left = bytes != nullptr ? std::strlen(bytes) : 0;
  while (left > 0) {
    ssize_t n = write(STDOUT_FILENO, bytes, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::perror("vorn_set: cannot write to standard output");
      break;
    }
    bytes += n;
    left -= static_cast<size_t>(n);
  }
  releaseConfigBytes(encrypted);
  return bytes != nullptr && left == 0 ? 0 : kNotWritten;
}

int run(int argc, char** argv) {
  static const ToolCommandLine kCommandLine = {
      .short_options = "s:e:ynh", .long_options = kLongOptions, .usage = kUsage, .help_failed_status = kNotWritten};
  Settings s;
  int status = parseToolOptions(argc, argv, kCommandLine, takeOption, &s);
  if (status >= 0) return status;
  if (vornopt::optind != argc) {
    std::fprintf(stderr, "vorn_set: unexpected argument \"%s\"; the values come on standard input\n",
                 argv[vornopt::optind]);
    return usageError(kUsage);
  }
  const char* path = s.path;
  if (path == nullptr) {
    if (!defaultConfigPath(held.path, sizeof held.path)) return kNotWritten;
    path = held.path;
  }
  SetValues values{};
  if (isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "Values for \"%s\"; an empty answer %s.\n", path,
                 s.accept_defaults ? "gives vorn_sql's default" : "leaves the value out");
    for (size_t i = 0; i < kConnectionLineCount; i++) askFor(i, s.accept_defaults, &values);
    status = -1;
  } else {
    status = readValues(&values);
  }
  if (status < 0) status = buildText(values, s.accept_defaults);
  bool encrypt = s.encrypt_flag != nullptr && std::strcmp(s.encrypt_flag, "yes") == 0;
  if (status < 0) status = s.print ? printBytes(encrypt) : writeFile(path, encrypt);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write fails with EFBIG instead of killing the
  // process, so the temporary file is still removed.
  signal(SIGXFSZ, SIG_IGN);
  keepSecretsOutOfDumps();
  int status = run(argc, argv);
  restoreEcho();
  wipe(&held, sizeof held);
  return status;
}
