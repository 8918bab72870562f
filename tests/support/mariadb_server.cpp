#include "mariadb_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "run_program.h"

namespace testsupport {

namespace {

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Starts a host program (never through the emulator: the server is native)
// with standard input from in_path and both outputs appended to log_path. The
// child gets SIGKILL when the test process dies, so no server outlives it.
pid_t spawn(const std::vector<std::string>& args, const std::string& in_path, const std::string& log_path) {
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  int in = open(in_path.c_str(), O_RDONLY);
  int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in < 0 || log < 0) _exit(126);
  dup2(in, 0);
  dup2(log, 1);
  dup2(log, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

bool runToEnd(const std::vector<std::string>& args, const std::string& in_path, const std::string& log_path) {
  pid_t pid = spawn(args, in_path, log_path);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A loopback port that nothing used a moment ago.
int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

std::string logOf(const std::string& path) {
  std::string text;
  readFile(path, &text);
  return text.size() > 4000 ? text.substr(text.size() - 4000) : text;
}

}  // namespace

bool startMariadb(MariadbServer* s, std::string* why) {
  s->dir = makeTempDir("mariadb");
  // A Unix socket path holds at most 107 bytes; a deep build tree gets /tmp.
  if (s->dir.size() > 80) {
    removeTree(s->dir);
    char templ[] = "/tmp/vorn-mariadb.XXXXXX";
    s->dir = mkdtemp(templ) != nullptr ? templ : "";
  }
  if (s->dir.empty()) {
    *why = "cannot make a folder for the server";
    return false;
  }
  s->socket = s->dir + "/mariadb.sock";
  // As root, both programs refuse to run unless told to run as root.
  std::vector<std::string> as_user;
  if (geteuid() == 0) as_user.push_back("--user=root");

  std::string log = s->dir + "/install.log";
  std::vector<std::string> install = {"mariadb-install-db", "--no-defaults", "--datadir=" + s->dir + "/data",
                                      "--auth-root-authentication-method=normal", "--skip-test-db"};
  install.insert(install.end(), as_user.begin(), as_user.end());
  double t0 = now();
  if (!runToEnd(install, "/dev/null", log)) {
    *why = "mariadb-install-db failed:\n" + logOf(log);
    return false;
  }
  s->install_seconds = now() - t0;

  // A port taken between the probe and the server's bind makes it exit: retry.
  std::string err = s->dir + "/server.log";
  for (int attempt = 0; attempt < 3; attempt++) {
    s->port = freePort();
    std::vector<std::string> server = {"mariadbd", "--no-defaults", "--datadir=" + s->dir + "/data",
                                       "--socket=" + s->socket, "--port=" + std::to_string(s->port),
                                       "--bind-address=127.0.0.1", "--skip-name-resolve",
                                       "--pid-file=" + s->dir + "/mariadbd.pid", "--log-error=" + err,
                                       "--innodb-buffer-pool-size=16M"};
    server.insert(server.end(), as_user.begin(), as_user.end());
    t0 = now();
    s->pid = spawn(server, "/dev/null", err);
    if (s->pid < 0) break;
    int status = 0;
    while (now() - t0 < 60) {
      if (waitpid(s->pid, &status, WNOHANG) == s->pid) {
        s->pid = -1;
        break;
      }
      if (accepts(s->port) && fileExists(s->socket)) {
        s->start_seconds = now() - t0;
        return true;
      }
      usleep(20000);
    }
    if (s->pid > 0) {
      *why = "mariadbd accepted no connection within 60 s:\n" + logOf(err);
      return false;
    }
  }
  *why = "mariadbd did not start:\n" + logOf(err);
  return false;
}

bool runSql(const MariadbServer& s, const std::string& sql, std::string* why) {
  std::string in = s.dir + "/statements.sql", log = s.dir + "/client.log";
  unlink(log.c_str());
  if (!writeFile(in, sql, 0600)) {
    *why = "cannot write " + in;
    return false;
  }
  if (runToEnd({"mariadb", "--no-defaults", "--default-character-set=binary", "--socket=" + s.socket, "--user=root"}, in, log)) return true;
  *why = logOf(log);
  return false;
}

void stopMariadb(MariadbServer* s) {
  if (s->pid > 0) {
    kill(s->pid, SIGTERM);
    double t0 = now();
    int status = 0;
    while (waitpid(s->pid, &status, WNOHANG) == 0) {
      if (now() - t0 > 20) {
        kill(s->pid, SIGKILL);
        waitpid(s->pid, &status, 0);
        break;
      }
      usleep(20000);
    }
    s->pid = -1;
  }
  removeTree(s->dir);
  s->dir.clear();
}

}  // namespace testsupport
