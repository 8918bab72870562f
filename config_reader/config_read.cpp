#include "config_read.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chores.h"
#include "vorncrypt.h"

namespace {

constexpr char kPlainStart[] = "\" AUTH_KEY\n";

// Prints the message format with one or two texts on out and returns kReadFailed.
int failed(FILE* out, const char* format, const char* a, const char* b = nullptr) {
  if (b == nullptr) {
    std::fprintf(out, format, a);
  } else {
    // cppcheck follows the one-text calls' formats into this branch too.
    // cppcheck-suppress wrongPrintfScanfArgNum
    std::fprintf(out, format, a, b);
  }
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

// Reads the regular file at path as readConfigBytes does.
int readRaw(const char* path, const char* name, char* raw, size_t* n) {
  // Non-blocking, so that opening a FIFO returns at once; the type test then
  // refuses it. A regular file reads the same either way.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failed(stderr, "Cannot open \"%s\": %s\n", name, std::strerror(errno));
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    return failed(stderr, "Cannot read \"%s\": %s\n", name, std::strerror(error));
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return failed(stderr, "Cannot read \"%s\": not a regular file\n", name);
  }
  int status = st.st_size > static_cast<off_t>(kConfigFileMax)
                   ? failed(stderr, "Cannot read \"%s\": larger than 4096 bytes\n", name)
                   : readConfigBytes(fd, name, raw, n, stderr);
  close(fd);
  return status;
}

// Decrypts the n bytes of raw under the key from key_file into text; messages
// on out name the file as name and the key file in form.
int decryptRaw(const char* name, const char* key_file, DisplayForm form, const char* raw, size_t n, char* text,
               size_t* len, FILE* out) {
  // The encrypted form is a text: a zero byte in it is damage, not an end.
  size_t plain_len = 0;
  char* plain = std::memchr(raw, '\0', n) != nullptr ? nullptr : vorn_decrypts_from(raw, key_file, &plain_len);
  if (plain == vorn_empty_text)
    return failed(out, "Cannot load the encryption key from \"%s\" to read \"%s\"\n", shownName(key_file, form).text,
                  name);
  if (plain == nullptr) {
    std::fprintf(out, "\"%s\" is neither a plain configuration nor encrypted under the key from \"%s\"\n", name,
                 shownName(key_file, form).text);
    return kReadFailed;
  }
  // Decryption gives fewer bytes than the base64 text it came from.
  std::memcpy(text, plain, plain_len + 1);
  wipe(plain, plain_len);
  std::free(plain);
  *len = plain_len;
  return 0;
}

}  // namespace

int readConfigBytes(int fd, const char* name, char* raw, size_t* n, FILE* messages) {
  // One byte more than allowed is read, so that a file that grew since its
  // status query, or a longer stream, is still found too large.
  ssize_t got = readAll(fd, raw, kConfigFileMax + 1);
  if (got > static_cast<ssize_t>(kConfigFileMax)) {
    wipe(raw, kConfigFileMax + 2);
    return failed(messages, "Cannot read \"%s\": larger than 4096 bytes\n", name);
  }
  if (got < 0) return failed(messages, "Cannot read \"%s\": %s\n", name, std::strerror(errno));
  *n = static_cast<size_t>(got);
  raw[*n] = '\0';
  return 0;
}

bool isPlainConfig(const char* raw, size_t n) {
  return n >= sizeof kPlainStart - 1 && std::memcmp(raw, kPlainStart, sizeof kPlainStart - 1) == 0;
}

int configTextOf(const char* name, const char* key_path, DisplayForm form, const char* raw, size_t n, char* text,
                 size_t* len, FILE* messages) {
  if (isPlainConfig(raw, n)) {
    std::memcpy(text, raw, n + 1);
    *len = n;
    return 0;
  }
  if (n == 0) return failed(messages, "\"%s\" is empty\n", name);
  return decryptRaw(name, key_path != nullptr ? key_path : vorn_key_path, form, raw, n, text, len, messages);
}

int readConfigFile(const char* path, const char* key_path, DisplayForm form, char* text, size_t* len) {
  const ShownName name = shownName(path, form);
  char raw[kConfigFileMax + 2];
  size_t n = 0;
  int status = readRaw(path, name.text, raw, &n);
  if (status == 0) status = configTextOf(name.text, key_path, form, raw, n, text, len, stderr);
  wipe(raw, sizeof raw);
  return status;
}

int readConfigStream(int fd, const char* name, const char* key_path, DisplayForm form, char* text, size_t* len) {
  const ShownName shown = shownName(name, form);
  char raw[kConfigFileMax + 2];
  size_t n = 0;
  int status = readConfigBytes(fd, shown.text, raw, &n, stderr);
  if (status == 0) status = configTextOf(shown.text, key_path, form, raw, n, text, len, stderr);
  wipe(raw, sizeof raw);
  return status;
}
