// vorn_sql: writes the product's database-connection configuration file.
// Options are checked first and end the process at once when wrong; then the
// fixed settings are built, the target confirmed, the connection lines added
// (asking for each missing value), and the file replaced through a temporary
// file, so that a reader sees either the old file or the complete new one.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "chores.h"
#include "config_file.h"
#include "config_text.h"
#include "getopt.h"
#include "secrets.h"
#include "vorncrypt.h"

namespace {

const char kUsage[] =
    "vorn_sql [<options>]\n"
    " -h, --help            Print this message\n"
    " -H, --hostname        Hostname or IP address of the MariaDB server\n"
    " -e, --encrypt-flag    Set the encryption flag in the configuration file.\n"
    " -u, --username        MariaDB username\n"
    " -p, --password        Password for the MariaDB user\n"
    " -d, --dbname          MariaDB name to connect to\n"
    " -P, --portno          Port number of the MariaDB server\n"
    " -s, --secret=<file>   Specify a non-standard file location\n";

constexpr char kShortOptions[] = "+h:H:e:u:p:d:P:s:w";

// A connection field's long option, from the shared table.
constexpr vornopt::option connectionOption(ConnectionField field) {
  return {kConnectionLines[field].name, vornopt::required_argument, nullptr, kConnectionLines[field].letter};
}

// The long options in the order that their index numbers and the usage keep.
constexpr vornopt::option kLongOptions[] = {
    {"help", vornopt::no_argument, nullptr, 'h'},
    connectionOption(kHostField),
    {"encrypt-flag", vornopt::required_argument, nullptr, 'e'},
    connectionOption(kUserField),
    connectionOption(kPasswordField),
    connectionOption(kDbField),
    connectionOption(kPortField),
    {"secret", vornopt::required_argument, nullptr, 's'},
    {nullptr, 0, nullptr, 0},
};
constexpr int kLongOptionCount = static_cast<int>(std::size(kLongOptions)) - 1;

// Whether the short options take letter with a value.
constexpr bool takesValue(std::string_view options, char letter) {
  size_t at = options.find(letter);
  return at != std::string_view::npos && at + 1 < options.size() && options[at + 1] == ':';
}
static_assert(takesValue(kShortOptions, kConnectionLines[kHostField].letter) &&
              takesValue(kShortOptions, kConnectionLines[kUserField].letter) &&
              takesValue(kShortOptions, kConnectionLines[kPasswordField].letter) &&
              takesValue(kShortOptions, kConnectionLines[kDbField].letter) &&
              takesValue(kShortOptions, kConnectionLines[kPortField].letter));

struct Settings {
  const char* values[kConnectionLineCount] = {};  // by field; null when not given
  char port[12] = {};                             // the port's text, as the file holds it
  char* encrypt_flag = nullptr;
  char* secret_fn = nullptr;  // the target: from -s, else made from HOME
};

// The copies of the argument values are never released: they live until the
// process ends, right after its one run. They are held in static storage, so
// that they stay reachable to the end and leak checkers see everything else.
Settings settings;

// Command-line errors end the process at once: nothing has been created yet, and
// buffered standard output is deliberately not flushed.
[[noreturn]] void failCommandLine(const char* message) {
  std::fputs(message, stderr);
  _exit(1);
}

[[noreturn]] void failAllocation() {
  std::perror("malloc()");
  _exit(1);
}

char* copyOf(const char* text) {
  char* copy = strdup(text);
  if (copy == nullptr) failAllocation();
  return copy;
}

// Stores a connection value after the checks of its field's rule: given once;
// a port by readPort; a text not empty and on one line, because the file's
// reader takes every line as one option.
void storeValue(Settings* s, size_t field, const char* value) {
  const ConnectionLine& line = kConnectionLines[field];
  // The longest message, for "hostname", takes 35 of the 64 bytes.
  char message[64];
  if (s->values[field] != nullptr) {
    formatText(message, sizeof message, "Duplicate -%c option detected\n", line.letter);
    failCommandLine(message);
  }
  if (line.rule == kPortValue) {
    int port = 0;
    if (!readPort(value, &port)) {
      formatText(message, sizeof message, "-%c requires an argument\n", line.letter);
      failCommandLine(message);
    }
    s->values[field] = formatPort(port, s->port);
    return;
  }
  if (*value == '\0') {
    formatText(message, sizeof message, "-%c must be followed by a %s\n", line.letter, line.name);
    failCommandLine(message);
  }
  if (std::strchr(value, '\n') != nullptr) {
    formatText(message, sizeof message, "-%c must not contain a line break\n", line.letter);
    failCommandLine(message);
  }
  s->values[field] = copyOf(value);
}

void storeEncryptFlag(Settings* s, const char* value) {
  if (s->encrypt_flag != nullptr) failCommandLine("Duplicate -e option detected\n");
  if (*value == '\0') failCommandLine("-e must be followed by a encrypt flag\n");
  if (std::strcmp(value, "yes") != 0 && std::strcmp(value, "no") != 0)
    failCommandLine("-e requires an acceptable argument\n");
  s->encrypt_flag = copyOf(value);
}

void storeSecretFile(Settings* s, const char* value) {
  if (s->secret_fn != nullptr) failCommandLine("Duplicate -s option detected\n");
  if (*value == '\0') failCommandLine("-s must be followed by a filename\n");
  s->secret_fn = copyOf(value);
}

// Stores the option of the long table's entry idx (an unknown option when idx
// is outside the table) with its value.
void storeOption(Settings* s, int idx, const char* value) {
  bool known = idx >= 0 && idx < kLongOptionCount;
  size_t field = known ? connectionFieldWithLetter(kLongOptions[idx].val) : kConnectionLineCount;
  if (field < kConnectionLineCount) {
    storeValue(s, field, value);
    return;
  }
  switch (idx) {
    case 0:
      std::puts(kUsage);
      std::exit(0);
    case 2:
      storeEncryptFlag(s, value);
      break;
    case 7:
      storeSecretFile(s, value);
      break;
    default:
      std::puts(kUsage);
      failCommandLine("Failed to parse command line\n");
  }
}

// The long table's entry for a short option character; -1 for none.
int entryOf(int c) {
  for (int i = 0; kLongOptions[i].name != nullptr; i++) {
    if (kLongOptions[i].val == c) return i;
  }
  return -1;
}

void parseCommandLine(int argc, char** argv, Settings* s) {
  for (;;) {
    int idx = -1;
    int c = vornopt::_getopt_long(argc, argv, kShortOptions, kLongOptions, &idx);
    if (c < 0) break;
    // Long and short forms alike are told apart by their character.
    if (c > 0) idx = entryOf(c);
    storeOption(s, idx, vornopt::optarg != nullptr ? vornopt::optarg : "");
  }
}

// The connection lines with the values given for them, null where one was not
// given, in file order; each missing one is offered with its question. False,
// after saying which key does not fit, when a line would overflow the scratch
// line or the text area.
bool addSettingsLines(const Settings& s, char* secret) {
  size_t failed = ::addConnectionLines(secret, s.values, maybeAddOption);
  if (failed == kConnectionLineCount) return true;
  std::fprintf(stderr, "%s value is too long\n", kConnectionLines[failed].key);
  return false;
}

// Reads the run's entropy. It stays ahead of everything that looks at the
// target.
bool readEntropy() {
  int rnd = openRandomSource();
  if (rnd < 0) {
    std::perror("Failed to open \"/dev/urandom\"");
    return false;
  }
  unsigned char entropy[80];
  bool done = read(rnd, entropy, sizeof entropy) == static_cast<ssize_t>(sizeof entropy);
  if (!done) std::perror("Failed to read from \"/dev/urandom\"");
  close(rnd);
  return done;
}

// The target defaults to .vorn_sql in the home directory: the path made in a
// buffer with room for any home directory, then copied as -s's value is.
bool resolveTargetPath(Settings* s) {
  if (s->secret_fn != nullptr) return true;
  static char default_target[kLongestHome + sizeof kConfigFileName];
  if (!defaultConfigPath(default_target, sizeof default_target)) return false;
  s->secret_fn = copyOf(default_target);
  return true;
}

bool confirmTarget(const char* path) {
  std::fputs("\nDo you want me to update your \"", stdout);
  std::fputs(path, stdout);
  std::fputs("\" file (y/n) ", stdout);
  std::fflush(stdout);
  return readAnswer();
}

int run(int argc, char** argv) {
  Settings& s = settings;
  parseCommandLine(argc, argv, &s);
  if (vornopt::optind != argc) {
    std::puts(kUsage);
    std::exit(0);
  }

  char secret[kSecretSize];  // the configuration text
  if (!readEntropy()) return 1;
  buildFixedSettings(secret);
  if (!resolveTargetPath(&s)) return 1;
  if (!confirmTarget(s.secret_fn)) std::exit(0);

  char* tmp_fn = temporaryPath(s.secret_fn);
  bool encrypt = s.encrypt_flag != nullptr && std::strcmp(s.encrypt_flag, "yes") == 0;
  // vorn_sql's "Failed to create" message ends without a newline.
  bool done = addSettingsLines(s, secret) && replaceConfigFile(s.secret_fn, tmp_fn, secret, encrypt, "");
  wipe(secret, sizeof secret);
  std::free(tmp_fn);
  std::free(s.secret_fn);
  return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write fails with EFBIG instead of killing the
  // process, so the temporary file is still removed.
  signal(SIGXFSZ, SIG_IGN);
  keepSecretsOutOfDumps();
  return run(argc, argv);
}
