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

#include "config_text.h"
#include "getopt.h"
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

const char kShortOptions[] = "+h:H:e:u:p:d:P:s:w";

const vornopt::option kLongOptions[] = {
    {"help", vornopt::no_argument, nullptr, 'h'},
    {"hostname", vornopt::required_argument, nullptr, 'H'},
    {"encrypt-flag", vornopt::required_argument, nullptr, 'e'},
    {"username", vornopt::required_argument, nullptr, 'u'},
    {"password", vornopt::required_argument, nullptr, 'p'},
    {"dbname", vornopt::required_argument, nullptr, 'd'},
    {"portno", vornopt::required_argument, nullptr, 'P'},
    {"secret", vornopt::required_argument, nullptr, 's'},
    {nullptr, 0, nullptr, 0},
};

const char kDefaultFileName[] = "/.vorn_sql";

struct Settings {
  char* host_name = nullptr;
  char* encrypt_flag = nullptr;
  char* user_name = nullptr;
  char* pass_word = nullptr;
  char* db_name = nullptr;
  int port_no = 0;
  char* secret_fn = nullptr;
  char* encrypted_text = nullptr;  // the bytes written with -e yes
};

// The copies of the argument values and the encrypted text are never released:
// they live until the process ends, right after its one run. They are held in
// static storage, so that they stay reachable to the end and leak checkers see
// everything else.
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

// Stores a text value after its checks: given once, not empty, and on one line,
// because the file's reader takes every line as one option.
void storeText(char** slot, char letter, const char* value, const char* what) {
  char message[64];
  if (*slot != nullptr) {
    std::snprintf(message, sizeof message, "Duplicate -%c option detected\n", letter);
    failCommandLine(message);
  }
  if (*value == '\0') {
    std::snprintf(message, sizeof message, "-%c must be followed by a %s\n", letter, what);
    failCommandLine(message);
  }
  if (std::strchr(value, '\n') != nullptr) {
    std::snprintf(message, sizeof message, "-%c must not contain a line break\n", letter);
    failCommandLine(message);
  }
  *slot = copyOf(value);
}

// The port as the standard base-10 conversion reads it into a signed 32-bit
// value: leading white space and a sign are allowed, nothing may follow the
// digits, and a value outside the 32-bit range is a range error.
bool parsePort(const char* text, int* port) {
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0') return false;
  if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  *port = static_cast<int>(value);
  return true;
}

void storePort(Settings* s, const char* value) {
  if (s->port_no > 0) failCommandLine("Duplicate -P option detected\n");
  int port = 0;
  if (!parsePort(value, &port) || port <= 3305) failCommandLine("-P requires an argument\n");
  s->port_no = port;
}

void parseCommandLine(int argc, char** argv, Settings* s) {
  for (;;) {
    int idx = -1;
    int c = vornopt::_getopt_long(argc, argv, kShortOptions, kLongOptions, &idx);
    if (c > 0) {
      idx = -1;
      for (int i = 0; kLongOptions[i].name != nullptr; i++) {
        if (kLongOptions[i].val == c) {
          idx = i;
          break;
        }
      }
    } else if (c < 0) {
      break;
    }
    const char* value = vornopt::optarg != nullptr ? vornopt::optarg : "";
    switch (idx) {
      case 0:
        std::puts(kUsage);
        std::exit(0);
      case 1:
        storeText(&s->host_name, 'H', value, "hostname");
        break;
      case 2:
        if (s->encrypt_flag != nullptr) failCommandLine("Duplicate -e option detected\n");
        if (*value == '\0') failCommandLine("-e must be followed by a encrypt flag\n");
        if (std::strcmp(value, "yes") != 0 && std::strcmp(value, "no") != 0)
          failCommandLine("-e requires an acceptable argument\n");
        s->encrypt_flag = copyOf(value);
        break;
      case 3:
        storeText(&s->user_name, 'u', value, "username");
        break;
      case 4:
        storeText(&s->pass_word, 'p', value, "password");
        break;
      case 5:
        storeText(&s->db_name, 'd', value, "dbname");
        break;
      case 6:
        storePort(s, value);
        break;
      case 7:
        if (s->secret_fn != nullptr) failCommandLine("Duplicate -s option detected\n");
        if (*value == '\0') failCommandLine("-s must be followed by a filename\n");
        s->secret_fn = copyOf(value);
        break;
      default:
        std::puts(kUsage);
        failCommandLine("Failed to parse command line\n");
    }
  }
}

// One connection line: formatted from the command-line value when it was given,
// else offered as a default. Returns false, after saying which key does not fit,
// when the line would overflow the scratch line or the text area.
bool addConnectionLine(char* secret, char* buf, const char* key, const char* value, const char* question,
                       const char* default_line) {
  char* done;
  if (value != nullptr) {
    int n = std::snprintf(buf, kLineSize, "\" %s %s\n", key, value);
    done = (n < 0 || static_cast<size_t>(n) >= kLineSize) ? nullptr : addOption(secret, kSecretSize, buf);
  } else {
    done = maybeAddOption(question, secret, kSecretSize, default_line);
  }
  if (done == nullptr) {
    std::fprintf(stderr, "%s value is too long\n", key);
    return false;
  }
  return true;
}

bool addConnectionLines(const Settings& s, char* secret) {
  char buf[kLineSize];
  char port[12];
  if (s.port_no > 0) std::snprintf(port, sizeof port, "%d", s.port_no);
  return addConnectionLine(secret, buf, "PORTNO", s.port_no > 0 ? port : nullptr,
                           "If you do not specify portno, MariaDB server will not work properly.",
                           "\" PORTNO 3306\n") &&
         addConnectionLine(secret, buf, "DBNAME", s.db_name,
                           "If you do not specify dbname, MariaDB server will not work properly.",
                           "\" DBNAME quordexDB\n") &&
         addConnectionLine(secret, buf, "PASSWORD", s.pass_word,
                           "If you do not specify passwd, MariaDB server will not work properly.",
                           "\" PASSWORD mekvisa\n") &&
         addConnectionLine(secret, buf, "USERNAME", s.user_name,
                           "If you do not specify username, MariaDB server will not work properly.",
                           "\" USERNAME yelto\n") &&
         addConnectionLine(secret, buf, "HOSTNAME", s.host_name,
                           "If you do not specify Hostname or IP address, MariaDB server will not work properly.",
                           "\" HOSTNAME localhost\n");
}

// Forces the directory entry of a renamed file to disk. Best effort: the new
// file is in place whether or not this succeeds.
void syncParentDirectory(char* path) {
  char* slash = std::strrchr(path, '/');
  const char* dir = ".";
  char saved = '\0';
  if (slash != nullptr) {
    char* cut = slash == path ? slash + 1 : slash;
    saved = *cut;
    *cut = '\0';
    dir = path;
    slash = cut;
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  if (slash != nullptr) *slash = saved;
}

int run(int argc, char** argv) {
  Settings& s = settings;
  parseCommandLine(argc, argv, &s);

  if (vornopt::optind != argc) {
    std::puts(kUsage);
    std::exit(0);
  }

  // The entropy read stays ahead of everything that looks at the target.
  int rnd = open("/dev/urandom", O_RDONLY);
  if (rnd < 0) {
    std::perror("Failed to open \"/dev/urandom\"");
    return 1;
  }
  unsigned char entropy[80];
  if (read(rnd, entropy, sizeof entropy) != static_cast<ssize_t>(sizeof entropy)) {
    std::perror("Failed to read from \"/dev/urandom\"");
    // The descriptor is left to the process exit, which follows at once.
    // cppcheck-suppress resourceLeak
    return 1;
  }

  char secret[kSecretSize];
  buildFixedSettings(secret);
  close(rnd);

  if (s.secret_fn == nullptr) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      std::fputs("Cannot determine home directory\n", stderr);
      return 1;
    }
    size_t home_len = std::strlen(home);
    s.secret_fn = static_cast<char*>(std::malloc(home_len + sizeof kDefaultFileName));
    if (s.secret_fn == nullptr) failAllocation();
    std::memcpy(s.secret_fn, home, home_len);
    std::memcpy(s.secret_fn + home_len, kDefaultFileName, sizeof kDefaultFileName);
  }

  std::printf("\nDo you want me to update your \"%s\" file (y/n) ", s.secret_fn);
  std::fflush(stdout);
  if (!readAnswer()) std::exit(0);

  size_t path_len = std::strlen(s.secret_fn);
  char* tmp_fn = static_cast<char*>(std::malloc(path_len + 2));
  if (tmp_fn == nullptr) failAllocation();
  std::memcpy(tmp_fn, s.secret_fn, path_len);
  tmp_fn[path_len] = '~';
  tmp_fn[path_len + 1] = '\0';

  if (!addConnectionLines(s, secret)) {
    std::free(tmp_fn);
    std::free(s.secret_fn);
    return 1;
  }

  int fd = open(tmp_fn, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_NOFOLLOW, 0444);
  if (fd < 0) {
    std::fprintf(stderr, "Failed to create \"%s\" (%s)", s.secret_fn, std::strerror(errno));
    std::free(tmp_fn);
    std::free(s.secret_fn);
    return 1;
  }

  const char* bytes = secret;
  if (s.encrypt_flag != nullptr && std::strcmp(s.encrypt_flag, "yes") == 0) {
    s.encrypted_text = vorn_encrypts(secret);
    bytes = s.encrypted_text;
    if (bytes == nullptr || *bytes == '\0') {
      if (bytes == nullptr) {
        std::fprintf(stderr, "Failed to encrypt the configuration with the key from \"%s\"\n", vorn_key_path);
      } else {
        std::fprintf(stderr, "Cannot load the encryption key from \"%s\"\n", vorn_key_path);
      }
      unlink(tmp_fn);
      close(fd);
      std::free(tmp_fn);
      std::free(s.secret_fn);
      return 1;
    }
  }

  // One write; the bytes reach the disk before the rename makes them the file.
  size_t len = std::strlen(bytes);
  bool written = write(fd, bytes, len) == static_cast<ssize_t>(len) && fsync(fd) == 0;
  if (!written || rename(tmp_fn, s.secret_fn) != 0) {
    std::perror("Failed to write new secret");
    unlink(tmp_fn);
    close(fd);
    std::free(tmp_fn);
    std::free(s.secret_fn);
    return 1;
  }
  syncParentDirectory(s.secret_fn);

  std::free(tmp_fn);
  std::free(s.secret_fn);
  close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write fails with EFBIG instead of killing the
  // process, so the temporary file is still removed.
  signal(SIGXFSZ, SIG_IGN);
  return run(argc, argv);
}
