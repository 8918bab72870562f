#include "config_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chores.h"
#include "vorncrypt.h"

char* temporaryPath(const char* path) {
  size_t path_len = std::strlen(path);
  char* tmp_path = static_cast<char*>(std::malloc(path_len + 2));
  if (tmp_path == nullptr) {
    std::perror("malloc()");
    _exit(1);
  }
  std::memcpy(tmp_path, path, path_len);
  tmp_path[path_len] = '~';
  tmp_path[path_len + 1] = '\0';
  return tmp_path;
}

const char* configBytes(const char* text, bool encrypt, char** held) {
  *held = nullptr;
  if (!encrypt) return text;
  char* encrypted = vorn_encrypts(text);
  if (encrypted == nullptr) {
    std::fprintf(stderr, "Failed to encrypt the configuration with the key from \"%s\"\n", vorn_key_path);
    return nullptr;
  }
  if (*encrypted == '\0') {
    std::fprintf(stderr, "Cannot load the encryption key from \"%s\"\n", vorn_key_path);
    return nullptr;
  }
  *held = encrypted;
  return encrypted;
}

void releaseConfigBytes(char* held) {
  if (held == nullptr) return;
  wipe(held, std::strlen(held));
  std::free(held);
}

namespace {

// False, after saying so on standard error, when path is a device, a FIFO or a
// socket.
bool targetIsReplaceable(const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0) return true;  // nothing there, or the rename will say why
  const char* what = nullptr;
  if (S_ISCHR(st.st_mode)) what = "a character device";
  if (S_ISBLK(st.st_mode)) what = "a block device";
  if (S_ISFIFO(st.st_mode)) what = "a FIFO";
  if (S_ISSOCK(st.st_mode)) what = "a socket";
  if (what == nullptr) return true;
  std::fprintf(stderr, "Refusing to replace \"%s\": it is %s, not a configuration file\n", path, what);
  return false;
}

// Creates the temporary file; -1 after saying why.
int createTemporary(const char* path, const char* tmp_path, const char* end) {
  int fd = open(tmp_path, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0444);
  if (fd < 0) std::fprintf(stderr, "Failed to create \"%s\" (%s)%s", path, std::strerror(errno), end);
  return fd;
}

// Writes bytes into fd with one write, forces them to disk and renames tmp_path
// over path; false after saying why.
bool writeAndRename(int fd, const char* bytes, const char* tmp_path, const char* path) {
  size_t len = std::strlen(bytes);
  bool written = write(fd, bytes, len) == static_cast<ssize_t>(len) && fsync(fd) == 0;
  if (!written || rename(tmp_path, path) != 0) {
    std::perror("Failed to write new secret");
    return false;
  }
  // Best effort: the new file is in place whether or not its entry is on disk.
  syncFolderOf(path);
  return true;
}

}  // namespace

bool replaceConfigFile(const char* path, const char* tmp_path, const char* text, bool encrypt, const char* create_end) {
  if (!targetIsReplaceable(path)) return false;
  int fd = createTemporary(path, tmp_path, create_end);
  if (fd < 0) return false;
  char* held = nullptr;
  const char* bytes = configBytes(text, encrypt, &held);
  bool replaced = bytes != nullptr && writeAndRename(fd, bytes, tmp_path, path);
  if (!replaced) unlink(tmp_path);
  close(fd);
  releaseConfigBytes(held);
  return replaced;
}
