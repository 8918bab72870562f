#include "config_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chores.h"
#include "vorncrypt.h"

namespace {

// One replacement under way.
struct Replacement {
  char tmp_fn[PATH_MAX];           // PATH~
  int fd = -1;                     // the temporary file, once created
  bool replaced = false;           // the temporary file has become PATH
  char* encrypted_text = nullptr;  // the bytes written when encrypting
};

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

// Names and creates the temporary file. A name that does not fit PATH_MAX is
// one the kernel refuses as too long, and is reported as it would be.
bool createTemporary(const char* path, const char* end, Replacement* r) {
  size_t path_len = std::strlen(path);
  if (path_len + 2 > sizeof r->tmp_fn) {
    errno = ENAMETOOLONG;
  } else {
    std::memcpy(r->tmp_fn, path, path_len);
    std::memcpy(r->tmp_fn + path_len, "~", 2);
    r->fd = open(r->tmp_fn, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0444);
  }
  if (r->fd < 0) {
    std::fprintf(stderr, "Failed to create \"%s\" (%s)%s", path, std::strerror(errno), end);
    return false;
  }
  return true;
}

// The bytes to write: text, or with encrypt its encrypted form. Null, after
// saying why, when the key cannot be loaded or the encryption fails.
const char* bytesToWrite(const char* text, bool encrypt, Replacement* r) {
  if (!encrypt) return text;
  r->encrypted_text = vorn_encrypts(text);
  if (r->encrypted_text == nullptr) {
    std::fprintf(stderr, "Failed to encrypt the configuration with the key from \"%s\"\n", vorn_key_path);
    return nullptr;
  }
  if (*r->encrypted_text == '\0') {
    std::fprintf(stderr, "Cannot load the encryption key from \"%s\"\n", vorn_key_path);
    return nullptr;
  }
  return r->encrypted_text;
}

bool writeAndReplace(const char* bytes, const char* path, Replacement* r) {
  size_t len = std::strlen(bytes);
  bool written = write(r->fd, bytes, len) == static_cast<ssize_t>(len) && fsync(r->fd) == 0;
  if (!written || rename(r->tmp_fn, path) != 0) {
    std::perror("Failed to write new secret");
    return false;
  }
  r->replaced = true;
  // Best effort: the new file is in place whether or not its entry is on disk.
  syncFolderOf(path);
  return true;
}

// Removes a temporary file that did not become path, closes it, and wipes and
// releases the encrypted text.
void finishReplacement(Replacement* r) {
  if (r->fd >= 0) {
    if (!r->replaced) unlink(r->tmp_fn);
    close(r->fd);
  }
  if (r->encrypted_text != nullptr && r->encrypted_text != vorn_empty_text) {
    wipe(r->encrypted_text, std::strlen(r->encrypted_text));
    std::free(r->encrypted_text);
  }
}

}  // namespace

bool replaceConfigFile(const char* path, const char* text, bool encrypt, const char* create_end) {
  Replacement r;
  const char* bytes = nullptr;
  bool done = targetIsReplaceable(path) && createTemporary(path, create_end, &r) &&
              (bytes = bytesToWrite(text, encrypt, &r)) != nullptr && writeAndReplace(bytes, path, &r);
  finishReplacement(&r);
  return done;
}
