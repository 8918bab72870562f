#include "watchdog.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "chores.h"

namespace {

// Two buffers: the handler writes the one in force, a new message is written
// into the other and then put in force by one store.
char g_messages[2][kWatchdogMessageMax + 1];
size_t g_lengths[2] = {0, 0};
volatile sig_atomic_t g_current = 0;
char* volatile g_secret = nullptr;
volatile size_t g_secret_size = 0;
volatile int g_fd = STDERR_FILENO;
volatile int g_status = 1;

}  // namespace

// Only async-signal-safe steps.
extern "C" {
static void onWatchdog(int /*signal*/) {
  if (g_secret != nullptr) wipe(g_secret, g_secret_size);
  int current = g_current;
  ssize_t n = write(g_fd, g_messages[current], g_lengths[current]);
  (void)n;
  _exit(g_status);
}
}

FILE* watchdogMessage() { return fmemopen(g_messages[1 - g_current], sizeof g_messages[0], "w"); }

bool watchdogSetMessage(FILE* m) {
  long n = std::ftell(m);
  std::fclose(m);
  if (n <= 0) return false;
  int spare = 1 - g_current;
  size_t length = std::min(static_cast<size_t>(n), kWatchdogMessageMax);
  g_messages[spare][length - 1] = '\n';
  g_lengths[spare] = length;
  g_current = spare;
  return true;
}

void watchdogWipes(char* secret, size_t size) {
  g_secret = nullptr;
  g_secret_size = size;
  g_secret = secret;
}

bool watchdogArm(unsigned seconds, int fd, int status) {
  g_fd = fd;
  g_status = status;
  struct sigaction action {};
  action.sa_handler = onWatchdog;
  sigemptyset(&action.sa_mask);
  // A signal mask inherited from the caller could hold the alarm back.
  sigset_t alarm_only;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  if (sigaction(SIGALRM, &action, nullptr) != 0 || sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr) != 0) return false;
  alarm(seconds);
  return true;
}

void watchdogDisarm() { alarm(0); }
