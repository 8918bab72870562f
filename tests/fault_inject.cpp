// Test-only interposer, preloaded (LD_PRELOAD) into a program of this tree to
// make one chosen call fail, so that the failure paths of the program can be
// reached without touching its code. Controlled by the environment:
//   VORN_FAIL_ALLOC=N      the Nth allocation (malloc, calloc or realloc, counted
//                          from 1) returns null with ENOMEM. glibc's own
//                          allocating functions (strdup, stdio buffers, ...) go
//                          through these three, so they are counted too.
//   VORN_FAIL_CALL=NAME    open: an exclusive creation (O_CREAT with O_EXCL)
//                          fails with EROFS;
//                          write: every write to a descriptor above 2 fails with
//                          ENOSPC; short_write: writes only half its bytes;
//                          fsync: fsync of a regular file fails with EIO;
//                          fsync_dir: fsync of a directory fails with EIO;
//                          rename: rename fails with EACCES; link: linkat
//                          fails with EPERM (a file system without hard
//                          links); mkdirat: mkdirat fails with ENOSPC.
//   VORN_ALLOC_COUNT=PATH  at normal exit, the number of allocations is written
//                          to PATH as decimal text.
//   VORN_DUMPABLE=1        the number written is prctl(PR_GET_DUMPABLE) instead.
// Counting starts when the library is initialised, before main, so only the
// program's own run is counted.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
}

namespace {

enum FailCall { kNone, kOpen, kWrite, kShortWrite, kFsync, kFsyncDir, kRename, kLink, kMkdirat };

bool counting = false;
long allocations = 0;
long fail_allocation = 0;
FailCall fail_call = kNone;
const char* count_path = nullptr;

using OpenFn = int (*)(const char*, int, ...);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using FsyncFn = int (*)(int);
using RenameFn = int (*)(const char*, const char*);
OpenFn real_open64 = nullptr;
WriteFn real_write = nullptr;
FsyncFn real_fsync = nullptr;
RenameFn real_rename = nullptr;
int (*real_linkat)(int, const char*, int, const char*, int) = nullptr;
int (*real_mkdirat)(int, const char*, mode_t) = nullptr;

// True when this allocation is the one to fail.
bool failNow() {
  if (!counting) return false;
  if (++allocations != fail_allocation) return false;
  errno = ENOMEM;
  return true;
}

__attribute__((constructor)) void start() {
  // Looked up before counting starts: the lookup itself may allocate.
  real_open64 = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "open64"));
  real_write = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  real_fsync = reinterpret_cast<FsyncFn>(dlsym(RTLD_NEXT, "fsync"));
  real_rename = reinterpret_cast<RenameFn>(dlsym(RTLD_NEXT, "rename"));
  real_linkat = reinterpret_cast<decltype(real_linkat)>(dlsym(RTLD_NEXT, "linkat"));
  real_mkdirat = reinterpret_cast<decltype(real_mkdirat)>(dlsym(RTLD_NEXT, "mkdirat"));
  if (const char* n = std::getenv("VORN_FAIL_ALLOC")) fail_allocation = std::strtol(n, nullptr, 10);
  if (const char* c = std::getenv("VORN_FAIL_CALL")) {
    const struct {
      const char* name;
      FailCall call;
    } calls[] = {{"open", kOpen},   {"write", kWrite},        {"short_write", kShortWrite},
                 {"fsync", kFsync}, {"fsync_dir", kFsyncDir}, {"rename", kRename},
                 {"link", kLink},   {"mkdirat", kMkdirat}};
    for (const auto& k : calls)
      if (std::strcmp(c, k.name) == 0) fail_call = k.call;
  }
  count_path = std::getenv("VORN_ALLOC_COUNT");
  counting = true;
}

__attribute__((destructor)) void finish() {
  counting = false;
  if (count_path == nullptr || real_write == nullptr) return;
  char text[24];
  size_t len = 0;
  long n = std::getenv("VORN_DUMPABLE") != nullptr ? prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) : allocations;
  char digits[24];
  do {
    digits[len++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  for (size_t i = 0; i < len; i++) text[i] = digits[len - 1 - i];
  int fd = open(count_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  real_write(fd, text, len);
  close(fd);
}

bool isDirectory(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return failNow() ? nullptr : __libc_malloc(size); }
void* calloc(size_t count, size_t size) { return failNow() ? nullptr : __libc_calloc(count, size); }
void* realloc(void* ptr, size_t size) { return failNow() ? nullptr : __libc_realloc(ptr, size); }

// open and open64 in one function, defined under the symbols' own names: with
// 64-bit file offsets (the i386 build) the header makes open a name for open64.
// Both go to open64, which differs only in allowing large files.
int interposedOpen(const char* path, int flags, ...) __asm__("open64");
int interposedOpen(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (fail_call == kOpen && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
    errno = EROFS;
    return -1;
  }
  return real_open64(path, flags, mode);
}
int interposedPlainOpen(const char* path, int flags, ...) __asm__("open") __attribute__((alias("open64")));

ssize_t write(int fd, const void* buf, size_t count) {
  if (fd > 2 && fail_call == kWrite) {
    errno = ENOSPC;
    return -1;
  }
  if (fd > 2 && fail_call == kShortWrite && count > 1) return real_write(fd, buf, count / 2);
  return real_write(fd, buf, count);
}

int fsync(int fd) {
  if ((fail_call == kFsync && !isDirectory(fd)) || (fail_call == kFsyncDir && isDirectory(fd))) {
    errno = EIO;
    return -1;
  }
  return real_fsync(fd);
}

int rename(const char* from, const char* to) {
  if (fail_call == kRename) {
    errno = EACCES;
    return -1;
  }
  return real_rename(from, to);
}

int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  if (fail_call != kLink) return real_linkat(from_dir, from, to_dir, to, flags);
  errno = EPERM;
  return -1;
}

int mkdirat(int dir, const char* path, mode_t mode) {
  if (fail_call != kMkdirat) return real_mkdirat(dir, path, mode);
  errno = ENOSPC;
  return -1;
}

}  // extern "C"
