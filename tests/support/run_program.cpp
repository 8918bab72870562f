#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef VORN_TEST_SCRATCH
#define VORN_TEST_SCRATCH "/tmp"
#endif

namespace testsupport {

namespace {

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

void appendFrom(int fd, std::string* to, bool* open) {
  char chunk[4096];
  ssize_t n = read(fd, chunk, sizeof chunk);
  if (n > 0) {
    to->append(chunk, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    *open = false;  // end of file, or EIO from a terminal whose slave side closed
  }
}

// The argument vector and environment of one run, and the file to execute.
struct Command {
  std::vector<std::string> argv;
  std::vector<std::string> env;
  std::string file;
  bool direct;  // file is the program itself, and argv[0] is chosen freely
};

Command commandFor(const std::string& path, const RunOptions& options) {
  Command c;
  std::vector<std::string> words = options.prefix;
  std::string argv0 = options.argv0.empty() ? path : options.argv0;
  // The preloaded library is of the program's architecture, which the prefix
  // commands need not share: env(1) gives it to the program alone.
  bool preload_last = !options.prefix.empty() && !options.preload.empty();
  if (preload_last) words.insert(words.end(), {"/usr/bin/env", "LD_PRELOAD=" + options.preload});
  if (!options.prefix.empty()) words.push_back(path);
  // Without a prefix, argv[0] is chosen freely; otherwise the program name in
  // the vector is the command's own.
  c.direct = words.empty();
  c.argv = c.direct ? std::vector<std::string>{argv0} : words;
  c.argv.insert(c.argv.end(), options.args.begin(), options.args.end());
  c.env = options.env;
  if (!options.preload.empty() && !preload_last) c.env.push_back("LD_PRELOAD=" + options.preload);
  c.file = c.direct ? path : words[0];
  return c;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// The child's side: the pipes (or the terminal) as its standard streams, then
// the command. Never returns.
[[noreturn]] void execChild(Command& c, const RunOptions& options, const int in[2], const int out[2],
                            const int err[2]) {
  if (options.stdout_on_terminal) setsid();
  dup2(in[0], 0);
  dup2(out[1], 1);
  dup2(err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
    if (fd > 2) close(fd);
  signal(SIGPIPE, SIG_DFL);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  std::vector<char*> argv = pointers(c.argv);
  std::vector<char*> envp = pointers(c.env);
  if (c.direct || c.file.find('/') != std::string::npos) {
    execve(c.file.c_str(), argv.data(), envp.data());
  } else {
    // A prefix command named without a path is looked up in the standard places.
    for (const char* dir : {"/usr/local/bin/", "/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
      std::string full = std::string(dir) + c.file;
      execve(full.c_str(), argv.data(), envp.data());
    }
  }
  _exit(127);
}

// Standard output's pipe, or a raw pseudo-terminal when asked: [0] the
// parent's end, [1] the child's.
bool outputChannel(bool terminal, int out[2]) {
  if (!terminal) return pipe(out) == 0;
  if (openpty(&out[0], &out[1], nullptr, nullptr, nullptr) != 0) return false;
  termios t{};
  tcgetattr(out[1], &t);
  cfmakeraw(&t);  // no newline translation: the bytes arrive as written
  tcsetattr(out[1], TCSANOW, &t);
  return true;
}

// Collects both streams until they close, the program ends (with a terminal,
// which has no end of file while others may hold it) or the time is up.
// Returns true when the child was reaped meanwhile, with its status.
bool collect(pid_t pid, const RunOptions& options, int out, int err, RunResult* result, int* status) {
  bool out_open = true, err_open = true, reaped = false;
  double deadline = now() + options.timeout_seconds;
  while (out_open || err_open) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    if (poll(fds, 2, 200) > 0) {
      if (out_open && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) appendFrom(out, &result->out, &out_open);
      if (err_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) appendFrom(err, &result->err, &err_open);
    }
    if (options.stdout_on_terminal && !reaped && waitpid(pid, status, WNOHANG) == pid) {
      reaped = true;
      fcntl(out, F_SETFL, O_NONBLOCK);
      while (out_open) {
        size_t before = result->out.size();
        appendFrom(out, &result->out, &out_open);
        if (result->out.size() == before) break;
      }
      out_open = false;
    }
    if (now() > deadline) {
      kill(pid, SIGKILL);
      result->timed_out = true;
      break;
    }
  }
  return reaped;
}

}  // namespace

RunResult runProgram(const std::string& path, const RunOptions& options) {
  RunResult result;
  signal(SIGPIPE, SIG_IGN);
  Command command = commandFor(path, options);
  int in[2], out[2], err[2];
  if (pipe(in) != 0) return result;
  if (pipe(err) != 0 || !outputChannel(options.stdout_on_terminal, out)) {
    close(in[0]);
    close(in[1]);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) execChild(command, options, in, out, err);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (options.stdout_closed) {
    close(out[0]);
    out[0] = open("/dev/null", O_RDONLY);
  }
  // The inputs of these tests are small: the pipe takes them whole.
  for (size_t off = 0; pid > 0 && off < options.input.size();) {
    ssize_t n = write(in[1], options.input.data() + off, options.input.size() - off);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  close(in[1]);
  int status = 0;
  bool reaped = pid > 0 && collect(pid, options, out[0], err[0], &result, &status);
  close(out[0]);
  close(err[0]);
  if (pid < 0) return result;
  if (!reaped) waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string makeTempDir(const std::string& name) {
  std::string base = std::string(VORN_TEST_SCRATCH);
  mkdir(base.c_str(), 0755);
  std::string templ = base + "/" + name + ".XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) return std::string();
  return std::string(buf.data());
}

void removeTree(const std::string& path) {
  if (path.empty()) return;
  std::string cmd = "chattr -R -i -a '" + path + "' >/dev/null 2>&1; rm -rf '" + path + "'";
  int rc = std::system(cmd.c_str());
  (void)rc;
}

bool readFile(const std::string& path, std::string* content) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  content->clear();
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) content->append(chunk, n);
  std::fclose(f);
  return true;
}

bool writeFile(const std::string& path, const std::string& content, unsigned mode) {
  // A new file replaces what is there: only root may open an earlier step's
  // read-only file for writing.
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ok = fchmod(fd, mode) == 0 && ok;
  close(fd);
  return ok;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace testsupport
