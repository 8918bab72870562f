// A private MariaDB server for the tests that connect: a fresh data folder made
// by mariadb-install-db, then mariadbd on its own socket and a free loopback
// port, run as a child of the test process. The kernel kills the server when
// the test process ends in any way (crash, abort, timeout kill), and
// stopMariadb ends it by its process id on the normal path.
#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

struct MariadbServer {
  pid_t pid = -1;
  int port = 0;
  std::string dir;     // data folder, socket, logs; removed when stopped
  std::string socket;  // the server's Unix socket
  double install_seconds = 0;  // making the data folder
  double start_seconds = 0;    // from starting mariadbd to its first accepted connection
};

// Starts a server whose account root@localhost has no password. On failure
// returns false, with the reason (and the server's log) in *why.
bool startMariadb(MariadbServer* server, std::string* why);

// Runs SQL statements as root through the socket with the mariadb client
// program, their bytes taken as they are (binary character set); on failure returns false with the client's messages in *why.
bool runSql(const MariadbServer& server, const std::string& sql, std::string* why);

// Stops the server (SIGTERM, then SIGKILL after 20 s) and removes its folder.
void stopMariadb(MariadbServer* server);

}  // namespace testsupport
