#include "chores.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

int usageError(const char* usage) {
  std::fputs(usage, stderr);
  return kUsageStatus;
}

int printHelp(const char* usage, int failed_status) {
  std::fputs(usage, stdout);
  return std::fflush(stdout) == 0 ? 0 : failed_status;
}

const char* homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    std::fputs("Cannot determine home directory\n", stderr);
    return nullptr;
  }
  return home;
}

bool defaultConfigPath(char* path, size_t size) {
  const char* home = homeDirectory();
  if (home == nullptr) return false;
  if (!formatText(path, size, "%s%s", home, kConfigFileName)) {
    std::fputs("The home directory's path is too long\n", stderr);
    return false;
  }
  return true;
}

bool syncFolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  char folder[PATH_MAX];
  if (slash == nullptr) {
    std::memcpy(folder, ".", 2);
  } else {
    // The root folder keeps its slash; any other loses the one before the name.
    size_t n = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (n >= sizeof folder) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(folder, path, n);
    folder[n] = '\0';
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  int error = errno;
  close(fd);
  errno = error;
  return synced;
}

int openRandomSource() { return open(kRandomSource, O_RDONLY | O_CLOEXEC); }

void wipe(void* buffer, size_t bytes) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
  for (size_t i = 0; i < bytes; i++) p[i] = 0;
}

// A C variadic function, so that the format attribute lets the compiler check
// every call's arguments against its format.
bool formatText(char* buf, size_t size, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, size, format, args);
  va_end(args);
  return n >= 0 && static_cast<size_t>(n) < size;
}
