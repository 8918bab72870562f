// quordex_helper: sets (second argument non-zero) or clears (zero) the immutable
// attribute of one file. Every other attribute bit is written back as it was
// read. Prints nothing on success; every failure is one line on standard error
// and status 1, and leaves the file's attributes as they were.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "text_to_int.h"

// The kernel copies an int for these requests, whatever the request's encoded
// size says; the attribute word is 32 bits on every build.
static_assert(sizeof(int) == sizeof(int32_t));
static_assert(FS_IMMUTABLE_FL == 0x10);
#if defined(__i386__)
static_assert(FS_IOC_GETFLAGS == 0x80046601u);
static_assert(FS_IOC_SETFLAGS == 0x40046602u);
#endif

int main(int argc, char** argv) {
  if (argc != 3) {
    // An empty argument vector has no invocation name to show.
    std::fprintf(stderr, "Usage: %s <path> <1|0>\n", argc > 0 ? argv[0] : "quordex_helper");
    return 1;
  }
  const int32_t enable = textToInt32(argv[2]);

  // No O_NOFOLLOW: a symbolic link is followed and its target changes.
  const int fd = open(argv[1], O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    std::perror("quordex_helper: Open failed");
    return 1;
  }
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) < 0) {
    std::perror("quordex_helper: Get flags failed");
    close(fd);
    return 1;
  }
  if (enable != 0) {
    flags |= FS_IMMUTABLE_FL;
  } else {
    flags &= ~FS_IMMUTABLE_FL;
  }
  // Written back even when the bit already had its value.
  if (ioctl(fd, FS_IOC_SETFLAGS, &flags) < 0) {
    std::perror("quordex_helper: Set flags failed (Operation not permitted)");
    close(fd);
    return 1;
  }
  close(fd);
  return 0;
}
