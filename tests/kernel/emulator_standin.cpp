// Stands in, inside the 32-bit guest, for the user-mode emulator that the i386
// test programs were built to start their programs with ("<emulator> -L <dir>
// [-E NAME=value]... -0 <argv0> <program> [args]"). The guest's kernel runs
// 32-bit programs itself, so this only applies the options and executes the
// program directly, with the chosen argv[0].
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const char* argv0 = nullptr;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; i += 2) {
    if (i + 1 >= argc) break;
    if (std::strcmp(argv[i], "-E") == 0) {
      if (putenv(argv[i + 1]) != 0) return 127;
    } else if (std::strcmp(argv[i], "-0") == 0) {
      argv0 = argv[i + 1];
    } else if (std::strcmp(argv[i], "-L") != 0) {
      std::fprintf(stderr, "emulator stand-in: unknown option %s\n", argv[i]);
      return 127;
    }
  }
  if (i >= argc) {
    std::fprintf(stderr, "emulator stand-in: no program to run\n");
    return 127;
  }
  const char* program = argv[i];
  argv[i] = const_cast<char*>(argv0 != nullptr ? argv0 : program);
  execv(program, argv + i);
  std::fprintf(stderr, "emulator stand-in: cannot execute %s: %s\n", program, std::strerror(errno));
  return 127;
}
