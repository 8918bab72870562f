/* Runs a program under ptrace and kills it with SIGKILL at its Nth system-call
 * stop, counting from its execve on. Stops come in pairs, the entry of a call
 * (killed there, the call is never made) and its exit (the call is done), so
 * that N = 1, 2, 3 ... kills the program before and after each of its calls.
 *
 *   syscall_kill N PROGRAM [ARG...]
 *
 * The program keeps this process's standard input, output and error.
 * Exit status: 137 when it was killed at stop N; its own status when it ended
 * before (128 + S when signal S ended it); 77 when it cannot be traced here
 * (ptrace refused, or not emulated); 125 on a usage error or a failure of the
 * tracing itself.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

enum { kKilled = 128 + SIGKILL, kCannotTrace = 77, kFailed = 125, kNoProgram = 127 };

/* Waits for the killed program to be gone. */
static int killNow(pid_t pid) {
  int status = 0;
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) == pid && !WIFEXITED(status) && !WIFSIGNALED(status)) {
  }
  return kKilled;
}

static int ended(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

int main(int argc, char **argv) {
  char *end = NULL;
  long target = argc > 2 ? strtol(argv[1], &end, 10) : 0;
  if (argc < 3 || *end != '\0' || target < 1) {
    fputs("Usage: syscall_kill N PROGRAM [ARG...]\n", stderr);
    return kFailed;
  }
  pid_t pid = fork();
  if (pid < 0) return kFailed;
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, NULL, NULL) == -1) _exit(kCannotTrace);
    execv(argv[2], argv + 2);
    _exit(kNoProgram);
  }
  int status = 0;
  /* Stopped by the execve, or ended when it could not be traced or started. */
  if (waitpid(pid, &status, 0) != pid) return kFailed;
  if (!WIFSTOPPED(status)) return ended(status);
  if (ptrace(PTRACE_SETOPTIONS, pid, NULL, (void *)(long)(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL)) == -1) {
    killNow(pid);
    return kCannotTrace;
  }
  long stops = 0;
  int deliver = 0;
  for (;;) {
    if (ptrace(PTRACE_SYSCALL, pid, NULL, (void *)(long)deliver) == -1 || waitpid(pid, &status, 0) != pid) {
      killNow(pid);
      return kFailed;
    }
    if (!WIFSTOPPED(status)) return ended(status);
    deliver = 0;
    if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
      if (++stops == target) return killNow(pid);
    } else {
      /* A signal for the program: it gets it as it would untraced. */
      deliver = WSTOPSIG(status);
    }
  }
}
