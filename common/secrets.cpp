#include "secrets.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>

#include <cerrno>
#include <cstddef>
#include <iterator>

void keepSecretsOutOfDumps() {
  // Not dumpable: no core file, even where suid_dumpable would write one as
  // root, and /proc/PID/mem and ptrace closed to other users. The zero limit
  // covers a later change of the dumpable flag.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  const rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

namespace {

// The signals handled while echo is off; the first four end the process.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};
constexpr size_t kEndingSignals = 4;

int terminal = -1;
termios saved_modes;
termios quiet_modes;
volatile sig_atomic_t echo_is_off = 0;
struct sigaction previous[std::size(kSignals)];

void setAction(int sig, void (*handler)(int), struct sigaction* old = nullptr) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, old);
}

void onEnd(int sig) {
  if (echo_is_off) tcsetattr(terminal, TCSAFLUSH, &saved_modes);
  echo_is_off = 0;
  setAction(sig, SIG_DFL);
  raise(sig);
}

void onStop(int sig);

// After a stop: echo off again, and ready for the next stop.
void quietAgain() {
  if (!echo_is_off) return;
  tcsetattr(terminal, TCSANOW, &quiet_modes);
  setAction(SIGTSTP, onStop);
}

// The shell gets the terminal back as it was; the stop itself is SIGTSTP's own
// action, taken here by unblocking it. Execution goes on past the unblocking
// when the process is continued, or at once where the kernel discards the stop
// (a process group without a shell to continue it).
void onStop(int sig) {
  int saved_errno = errno;
  if (echo_is_off) {
    tcsetattr(terminal, TCSANOW, &saved_modes);
    setAction(sig, SIG_DFL);
    raise(sig);
    // raise returns: the signal waits, blocked, for the unblocking below.
    // cppcheck-suppress unreachableCode
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, sig);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    quietAgain();
  }
  errno = saved_errno;
}

// A stop that was not ours (SIGSTOP): the shell may have turned echo on.
void onContinue(int /*sig*/) {
  int saved_errno = errno;
  quietAgain();
  errno = saved_errno;
}

// Blocks the handled signals (or unblocks them with the mask saved).
void holdSignals(sigset_t* saved) {
  sigset_t all;
  sigemptyset(&all);
  for (int sig : kSignals) sigaddset(&all, sig);
  sigprocmask(SIG_BLOCK, &all, saved);
}

void restoreActions() {
  for (size_t i = 0; i < std::size(kSignals); i++) sigaction(kSignals[i], &previous[i], nullptr);
}

}  // namespace

bool echoOff(int fd) {
  if (echo_is_off || tcgetattr(fd, &saved_modes) != 0) return false;
  quiet_modes = saved_modes;
  quiet_modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  terminal = fd;
  sigset_t mask;
  holdSignals(&mask);
  for (size_t i = 0; i < std::size(kSignals); i++) {
    void (*handler)(int) = i < kEndingSignals ? onEnd : kSignals[i] == SIGTSTP ? onStop : onContinue;
    setAction(kSignals[i], handler, &previous[i]);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (i < kEndingSignals && previous[i].sa_handler == SIG_IGN) sigaction(kSignals[i], &previous[i], nullptr);
  }
  bool quiet = tcsetattr(fd, TCSAFLUSH, &quiet_modes) == 0;
  if (quiet) {
    echo_is_off = 1;
  } else {
    restoreActions();
  }
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  return quiet;
}

void restoreEcho() {
  if (!echo_is_off) return;
  sigset_t mask;
  holdSignals(&mask);
  tcsetattr(terminal, TCSAFLUSH, &saved_modes);
  echo_is_off = 0;
  restoreActions();
  sigprocmask(SIG_SETMASK, &mask, nullptr);
}
