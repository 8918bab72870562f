/* The floor for the peak-memory comparison: the system calls of a plain
 * vorn_sql run that writes FILE, and nothing else. It reads 80 bytes of
 * entropy, asks one question, reads the answer, creates FILE~ exclusively,
 * writes BYTES bytes (300 unless given) in one call, syncs, renames it to FILE
 * and syncs the folder. Raw system calls only: no stdio, no allocation, no
 * locale, so that every page it touches is one any such program needs.
 *
 * With "stdio" as third argument the question goes through stdio as in
 * vorn_sql (fputs, fflush, getchar: the same write, and the same fstat and
 * 4096-byte read of the answer), so that the two make exactly the same calls.
 *
 *   syscall_baseline FILE [BYTES [stdio]]
 */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum { kMaxPath = 4096, kMaxBytes = 4096 };

static char text[kMaxBytes];

static int fail(const char *what) {
  static const char prefix[] = "syscall_baseline: failed to ";
  (void)!write(2, prefix, sizeof prefix - 1);
  (void)!write(2, what, strlen(what));
  (void)!write(2, "\n", 1);
  return 1;
}

/* Decimal digits only; no strtol, which would reach the locale tables. */
static long parseCount(const char *s) {
  long n = 0;
  if (*s == '\0') return -1;
  for (; *s != '\0'; s++) {
    if (*s < '0' || *s > '9' || n > kMaxBytes) return -1;
    n = n * 10 + (*s - '0');
  }
  return n <= kMaxBytes ? n : -1;
}

int main(int argc, char **argv) {
  if (argc < 2 || argc > 4) return fail("parse the command line: syscall_baseline FILE [BYTES [stdio]]");
  int use_stdio = argc == 4 && strcmp(argv[3], "stdio") == 0;
  const char *file = argv[1];
  long bytes = argc >= 3 ? parseCount(argv[2]) : 300;
  size_t file_len = strlen(file);
  if (bytes < 0 || file_len + 2 > kMaxPath) return fail("parse the command line");

  signal(SIGXFSZ, SIG_IGN);

  unsigned char entropy[80];
  int rnd = open("/dev/urandom", O_RDONLY);
  if (rnd < 0 || read(rnd, entropy, sizeof entropy) != (ssize_t)sizeof entropy) return fail("read /dev/urandom");
  close(rnd);

  static const char question[] = "\nDo you want me to update your file (y/n) ";
  char answer[4096];
  if (use_stdio) {
    fputs(question, stdout);
    fflush(stdout);
    answer[0] = (char)getchar();
  } else {
    if (write(1, question, sizeof question - 1) != (ssize_t)(sizeof question - 1)) return fail("ask");
    if (read(0, answer, sizeof answer) <= 0) return fail("read the answer");
  }
  if (answer[0] != 'y' && answer[0] != 'Y') return fail("read the answer");

  char tmp[kMaxPath];
  memcpy(tmp, file, file_len);
  tmp[file_len] = '~';
  tmp[file_len + 1] = '\0';
  for (long i = 0; i < bytes; i++) text[i] = (char)('a' + i % 26);

  int fd = open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_NOFOLLOW, 0444);
  if (fd < 0) return fail("create the temporary file");
  if (write(fd, text, (size_t)bytes) != bytes || fsync(fd) != 0 || rename(tmp, file) != 0) {
    unlink(tmp);
    return fail("write the file");
  }

  /* The folder of FILE: everything before its last slash, or ".". */
  const char *slash = strrchr(file, '/');
  char dir[kMaxPath];
  if (slash == NULL) {
    dir[0] = '.';
    dir[1] = '\0';
  } else {
    size_t n = slash == file ? 1 : (size_t)(slash - file);
    memcpy(dir, file, n);
    dir[n] = '\0';
  }
  int dfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  close(fd);
  return 0;
}
