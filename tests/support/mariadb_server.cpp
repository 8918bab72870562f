#include "mariadb_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "run_program.h"

namespace testsupport {

namespace {

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Starts a program found on PATH,
// input from in, both outputs to log; SIGKILL reaches it when the test dies.
pid_t spawn(std::vector<std::string> args, const std::string& in, const std::string& log) {
  pid_t parent = getpid(), pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  int i = open(in.c_str(), O_RDONLY), o = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (getppid() != parent || i < 0 || o < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(o, 2) < 0) _exit(126);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

bool succeeds(const std::vector<std::string>& args, const std::string& in, const std::string& log, std::string* why) {
  int status = 0;
  pid_t pid = spawn(args, in, log);
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  readFile(log, why);
  *why = args[0] + " failed: " + *why;
  return false;
}

}  // namespace

int loopbackSocket(bool listening, bool keep_open) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (listening && listen(fd, 8) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  if (!keep_open) close(fd);
  return ntohs(a.sin_port);
}

bool startMariadb(MariadbServer* s, std::string* why) {
  // A socket's path holds at most 107 bytes: a deep build tree gets /tmp.
  char templ[] = "/tmp/vorn-mariadb.XXXXXX";
  s->dir = makeTempDir("mariadb");
  if (s->dir.size() > 80) removeTree(s->dir), s->dir = mkdtemp(templ) != nullptr ? templ : "";
  s->socket = s->dir + "/mariadb.sock";
  std::vector<std::string> install = {"mariadb-install-db", "--no-defaults", "--datadir=" + s->dir + "/data",
                                      "--skip-test-db", "--auth-root-authentication-method=normal",
                                      // Its own temporary folder: servers made side by side in one
                                      // shared /tmp have collided on a temporary table's name.
                                      "--tmpdir=" + s->dir};
  // As root, both programs run only when told to run as root.
  if (geteuid() == 0) install.push_back("--user=root");
  double t0 = now();
  if (!succeeds(install, "/dev/null", s->dir + "/install.log", why)) return false;
  s->install_seconds = now() - t0;
  // The port is free but not held: another process may take it first. Rare
  // enough that the failure (and its log) is reported rather than retried.
  s->port = loopbackSocket(false, false);
  return resumeMariadb(s, why);
}

bool resumeMariadb(MariadbServer* s, std::string* why) {
  std::vector<std::string> args = {"mariadbd",
                                   "--no-defaults",
                                   "--datadir=" + s->dir + "/data",
                                   "--socket=" + s->socket,
                                   "--tmpdir=" + s->dir,
                                   "--port=" + std::to_string(s->port),
                                   "--bind-address=127.0.0.1",
                                   "--skip-name-resolve",
                                   "--innodb-buffer-pool-size=16M",
                                   "--pid-file=" + s->dir + "/mariadbd.pid"};
  if (geteuid() == 0) args.push_back("--user=root");
  double t0 = now();
  s->pid = spawn(args, "/dev/null", s->dir + "/server.log");
  pid_t ended = 0;
  while ((ended = waitpid(s->pid, nullptr, WNOHANG)) == 0 && now() - t0 < 60) {
    if (runSql(*s, "SELECT 1;", why)) {
      s->start_seconds = now() - t0;
      return true;
    }
    usleep(50000);
  }
  if (ended == s->pid) s->pid = -1;  // reaped: its id may be reused
  readFile(s->dir + "/server.log", why);
  *why = "mariadbd did not start: " + *why;
  return false;
}

bool runSql(const MariadbServer& s, const std::string& sql, std::string* why) {
  std::string in = s.dir + "/statements.sql";
  return writeFile(in, sql, 0600) &&
         succeeds({"mariadb", "--no-defaults", "--default-character-set=binary", "--socket=" + s.socket, "--user=root"},
                  in, s.dir + "/client.log", why);
}

// Sends signal (none: 0) to pid, then SIGKILL unless it ends within 20 s.
void stopChild(pid_t pid, int signal) {
  if (pid <= 0 || kill(pid, signal) != 0) return;
  double t0 = now();
  bool gone = false;
  while (!(gone = waitpid(pid, nullptr, WNOHANG) != 0) && now() - t0 < 20) usleep(20000);
  if (!gone && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
}

void haltMariadb(MariadbServer* s) {
  stopChild(s->pid, SIGTERM);
  s->pid = -1;
}

void stopMariadb(MariadbServer* s) {
  haltMariadb(s);
  removeTree(s->dir);
}

pid_t startProcess(const std::vector<std::string>& args, const std::string& log) {
  return spawn(args, "/dev/null", log);
}

bool startFakeServer(FakeServer* f, const std::vector<std::string>& args, const std::string& log) {
  std::vector<std::string> command = {"/usr/bin/python3", VORN_FAKE_MARIADB};
  command.insert(command.end(), args.begin(), args.end());
  unlink(log.c_str());  // an earlier listener's port is no answer
  f->pid = spawn(command, "/dev/null", log);
  std::string printed;
  double t0 = now();
  while (f->pid > 0 && (!readFile(log, &printed) || printed.find('\n') == std::string::npos) && now() - t0 < 20)
    usleep(20000);
  f->port = std::atoi(printed.c_str());
  return f->port > 0;
}

void stopFakeServer(FakeServer* f) {
  stopChild(f->pid, 0);
  f->pid = -1;
}

}  // namespace testsupport
