// vorn_keyfile: writes a new key file, mode 0444, for the key given with --key
// or for a random one. The key bytes are placed among random non-zero filler so
// that all 66 bytes of key material are used, and the material is scrambled into
// the key file's 88 characters, which the key loading turns back into the key.
// Status 0: written; 1: not written (nothing left behind); 2: usage error.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chores.h"
#include "key_path.h"
#include "secrets.h"
#include "tool_options.h"
#include "vorncrypt.h"
#include "vorncrypt_internal.h"

namespace {

constexpr size_t kKeyBytes = kCipherKeyBytes;
constexpr int kNotWritten = 1;
// --check: the file holds another key; no key can be loaded from it.
constexpr int kOtherKey = 1;
constexpr int kNoKey = 3;
// Folders that may be created for the key file's path, at most.
constexpr size_t kMaxNewFolders = 64;

const char kUsage[] =
    "Usage: vorn_keyfile [-k HEX|--key=HEX|--key-stdin] [--print-key] [PATH]\n"
    "       vorn_keyfile --check -k HEX|--key=HEX|--key-stdin [PATH]\n"
    "Writes a new key file at PATH (default: " VORN_FIXED_KEY_PATH
    ") for the key given as 32\n"
    "hexadecimal digits, none of its bytes 00, or else for a random key. An existing\n"
    "file is never replaced; missing folders are created with mode 0755.\n"
    "  -k, --key=HEX    the key, 32 hexadecimal digits\n"
    "      --key-stdin  read the key's 32 hexadecimal digits (and a newline) from standard input\n"
    "      --print-key  print the key's 32 hexadecimal digits on standard output\n"
    "      --check      write nothing; tell whether PATH holds the key given\n"
    "  -h, --help       print this help\n"
    "Exit status: 0 written, 1 not written, 2 usage error; with --check: 0 PATH holds the key,\n"
    "1 it holds another, 2 usage error, 3 no key can be loaded from it.\n";

const vornopt::option kLongOptions[] = {
    {"key", vornopt::required_argument, nullptr, 'k'}, {"key-stdin", vornopt::no_argument, nullptr, 'S'},
    {"print-key", vornopt::no_argument, nullptr, 'P'}, {"check", vornopt::no_argument, nullptr, 'C'},
    {"help", vornopt::no_argument, nullptr, 'h'},      {nullptr, 0, nullptr, 0},
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseKey(const char* hex, uint8_t key[kKeyBytes]) {
  if (std::strlen(hex) != 2 * kKeyBytes) return false;
  for (size_t i = 0; i < kKeyBytes; i++) {
    int hi = hexValue(hex[2 * i]);
    int lo = hexValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    key[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

// Fills out with random bytes other than zero: a zero byte would cut the key
// material short when the loader takes it as a text.
bool randomNonZero(uint8_t* out, size_t count) {
  int fd = openRandomSource();
  if (fd < 0) return false;
  uint8_t chunk[64];
  size_t filled = 0;
  while (filled < count) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && filled < count; i++) {
      if (chunk[i] != 0) out[filled++] = chunk[i];
    }
  }
  wipe(chunk, sizeof chunk);
  close(fd);
  return filled == count;
}

// The 88 scrambled characters for key among random filler, or false when the
// filler or the encoding cannot be had.
bool scrambledKeyText(const uint8_t key[kKeyBytes], char scrambled[kScrambledKeyChars]) {
  uint8_t material[kKeyMaterialBytes];
  if (!randomNonZero(material, sizeof material)) return false;
  return vorn_scramble_key(key, material, scrambled);
}

// The folders made for a key file, to be removed again when it fails.
struct NewFolders {
  char path[PATH_MAX];
  size_t ends[kMaxNewFolders];  // length of each folder's path in path, in order
  size_t count;
};

void removeFolders(NewFolders* made) {
  while (made->count > 0) {
    made->count--;
    char saved = made->path[made->ends[made->count]];
    made->path[made->ends[made->count]] = '\0';
    rmdir(made->path);
    made->path[made->ends[made->count]] = saved;
  }
}

// Creates the folder made->path (cut at i), mode 0755 whatever the umask, and
// records it; an existing folder is no error. Returns 0 or the error number.
int makeFolder(NewFolders* made, size_t i) {
  if (mkdir(made->path, 0755) != 0) return errno == EEXIST ? 0 : errno;
  if (made->count == kMaxNewFolders) {
    rmdir(made->path);
    return ENAMETOOLONG;
  }
  made->ends[made->count++] = i;
  return chmod(made->path, 0755) == 0 ? 0 : errno;
}

// Creates the missing folders above file, recording them in made. False, with
// errno set and the folders made removed again, on failure.
bool makeParents(const char* file, NewFolders* made) {
  made->count = 0;
  size_t len = std::strlen(file);
  if (len >= sizeof made->path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(made->path, file, len + 1);
  const char* last = std::strrchr(made->path, '/');
  size_t parent_end = last != nullptr ? static_cast<size_t>(last - made->path) : 0;
  for (size_t i = 1; i <= parent_end; i++) {
    if (made->path[i] != '/' || made->path[i - 1] == '/') continue;
    made->path[i] = '\0';
    int error = makeFolder(made, i);
    made->path[i] = '/';
    if (error != 0) {
      removeFolders(made);
      errno = error;
      return false;
    }
  }
  return true;
}

// Creates path exclusively and writes the scrambled text, mode 0444 whatever
// the umask, forced to disk with its folder. Returns 0, else the error number
// (the file may then exist and is the caller's to remove); *created says
// whether it was made.
int writeScrambled(const char* path, const char scrambled[kScrambledKeyChars], bool* created) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
  *created = fd >= 0;
  if (fd < 0) return errno;
  // The creation mask may have taken bits away; the loader wants exactly 0444.
  bool ok = fchmod(fd, 0444) == 0 &&
            write(fd, scrambled, kScrambledKeyChars) == static_cast<ssize_t>(kScrambledKeyChars) && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !syncFolderOf(path)) {
    ok = false;
    error = errno;
  }
  return ok ? 0 : error;
}

// Prints the key's 32 hexadecimal digits; false, with errno set, when standard
// output does not take them.
bool printKey(const uint8_t key[kKeyBytes]) {
  for (size_t i = 0; i < kKeyBytes; i++) std::printf("%02x", key[i]);
  return std::putchar('\n') != EOF && std::fflush(stdout) == 0;
}

// Writes the key file for key at path; on failure prints why and leaves nothing.
int writeKeyFile(const char* path, const uint8_t key[kKeyBytes], bool print_key) {
  char scrambled[kScrambledKeyChars];
  if (!scrambledKeyText(key, scrambled)) {
    std::fprintf(stderr, "vorn_keyfile: cannot get random bytes from \"%s\"\n", kRandomSource);
    return kNotWritten;
  }
  static NewFolders made;
  if (!makeParents(path, &made)) {
    wipe(scrambled, sizeof scrambled);
    std::fprintf(stderr, "vorn_keyfile: cannot create the folders of \"%s\": %s\n", path, std::strerror(errno));
    return kNotWritten;
  }
  bool created = false;
  int error = writeScrambled(path, scrambled, &created);
  wipe(scrambled, sizeof scrambled);
  // A key that could not be kept is of no use: the file goes too.
  bool printed = error != 0 || !print_key || printKey(key);
  if (error == 0 && !printed) error = errno;
  if (error == 0) return 0;

  if (created) unlink(path);
  removeFolders(&made);
  if (!printed) {
    std::fprintf(stderr, "vorn_keyfile: cannot print the key (%s); \"%s\" removed\n", std::strerror(error), path);
  } else if (!created && error == EEXIST) {
    std::fprintf(stderr, "vorn_keyfile: \"%s\" exists; a key file is never replaced\n", path);
  } else if (!created) {
    std::fprintf(stderr, "vorn_keyfile: cannot create \"%s\": %s\n", path, std::strerror(error));
  } else {
    std::fprintf(stderr, "vorn_keyfile: cannot write \"%s\": %s\n", path, std::strerror(error));
  }
  return kNotWritten;
}

// The key's digits as read from standard input, wiped before the program ends.
char stdin_key[2 * kKeyBytes + 3];

// Reads at most the 32 digits and a newline from standard input into stdin_key;
// anything longer is kept long enough to be refused.
const char* readStdinKey() {
  size_t n = 0;
  while (n < sizeof stdin_key - 1) {
    ssize_t got = read(STDIN_FILENO, stdin_key + n, sizeof stdin_key - 1 - n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    n += static_cast<size_t>(got);
  }
  if (n > 0 && stdin_key[n - 1] == '\n') n--;
  stdin_key[n] = '\0';
  return stdin_key;
}

struct Settings {
  const char* hex = nullptr;
  bool print_key = false;
  bool check = false;
  const char* path = vorn_key_path;
};

bool takeOption(int c, const char* arg, void* context) {
  Settings* s = static_cast<Settings*>(context);
  if (c == 'P' || c == 'C') {
    (c == 'P' ? s->print_key : s->check) = true;
  } else if (s->hex != nullptr) {
    std::fputs("vorn_keyfile: --key given twice\n", stderr);
    return false;
  } else {
    s->hex = c == 'S' ? readStdinKey() : arg;
  }
  return true;
}

// The operands: none, PATH, or the earlier form without options, HEX PATH.
// False after saying why.
bool takeOperands(int argc, char** argv, Settings* s) {
  int operands = argc - vornopt::optind;
  if (argc == 3 && operands == 2) {
    s->hex = argv[vornopt::optind];
    s->path = argv[vornopt::optind + 1];
  } else if (operands == 1) {
    s->path = argv[vornopt::optind];
  } else if (operands > 1) {
    std::fputs("vorn_keyfile: one PATH at most\n", stderr);
    return false;
  }
  if (s->path[0] == '\0') {
    std::fputs("vorn_keyfile: the path is empty\n", stderr);
    return false;
  }
  return true;
}

// The key from hex, or a random one when hex is null. Returns 0, else the
// status to end with after saying why.
int chooseKey(const char* hex, uint8_t key[kKeyBytes]) {
  if (hex == nullptr) {
    if (randomNonZero(key, kKeyBytes)) return 0;
    std::fprintf(stderr, "vorn_keyfile: cannot get random bytes from \"%s\"\n", kRandomSource);
    return kNotWritten;
  }
  if (!parseKey(hex, key)) {
    std::fputs("vorn_keyfile: the key must be exactly 32 hexadecimal digits\n", stderr);
    return kUsageStatus;
  }
  if (std::memchr(key, 0, kKeyBytes) != nullptr) {
    std::fputs("vorn_keyfile: the key must not contain a zero byte (00): it would end the key there\n", stderr);
    return kUsageStatus;
  }
  return 0;
}

// Whether the key file at path loads key, by the same loading as vorn_sql's.
int checkKeyFile(const char* path, const uint8_t key[kKeyBytes]) {
  if (getSeedKeyFromFile(path) != 1) {
    std::fprintf(stderr, "vorn_keyfile: no key can be loaded from \"%s\"\n", path);
    return kNoKey;
  }
  bool same = std::memcmp(seed_key, key, kKeyBytes) == 0;
  wipe(seed_key, sizeof seed_key);
  if (same) return 0;
  std::fprintf(stderr, "vorn_keyfile: \"%s\" holds another key\n", path);
  return kOtherKey;
}

int run(int argc, char** argv) {
  static const ToolCommandLine kCommandLine = {
      .short_options = "k:h", .long_options = kLongOptions, .usage = kUsage, .help_failed_status = kNotWritten};
  Settings s;
  int status = parseToolOptions(argc, argv, kCommandLine, takeOption, &s);
  if (status >= 0) return status;
  if (!takeOperands(argc, argv, &s)) return usageError(kUsage);
  if (s.check && (s.hex == nullptr || s.print_key)) {
    std::fputs("vorn_keyfile: --check takes the key (--key or --key-stdin) and no --print-key\n", stderr);
    return usageError(kUsage);
  }
  uint8_t key[kKeyBytes];
  status = chooseKey(s.hex, key);
  if (status == 0) status = s.check ? checkKeyFile(s.path, key) : writeKeyFile(s.path, key, s.print_key);
  wipe(key, sizeof key);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output makes printing the key fail, so that the
  // key file is removed, instead of killing the process with the file left.
  signal(SIGPIPE, SIG_IGN);
  keepSecretsOutOfDumps();
  int status = run(argc, argv);
  wipe(stdin_key, sizeof stdin_key);
  return status;
}
