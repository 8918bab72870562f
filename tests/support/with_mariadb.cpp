// with_mariadb SCRIPT [ARG...]: starts a private MariaDB server on this
// machine's loopback (mariadb_server.h), makes the database quordexDB and the
// accounts vorn and yelto (the README's) with a fresh random password (short enough, with the
// address and port, for the one text that vorn_sql writes), and runs
// "SCRIPT ARG... PORT" with that password as the one line of its standard
// input, so that it never appears on a command line. Stops the server by its
// process id when the script ends (the kernel ends it if this process dies)
// and exits with the script's status; 1 when the server cannot be started.
// The script finds the server's process id in VORN_MARIADB_PID, to stop it
// itself when it tests what a stopped server looks like.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mariadb_server.h"

namespace {

// 16 characters of [0-9a-f] from the kernel's random source, or "" on failure.
std::string randomPassword() {
  unsigned char bytes[8];
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
  if (fd >= 0) close(fd);
  std::string hex;
  for (unsigned char b : bytes) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return ok ? hex : std::string();
}

// Runs argv with line on its standard input; its exit status, or 1.
int runWithInput(std::vector<std::string> args, const std::string& line) {
  int in[2];
  if (pipe(in) != 0) return 1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  close(in[0]);
  bool written = pid > 0 && write(in[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(in[1]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !written) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: with_mariadb SCRIPT [ARG...]\n");
    return 2;
  }
  std::string password = randomPassword(), why;
  if (password.empty()) {
    std::fprintf(stderr, "with_mariadb: cannot read /dev/urandom\n");
    return 1;
  }
  testsupport::MariadbServer server;
  if (!testsupport::startMariadb(&server, &why) ||
      !testsupport::runSql(server,
                           "CREATE DATABASE quordexDB; CREATE DATABASE otherDB; CREATE USER vorn IDENTIFIED BY '" +
                               password + "'; GRANT ALL ON quordexDB.* TO vorn; GRANT ALL ON otherDB.* TO vorn;" +
                               " CREATE USER yelto IDENTIFIED BY '" + password +
                               "'; GRANT ALL ON quordexDB.* TO yelto;",
                           &why)) {
    std::fprintf(stderr, "with_mariadb: %s\n", why.c_str());
    testsupport::stopMariadb(&server);
    return 1;
  }
  std::printf("with_mariadb: MariaDB on 127.0.0.1 port %d (data folder %.1f s, started %.1f s)\n", server.port,
              server.install_seconds, server.start_seconds);
  std::fflush(stdout);
  std::vector<std::string> args(argv + 1, argv + argc);
  args.push_back(std::to_string(server.port));
  setenv("VORN_MARIADB_PID", std::to_string(server.pid).c_str(), 1);
  int status = runWithInput(args, password + "\n");
  testsupport::stopMariadb(&server);
  return status;
}
