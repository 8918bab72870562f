// vorn_keyfile: writes a new key file, mode 0444, for the key given with --key
// or for a random one. The key bytes are placed among random non-zero filler so
// that all 66 bytes of key material are used, and the material is scrambled into
// the key file's 88 characters, which the key loading turns back into the key.
// The file appears complete or not at all: it is written under a temporary name
// in its folder and linked to its own name, which never replaces a file.
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
#include "key_folder.h"
#include "key_path.h"
#include "rotate.h"
#include "secrets.h"
#include "tool_options.h"
#include "vorncrypt.h"

namespace {

constexpr size_t kKeyBytes = kCipherKeyBytes;
constexpr int kNotWritten = 1;
// --check: the file holds another key; no key can be loaded from it.
constexpr int kOtherKey = 1;
constexpr int kNoKey = 3;
// Bytes of the temporary name, terminator included.
constexpr size_t kTemporaryNameSize = 32;

const char kUsage[] =
    "Usage: vorn_keyfile [-k HEX|--key=HEX|--key-stdin] [--print-key] [PATH]\n"
    "       vorn_keyfile --check -k HEX|--key=HEX|--key-stdin [PATH]\n"
    "       vorn_keyfile --rotate --key-stdin [--key-file=PATH] FILE...\n"
    "Writes a new key file at PATH (default: " VORN_FIXED_KEY_PATH
    ") for the key given as 32\n"
    "hexadecimal digits, none of its bytes 00, or else for a random key. An existing\n"
    "file is never replaced; missing folders are created with mode 0755.\n"
    "  -k, --key=HEX    the key, 32 hexadecimal digits\n"
    "      --key-stdin  read the key's 32 hexadecimal digits (and a newline) from standard input\n"
    "      --print-key  print the key's 32 hexadecimal digits on standard output\n"
    "      --check      write nothing; tell whether PATH holds the key given\n"
    "      --rotate     replace the key file by one for the new key read with --key-stdin, and\n"
    "                   rewrite each encrypted FILE under it; the old key stays in PATH.old-key\n"
    "                   until every FILE is; a stopped run is finished by running it again\n"
    "      --key-file=PATH  with --rotate, the key file (default: " VORN_FIXED_KEY_PATH
    ")\n"
    "  -h, --help       print this help\n"
    "Exit status: 0 written, 1 not written, 2 usage error; with --check: 0 PATH holds the key,\n"
    "1 it holds another, 2 usage error, 3 no key can be loaded from it; with --rotate: 0 done\n"
    "or nothing to do, 1 stopped by a failure (run it again), 2 usage error, 3 refused, nothing\n"
    "changed.\n";

const vornopt::option kLongOptions[] = {
    {"key", vornopt::required_argument, nullptr, 'k'}, {"key-stdin", vornopt::no_argument, nullptr, 'S'},
    {"print-key", vornopt::no_argument, nullptr, 'P'}, {"check", vornopt::no_argument, nullptr, 'C'},
    {"rotate", vornopt::no_argument, nullptr, 'R'},    {"key-file", vornopt::required_argument, nullptr, 'F'},
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

}  // namespace

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

void closeKeyFolder(KeyFolder* k, bool remove) {
  // Unless it still holds the last new folder, which it does when opening
  // that one failed.
  if (k->fd >= 0 && (k->made == 0 || k->parent[k->made - 1] != k->fd)) close(k->fd);
  k->fd = -1;
  while (k->made > 0) {
    size_t i = --k->made;
    if (remove) {
      k->path[k->name_end[i]] = '\0';
      unlinkat(k->parent[i], k->path + k->name[i], AT_REMOVEDIR);
      k->path[k->name_end[i]] = '/';
    }
    close(k->parent[i]);
  }
}

namespace {

// Whether the folder fd, named shown, may hold the key file: nobody but root and
// the caller may change what is in it (as OpenSSH's StrictModes has it). Says
// why not.
bool trusted(int fd, const char* shown) {
  struct stat st;
  char why[64];
  if (fstat(fd, &st) != 0) {
    formatText(why, sizeof why, "%s", std::strerror(errno));
  } else if (st.st_uid != 0 && st.st_uid != geteuid()) {
    formatText(why, sizeof why, "owned by user %u, neither root nor the caller", static_cast<unsigned>(st.st_uid));
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
    formatText(why, sizeof why, "writable by other users, without the sticky bit");
  } else {
    return true;
  }
  std::fprintf(stderr, "vorn_keyfile: refusing the folder \"%s\": %s\n", shown, why);
  return false;
}

// Opens the folder named path[from, to) in k->fd, making it when it is missing
// (mode 0755 whatever the umask). -1 with errno when it cannot.
int openOrMake(KeyFolder* k, size_t from, size_t to) {
  const char* name = k->path + from;
  int fd = openat(k->fd, name, kFolderFlags);
  if (fd >= 0 || errno != ENOENT) return fd;
  if (k->made == kMaxNewFolders) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (mkdirat(k->fd, name, 0755) != 0) return -1;
  k->parent[k->made] = k->fd;
  k->name[k->made] = from;
  k->name_end[k->made++] = to;
  fd = openat(k->fd, name, kNewFolderFlags);
  if (fd >= 0 && fchmod(fd, 0755) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Steps from k->fd into the folder path[from, to), trusted. False after saying
// why.
bool enterFolder(KeyFolder* k, size_t from, size_t to) {
  k->path[to] = '\0';
  int fd = openOrMake(k, from, to);
  int error = errno;
  struct stat st;
  bool link = fd < 0 && error == ENOTDIR && fstatat(k->fd, k->path + from, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
              S_ISLNK(st.st_mode);
  if (link) std::fprintf(stderr, "vorn_keyfile: refusing the folder \"%s\": a symbolic link\n", k->path);
  bool entered = fd >= 0 && trusted(fd, k->path);
  k->path[to] = '/';
  if (fd < 0 && !link) {
    std::fprintf(stderr, "vorn_keyfile: cannot create the folders of \"%s\": %s\n", k->path, std::strerror(error));
  }
  if (fd < 0) return false;
  // A folder that holds a new one stays open, to remove it by name if need be.
  if (k->made == 0 || k->parent[k->made - 1] != k->fd) close(k->fd);
  k->fd = fd;
  return entered;
}

}  // namespace

// Opens the folder of the key file path in k, making the missing ones, and
// sets *name to the file's name in path. False after saying why it cannot.
bool openKeyFolder(const char* path, KeyFolder* k, const char** name) {
  k->made = 0;
  k->fd = -1;
  const char* start = path[0] == '/' ? "/" : ".";
  int error = ENAMETOOLONG;
  if (formatText(k->path, sizeof k->path, "%s", path)) {
    k->fd = open(start, kFolderFlags);
    error = errno;
  }
  if (k->fd < 0) {
    std::fprintf(stderr, "vorn_keyfile: cannot create the folders of \"%s\": %s\n", path, std::strerror(error));
    return false;
  }
  if (!trusted(k->fd, start)) return false;
  const char* last = std::strrchr(path, '/');
  size_t name_at = last == nullptr ? 0 : static_cast<size_t>(last - path) + 1;
  for (size_t from = 0, to = 0; to + 1 < name_at; from = to + 1) {
    to = static_cast<size_t>(std::strchr(path + from, '/') - path);
    if (to > from && !enterFolder(k, from, to)) return false;
  }
  *name = path + name_at;
  return true;
}

// Writes the scrambled text to a new file name in the folder fd, mode 0444
// whatever the umask, and forces it to disk. Returns 0, else the error number;
// *created says whether the file was made.
int writeTemporary(int fd, const char* name, const char scrambled[kScrambledKeyChars], bool* created) {
  int file = openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400);
  *created = file >= 0;
  if (file < 0) return errno;
  // The creation mask may have taken bits away; the loader wants exactly 0444.
  bool ok = fchmod(file, 0444) == 0;
  for (size_t done = 0; ok && done < kScrambledKeyChars;) {
    ssize_t n = write(file, scrambled + done, kScrambledKeyChars - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(file) == 0;
  int error = errno;
  if (close(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  return ok ? 0 : error;
}

namespace {

// Prints the key's 32 hexadecimal digits; false, with errno set, when standard
// output does not take them.
bool printKey(const uint8_t key[kKeyBytes]) {
  for (size_t i = 0; i < kKeyBytes; i++) std::printf("%02x", key[i]);
  return std::putchar('\n') != EOF && std::fflush(stdout) == 0;
}

// A name for the file while it is written, in the key file's folder, that no
// later run takes for anything: ".vorn_keyfile-" and 12 random hexadecimal
// digits. False when the random source fails.
bool temporaryName(char name[kTemporaryNameSize]) {
  uint8_t random[6];
  return randomNonZero(random, sizeof random) &&
         formatText(name, kTemporaryNameSize, ".vorn_keyfile-%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2],
                    random[3], random[4], random[5]);
}

// Puts the key file name into the folder fd complete or not at all: written
// under the name temporary, forced to disk, then linked to name, which never
// replaces a file, and the folder forced to disk. Returns 0, else the error
// number, with *writing telling a failed write from a failed creation of the
// file or its name; *linked says whether the file got its name.
int placeKeyFile(int fd, const char* name, const char* temporary, const char scrambled[kScrambledKeyChars],
                 bool* writing, bool* linked) {
  bool made = false;
  int error = writeTemporary(fd, temporary, scrambled, &made);
  *writing = made;
  if (error == 0 && linkat(fd, temporary, fd, name, 0) != 0) {
    error = errno;
    *writing = false;
  }
  *linked = error == 0;
  if (made) unlinkat(fd, temporary, 0);
  // Forced to disk through a descriptor that can be, opened afresh.
  int folder = error == 0 ? openat(fd, ".", kNewFolderFlags) : -1;
  if (error == 0 && (folder < 0 || fsync(folder) != 0)) {
    error = errno;
    *writing = true;
  }
  if (folder >= 0) close(folder);
  return error;
}

// Writes the key file for key at path; on failure prints why and leaves nothing.
int writeKeyFile(const char* path, const uint8_t key[kKeyBytes], bool print_key) {
  char scrambled[kScrambledKeyChars];
  char temporary[kTemporaryNameSize];
  if (!scrambledKeyText(key, scrambled) || !temporaryName(temporary)) {
    wipe(scrambled, sizeof scrambled);
    std::fprintf(stderr, "vorn_keyfile: cannot get random bytes from \"%s\"\n", kRandomSource);
    return kNotWritten;
  }
  static KeyFolder folder;
  const char* name = nullptr;
  bool writing = false;
  bool linked = false;
  int error = -1;
  if (openKeyFolder(path, &folder, &name))
    error = placeKeyFile(folder.fd, name, temporary, scrambled, &writing, &linked);
  wipe(scrambled, sizeof scrambled);
  // A key that could not be kept is of no use: the file goes too.
  bool printed = error != 0 || !print_key || printKey(key);
  if (error == 0 && !printed) error = errno;
  if (error != 0 && linked) unlinkat(folder.fd, name, 0);
  closeKeyFolder(&folder, error != 0);
  if (error <= 0) return error == 0 ? 0 : kNotWritten;
  if (!printed) {
    std::fprintf(stderr, "vorn_keyfile: cannot print the key (%s); \"%s\" removed\n", std::strerror(error), path);
  } else if (!writing && error == EEXIST) {
    std::fprintf(stderr, "vorn_keyfile: \"%s\" exists; a key file is never replaced\n", path);
  } else {
    std::fprintf(stderr, "vorn_keyfile: cannot %s \"%s\": %s\n", writing ? "write" : "create", path,
                 std::strerror(error));
  }
  return kNotWritten;
}

// The key's digits as read from standard input, wiped before the program ends.
char stdin_key[2 * kKeyBytes + 3];

// Reads at most the 32 digits and a newline from standard input into stdin_key
// (from a terminal, one line without echo); anything longer is kept long
// enough to be refused, and a zero byte anywhere makes it empty, so that it is
// refused too.
const char* readStdinKey() {
  bool hidden = isatty(STDIN_FILENO) && echoOff(STDIN_FILENO);
  if (hidden) std::fputs("Key (32 hexadecimal digits): ", stderr);
  size_t n = 0;
  while (n < sizeof stdin_key - 1 && !(hidden && n > 0 && stdin_key[n - 1] == '\n')) {
    ssize_t got = read(STDIN_FILENO, stdin_key + n, sizeof stdin_key - 1 - n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    n += static_cast<size_t>(got);
  }
  if (hidden) {
    restoreEcho();
    std::fputc('\n', stderr);
  }
  if (std::memchr(stdin_key, '\0', n) != nullptr) n = 0;
  if (n > 0 && stdin_key[n - 1] == '\n') n--;
  stdin_key[n] = '\0';
  return stdin_key;
}

struct Settings {
  const char* hex = nullptr;
  bool print_key = false;
  bool check = false;
  bool rotate = false;
  bool key_stdin = false;
  const char* key_file = nullptr;
  const char* path = vorn_key_path;
};

bool takeOption(int c, const char* arg, void* context) {
  Settings* s = static_cast<Settings*>(context);
  if (c == 'P' || c == 'C' || c == 'R') {
    (c == 'P' ? s->print_key : c == 'C' ? s->check : s->rotate) = true;
  } else if (c == 'F') {
    s->key_file = arg;
  } else if (s->hex != nullptr) {
    std::fputs("vorn_keyfile: --key given twice\n", stderr);
    return false;
  } else {
    s->key_stdin = c == 'S';
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
  uint8_t loaded[kKeyBytes];
  bool found = vorn_load_key(path, loaded);
  bool same = found && std::memcmp(loaded, key, kKeyBytes) == 0;
  wipe(loaded, sizeof loaded);
  if (!found) {
    std::fprintf(stderr, "vorn_keyfile: no key can be loaded from \"%s\"\n", path);
    return kNoKey;
  }
  if (same) return 0;
  std::fprintf(stderr, "vorn_keyfile: \"%s\" holds another key\n", path);
  return kOtherKey;
}

// --rotate --key-stdin [--key-file=PATH] FILE..., exactly; false after saying
// what is wrong.
bool rotationUsage(int argc, const Settings& s) {
  const char* wrong = nullptr;
  size_t files = static_cast<size_t>(argc - vornopt::optind);
  if (!s.key_stdin || s.check || s.print_key) {
    wrong = "--rotate takes the new key with --key-stdin, and neither --key, --check nor --print-key";
  } else if (files == 0 || files > kMaxRotatedFiles) {
    wrong = "--rotate takes from 1 to 64 FILEs";
  } else if (s.key_file != nullptr && s.key_file[0] == '\0') {
    wrong = "the path is empty";
  }
  if (wrong != nullptr) std::fprintf(stderr, "vorn_keyfile: %s\n", wrong);
  return wrong == nullptr;
}

int rotate(int argc, char** argv, const Settings& s) {
  if (!rotationUsage(argc, s)) return usageError(kUsage);
  uint8_t key[kKeyBytes];
  int status = chooseKey(s.hex, key);
  if (status == 0) {
    size_t files = static_cast<size_t>(argc - vornopt::optind);
    status = rotateKey(s.key_file != nullptr ? s.key_file : vorn_key_path, key, argv + vornopt::optind, files);
  }
  wipe(key, sizeof key);
  return status;
}

int run(int argc, char** argv) {
  static const ToolCommandLine kCommandLine = {
      .short_options = "k:h", .long_options = kLongOptions, .usage = kUsage, .help_failed_status = kNotWritten};
  Settings s;
  int status = parseToolOptions(argc, argv, kCommandLine, takeOption, &s);
  if (status >= 0) return status;
  if (s.rotate) return rotate(argc, argv, s);
  if (s.key_file != nullptr) {
    std::fputs("vorn_keyfile: --key-file goes with --rotate; give the key file as PATH otherwise\n", stderr);
    return usageError(kUsage);
  }
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
  // Past a file-size limit a write fails with EFBIG instead of killing the
  // process, so the file is removed too.
  signal(SIGXFSZ, SIG_IGN);
  keepSecretsOutOfDumps();
  int status = run(argc, argv);
  wipe(stdin_key, sizeof stdin_key);
  return status;
}
