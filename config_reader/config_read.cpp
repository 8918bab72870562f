#include "config_read.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vorncrypt.h"

namespace {

constexpr char kPlainStart[] = "\" AUTH_KEY\n";
constexpr char kConfigName[] = "/.vorn_sql";

int failed(const char* format, const char* a, const char* b = "") {
  std::fprintf(stderr, format, a, b);
  return kReadFailed;
}

// Reads all of fd into buf, at most size bytes; the count read, or -1.
ssize_t readAll(int fd, char* buf, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buf + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

bool defaultConfigPath(char* path, size_t size) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    std::fputs("Cannot determine home directory\n", stderr);
    return false;
  }
  if (std::strlen(home) + sizeof kConfigName > size) {
    std::fputs("The home directory's path is too long\n", stderr);
    return false;
  }
  std::strcpy(path, home);
  std::strcat(path, kConfigName);
  return true;
}

int readConfigFile(const char* path, const char* key_path, char* text, size_t* len) {
  // Non-blocking, so that opening a FIFO returns at once; the type test then
  // refuses it. A regular file reads the same either way.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failed("Cannot open \"%s\": %s\n", path, std::strerror(errno));
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    return failed("Cannot read \"%s\": %s\n", path, std::strerror(error));
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return failed("Cannot read \"%s\": not a regular file\n", path);
  }
  // One byte more than allowed is read, so that a file that grew since the
  // status query is still found too large.
  char raw[kConfigFileMax + 2];
  ssize_t got = st.st_size > static_cast<off_t>(kConfigFileMax) ? 0 : readAll(fd, raw, kConfigFileMax + 1);
  int error = errno;
  close(fd);
  if (st.st_size > static_cast<off_t>(kConfigFileMax) || got > static_cast<ssize_t>(kConfigFileMax)) {
    explicit_bzero(raw, sizeof raw);
    return failed("Cannot read \"%s\": larger than 4096 bytes\n", path);
  }
  if (got < 0) return failed("Cannot read \"%s\": %s\n", path, std::strerror(error));
  size_t n = static_cast<size_t>(got);
  raw[n] = '\0';

  if (n >= sizeof kPlainStart - 1 && std::memcmp(raw, kPlainStart, sizeof kPlainStart - 1) == 0) {
    std::memcpy(text, raw, n + 1);
    explicit_bzero(raw, sizeof raw);
    *len = n;
    return 0;
  }
  if (n == 0) return failed("\"%s\" is empty\n", path);

  const char* key_file = key_path != nullptr ? key_path : vorn_key_path;
  // The encrypted form is a text: a zero byte in it is damage, not an end.
  size_t plain_len = 0;
  char* plain = std::memchr(raw, '\0', n) != nullptr ? nullptr : vorn_decrypts_from(raw, key_file, &plain_len);
  explicit_bzero(raw, sizeof raw);
  if (plain == vorn_empty_text) return failed("Cannot load the encryption key from \"%s\" to read \"%s\"\n", key_file, path);
  if (plain == nullptr) {
    std::fprintf(stderr, "\"%s\" is neither a plain configuration nor encrypted under the key from \"%s\"\n", path,
                 key_file);
    return kReadFailed;
  }
  // Decryption gives fewer bytes than the base64 text it came from.
  std::memcpy(text, plain, plain_len + 1);
  explicit_bzero(plain, plain_len);
  std::free(plain);
  *len = plain_len;
  return 0;
}
