// vorn_keyfile: writes a new key file, mode 0444, for the key given with --key
// or for a random one. The key bytes are placed among random non-zero filler so
// that all 66 bytes of key material are used, the material is base64-encoded to
// 88 characters, and those are scrambled with the key index table: the loader's
// two passes undo exactly these two steps.
// Status 0: written; 1: not written (nothing left behind); 2: usage error.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "getopt.h"
#include "vorncrypt.h"
#include "vorncrypt_internal.h"

namespace {

constexpr size_t kKeyBytes = 16;
static_assert(kKeyBytes <= kKeyMaterialBytes);
constexpr int kNotWritten = 1;
constexpr int kUsageError = 2;
// Folders that may be created for the key file's path, at most.
constexpr size_t kMaxNewFolders = 64;

void usage(FILE* out) {
  std::fprintf(out,
               "Usage: vorn_keyfile [-k HEX|--key=HEX] [--print-key] [PATH]\n"
               "Writes a new key file at PATH (default: %s) for the key given as 32\n"
               "hexadecimal digits, none of its bytes 00, or else for a random key. An existing\n"
               "file is never replaced; missing folders are created with mode 0755.\n"
               "  -k, --key=HEX    the key, 32 hexadecimal digits\n"
               "      --print-key  print the key's 32 hexadecimal digits on standard output\n"
               "  -h, --help       print this help\n"
               "Exit status: 0 written, 1 not written, 2 usage error.\n",
               vorn_key_path);
}

int usageError() {
  usage(stderr);
  return kUsageError;
}

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
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
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
  explicit_bzero(chunk, sizeof chunk);
  close(fd);
  return filled == count;
}

// The 88 scrambled characters for key, or false when the random filler or the
// encoding cannot be had.
bool scrambledKeyText(const uint8_t key[kKeyBytes], char scrambled[kScrambledKeyChars]) {
  uint8_t material[kKeyMaterialBytes];
  if (!randomNonZero(material, sizeof material)) return false;
  for (size_t i = 0; i < kKeyBytes; i++) material[YeltoEncodeChars[i]] = key[i];
  char* text = base64_encode(material, sizeof material);
  explicit_bzero(material, sizeof material);
  if (text == nullptr) return false;
  for (size_t i = 0; i < kScrambledKeyChars; i++) scrambled[YeltoEncodeChars[i]] = text[i];
  explicit_bzero(text, kScrambledKeyChars + 1);
  std::free(text);
  return true;
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

// Creates the missing folders above file, mode 0755, recording them in made.
// False, with errno set and the folders made removed again, on failure.
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
    int error = 0;
    if (mkdir(made->path, 0755) == 0) {
      if (made->count == kMaxNewFolders) {
        rmdir(made->path);
        error = ENAMETOOLONG;
      } else {
        made->ends[made->count++] = i;
        // mkdir takes the umask away; the folders are to be readable by everyone.
        if (chmod(made->path, 0755) != 0) error = errno;
      }
    } else if (errno != EEXIST) {
      error = errno;
    }
    made->path[i] = '/';
    if (error != 0) {
      removeFolders(made);
      errno = error;
      return false;
    }
  }
  return true;
}

// Forces the folder holding path to disk, so that the new entry survives a crash.
bool syncFolder(const char* path) {
  char folder[PATH_MAX];
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else if (slash == path) {
    std::strcpy(folder, "/");
  } else {
    size_t n = static_cast<size_t>(slash - path);
    if (n >= sizeof folder) return false;
    std::memcpy(folder, path, n);
    folder[n] = '\0';
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// Writes the key file for key at path; on failure prints why and leaves nothing.
int writeKeyFile(const char* path, const uint8_t key[kKeyBytes], bool print_key) {
  char scrambled[kScrambledKeyChars];
  if (!scrambledKeyText(key, scrambled)) {
    std::fputs("vorn_keyfile: cannot get random bytes from \"/dev/urandom\"\n", stderr);
    return kNotWritten;
  }
  static NewFolders made;
  if (!makeParents(path, &made)) {
    explicit_bzero(scrambled, sizeof scrambled);
    std::fprintf(stderr, "vorn_keyfile: cannot create the folders of \"%s\": %s\n", path, std::strerror(errno));
    return kNotWritten;
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
  if (fd < 0) {
    int error = errno;
    explicit_bzero(scrambled, sizeof scrambled);
    removeFolders(&made);
    if (error == EEXIST) {
      std::fprintf(stderr, "vorn_keyfile: \"%s\" exists; a key file is never replaced\n", path);
    } else {
      std::fprintf(stderr, "vorn_keyfile: cannot create \"%s\": %s\n", path, std::strerror(error));
    }
    return kNotWritten;
  }
  // The creation mask may have taken bits away; the loader wants exactly 0444.
  bool ok = fchmod(fd, 0444) == 0 &&
            write(fd, scrambled, sizeof scrambled) == static_cast<ssize_t>(sizeof scrambled) && fsync(fd) == 0;
  int error = errno;
  explicit_bzero(scrambled, sizeof scrambled);
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !syncFolder(path)) {
    ok = false;
    error = errno;
  }
  if (ok && print_key) {
    for (size_t i = 0; i < kKeyBytes; i++) std::printf("%02x", key[i]);
    ok = std::putchar('\n') != EOF && std::fflush(stdout) == 0;
    error = errno;
    // A key that could not be kept is of no use: the file goes too.
    if (!ok) {
      unlink(path);
      removeFolders(&made);
      std::fprintf(stderr, "vorn_keyfile: cannot print the key (%s); \"%s\" removed\n", std::strerror(error), path);
      return kNotWritten;
    }
  }
  if (!ok) {
    unlink(path);
    removeFolders(&made);
    std::fprintf(stderr, "vorn_keyfile: cannot write \"%s\": %s\n", path, std::strerror(error));
    return kNotWritten;
  }
  return 0;
}

const vornopt::option kLongOptions[] = {
    {"key", vornopt::required_argument, nullptr, 'k'},
    {"print-key", vornopt::no_argument, nullptr, 'P'},
    {"help", vornopt::no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

int run(int argc, char** argv) {
  const char* hex = nullptr;
  bool print_key = false;
  for (;;) {
    int c = vornopt::_getopt_long(argc, argv, "k:h", kLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'k':
        if (hex != nullptr) {
          std::fputs("vorn_keyfile: --key given twice\n", stderr);
          return usageError();
        }
        hex = vornopt::optarg;
        break;
      case 'P':
        print_key = true;
        break;
      case 'h':
        usage(stdout);
        return std::fflush(stdout) == 0 ? 0 : kNotWritten;
      default:
        // The parser's message ends without a newline.
        std::fputs("\n", stderr);
        return usageError();
    }
  }
  int operands = argc - vornopt::optind;
  const char* path = vorn_key_path;
  if (argc == 3 && operands == 2) {
    // The earlier form, without options: vorn_keyfile HEX PATH.
    hex = argv[vornopt::optind];
    path = argv[vornopt::optind + 1];
  } else if (operands == 1) {
    path = argv[vornopt::optind];
  } else if (operands > 1) {
    std::fputs("vorn_keyfile: one PATH at most\n", stderr);
    return usageError();
  }
  if (path[0] == '\0') {
    std::fputs("vorn_keyfile: the path is empty\n", stderr);
    return usageError();
  }

  uint8_t key[kKeyBytes];
  if (hex == nullptr) {
    if (!randomNonZero(key, sizeof key)) {
      std::fputs("vorn_keyfile: cannot get random bytes from \"/dev/urandom\"\n", stderr);
      return kNotWritten;
    }
  } else if (!parseKey(hex, key)) {
    std::fputs("vorn_keyfile: the key must be exactly 32 hexadecimal digits\n", stderr);
    return kUsageError;
  } else if (std::memchr(key, 0, sizeof key) != nullptr) {
    explicit_bzero(key, sizeof key);
    std::fputs("vorn_keyfile: the key must not contain a zero byte (00): it would end the key there\n", stderr);
    return kUsageError;
  }
  int status = writeKeyFile(path, key, print_key);
  explicit_bzero(key, sizeof key);
  return status;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
