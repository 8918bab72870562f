/* Runs a program with address randomisation off, stops it as it exits and
 * writes its peak resident set (VmHWM of /proc/PID/status, in KiB) to
 * RESULT_FILE as one decimal line. Randomisation off makes the figure repeat
 * from run to run: the pages a run touches then fall at the same places.
 *
 *   peak_rss_trace [-m] RESULT_FILE PROGRAM [ARG...]
 *
 * With -m, the lines after the figure name each mapping still resident at exit,
 * its resident KiB first, and the offsets of its resident pages, to tell where
 * the pages are.
 *
 * Exit status: the program's own, or 125 when it could not be traced or its
 * figure could not be read, 128 + N when signal N ended it.
 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

enum { kTraceFailed = 125 };

/* VmHWM of the process in KiB, or -1. */
static long peakKiB(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  FILE *f = fopen(path, "r");
  if (f == NULL) return -1;
  char line[256];
  long kib = -1;
  while (fgets(line, sizeof line, f) != NULL) {
    if (sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  fclose(f);
  return kib;
}

/* Appends the resident pages of [start, end) as offsets in KiB from start,
 * in runs ("0-60 128-188"), from /proc/PID/pagemap (bit 63: present). */
static void writePresentPages(int pagemap, unsigned long start, unsigned long end, FILE *out) {
  long page = sysconf(_SC_PAGESIZE);
  long run_from = -1;
  fprintf(out, "       pages at KiB:");
  for (unsigned long a = start; a <= end; a += (unsigned long)page) {
    uint64_t entry = 0;
    int present = a < end && pread(pagemap, &entry, sizeof entry, (off_t)(a / (unsigned long)page * 8)) == 8 &&
                  (entry >> 63) != 0;
    long kib = (long)((a - start) / 1024);
    if (present && run_from < 0) run_from = kib;
    if (!present && run_from >= 0) {
      fprintf(out, " %ld-%ld", run_from, kib - page / 1024);
      run_from = -1;
    }
  }
  fprintf(out, "\n");
}

/* Appends "RSS_KIB RANGE PERMS NAME" for each mapping with resident pages,
 * each followed by the offsets of those pages. */
static void writeMappings(pid_t pid, FILE *out) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/smaps", (int)pid);
  FILE *f = fopen(path, "r");
  if (f == NULL) return;
  snprintf(path, sizeof path, "/proc/%d/pagemap", (int)pid);
  int pagemap = open(path, O_RDONLY | O_CLOEXEC);
  char line[512], mapping[512] = "";
  unsigned long start = 0, end = 0;
  long rss;
  while (fgets(line, sizeof line, f) != NULL) {
    if (sscanf(line, "%lx-%lx ", &start, &end) == 2 && strchr(line, ':') > strchr(line, ' ')) {
      snprintf(mapping, sizeof mapping, "%s", line); /* "START-END PERMS ..." opens a mapping */
    } else if (sscanf(line, "Rss: %ld kB", &rss) == 1 && rss > 0) {
      fprintf(out, "%6ld %s", rss, mapping);
      if (pagemap >= 0) writePresentPages(pagemap, start, end, out);
    }
  }
  if (pagemap >= 0) close(pagemap);
  fclose(f);
}

int main(int argc, char **argv) {
  int maps = argc > 1 && strcmp(argv[1], "-m") == 0;
  argv += maps;
  argc -= maps;
  if (argc < 3) {
    fprintf(stderr, "usage: peak_rss_trace [-m] RESULT_FILE PROGRAM [ARG...]\n");
    return 2;
  }
  const char *result_path = argv[1];
  FILE *out = fopen(result_path, "we");
  if (out == NULL) {
    fprintf(stderr, "peak_rss_trace: cannot write \"%s\" (%s)\n", result_path, strerror(errno));
    return kTraceFailed;
  }

  pid_t pid = fork();
  if (pid < 0) {
    perror("peak_rss_trace: fork");
    return kTraceFailed;
  }
  if (pid == 0) {
    if (personality(ADDR_NO_RANDOMIZE) == -1 || ptrace(PTRACE_TRACEME, 0, NULL, NULL) == -1) {
      perror("peak_rss_trace: personality or ptrace");
      _exit(kTraceFailed);
    }
    execvp(argv[2], argv + 2);
    fprintf(stderr, "peak_rss_trace: cannot run \"%s\" (%s)\n", argv[2], strerror(errno));
    _exit(kTraceFailed);
  }

  long kib = -1;
  int status;
  int first_stop = 1;
  for (;;) {
    if (waitpid(pid, &status, 0) < 0) {
      perror("peak_rss_trace: waitpid");
      return kTraceFailed;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    int deliver = 0;
    if (first_stop) {
      /* The stop after execve: from here on, stop again just before exit. */
      first_stop = 0;
      if (ptrace(PTRACE_SETOPTIONS, pid, NULL, (void *)(long)(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL)) == -1) {
        perror("peak_rss_trace: PTRACE_SETOPTIONS");
        kill(pid, SIGKILL);
        return kTraceFailed;
      }
    } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      kib = peakKiB(pid);
      if (kib >= 0) fprintf(out, "%ld\n", kib);
      if (maps) writeMappings(pid, out);
    } else {
      deliver = WSTOPSIG(status); /* a signal meant for the program */
    }
    ptrace(PTRACE_CONT, pid, NULL, (void *)(long)deliver);
  }

  if (kib < 0) {
    fprintf(stderr, "peak_rss_trace: no VmHWM read for \"%s\"\n", argv[2]);
    return kTraceFailed;
  }
  if (fclose(out) != 0) {
    fprintf(stderr, "peak_rss_trace: cannot write \"%s\"\n", result_path);
    return kTraceFailed;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
