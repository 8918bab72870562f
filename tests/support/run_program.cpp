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

}  // namespace

RunResult runProgram(const std::string& path, const RunOptions& options) {
  RunResult result;
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> words = options.prefix;
  std::string argv0 = options.argv0.empty() ? path : options.argv0;
  if (!options.prefix.empty()) words.push_back(path);
  // Without a prefix, argv[0] is chosen freely; otherwise the program name in
  // the vector is the command's own.
  bool direct = words.empty();
  std::vector<std::string> argvs;
  if (direct) {
    argvs.push_back(argv0);
  } else {
    argvs = words;
  }
  for (const std::string& a : options.args) argvs.push_back(a);
  std::vector<char*> argv;
  for (std::string& a : argvs) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envs = options.env;
  if (!options.preload.empty()) envs.push_back("LD_PRELOAD=" + options.preload);
  std::vector<char*> envp;
  for (std::string& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string file = direct ? path : words[0];

  int in_pipe[2], out_pipe[2], err_pipe[2];
  int master = -1, slave = -1;
  if (pipe(in_pipe) != 0 || pipe(err_pipe) != 0) return result;
  if (options.stdout_on_terminal) {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);  // no newline translation: the bytes arrive as written
    tcsetattr(slave, TCSANOW, &t);
    out_pipe[0] = master;
    out_pipe[1] = slave;
  } else if (pipe(out_pipe) != 0) {
    return result;
  }

  pid_t pid = fork();
  if (pid == 0) {
    if (options.stdout_on_terminal) setsid();
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      if (fd > 2) close(fd);
    signal(SIGPIPE, SIG_DFL);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (direct || file.find('/') != std::string::npos) {
      execve(file.c_str(), argv.data(), envp.data());
    } else {
      // A prefix command named without a path is looked up in the standard places.
      for (const char* dir : {"/usr/local/bin/", "/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
        std::string full = std::string(dir) + file;
        execve(full.c_str(), argv.data(), envp.data());
      }
    }
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }

  // The inputs of these tests are small: the pipe takes them whole.
  size_t off = 0;
  while (off < options.input.size()) {
    ssize_t n = write(in_pipe[1], options.input.data() + off, options.input.size() - off);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  close(in_pipe[1]);

  bool out_open = true, err_open = true;
  double deadline = now() + options.timeout_seconds;
  int status = 0;
  bool reaped = false;
  while (out_open || err_open) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int r = poll(fds, 2, 200);
    if (r > 0) {
      if (out_open && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) appendFrom(out_pipe[0], &result.out, &out_open);
      if (err_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) appendFrom(err_pipe[0], &result.err, &err_open);
    }
    if (options.stdout_on_terminal && !reaped && waitpid(pid, &status, WNOHANG) == pid) {
      reaped = true;
      // Drain what the terminal still holds, then stop: a terminal has no end of file
      // while other processes may keep the slave side open.
      fcntl(master, F_SETFL, O_NONBLOCK);
      while (out_open) {
        size_t before = result.out.size();
        appendFrom(master, &result.out, &out_open);
        if (result.out.size() == before) break;
      }
      out_open = false;
    }
    if (now() > deadline) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
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
