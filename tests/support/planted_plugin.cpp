// A client plugin that a caller plants for vorn_dbcheck: loaded as evil.so, its
// constructor leaves the file "planted-plugin-ran" in the working folder, so a
// test sees whether the client library ever loaded it. It registers nothing.
#include <fcntl.h>
#include <unistd.h>

__attribute__((constructor)) static void leaveMark() {
  int fd = open("planted-plugin-ran", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}
