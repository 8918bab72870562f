// Prints the machine name that the kernel, or the emulator running this program,
// reports: "i686" under qemu-i386, "x86_64" when a 64-bit kernel runs it itself.
#include <sys/utsname.h>

#include <cstdio>

int main() {
  utsname u;
  if (uname(&u) != 0) return 1;
  std::puts(u.machine);
  return 0;
}
