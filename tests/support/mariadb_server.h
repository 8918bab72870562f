// A private MariaDB server for the tests that connect: mariadb-install-db into
// a fresh folder, then mariadbd on its own socket and a free loopback port, as
// a child that the kernel kills when the test process ends in any way;
// stopMariadb ends it by its process id on the normal path. And a listener that
// only plays a server, for what no real server does.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

struct MariadbServer {
  pid_t pid = -1;
  int port = 0;
  std::string dir, socket;                        // folder (removed when stopped) and socket
  double install_seconds = 0, start_seconds = 0;  // data folder; until the first answer
};

// A loopback TCP socket on a free port, left open unless !keep_open: listening
// (connections complete but get no answer) or not (nothing listens there).
// Returns the port.
int loopbackSocket(bool listening, bool keep_open = true);

// Starts a server whose root@localhost has no password; false with the reason
// and the server's log in *why.
bool startMariadb(MariadbServer* server, std::string* why);

// Runs SQL as root over the socket with the mariadb client, bytes as they are.
bool runSql(const MariadbServer& server, const std::string& sql, std::string* why);

// SIGTERM, SIGKILL after 20 s, then the folder is removed.
void stopMariadb(MariadbServer* server);
// The same, keeping the folder; resumeMariadb starts it again there, on its port.
void haltMariadb(MariadbServer* server);
bool resumeMariadb(MariadbServer* server, std::string* why);

// Starts a program found on PATH as a child that the kernel kills when the
// test process ends, its output to log; stopChild ends it by its process id
// (signal, then SIGKILL after 20 s) and reaps it.
pid_t startProcess(const std::vector<std::string>& args, const std::string& log);
void stopChild(pid_t pid, int signal);

// A listener of the test's own that plays a MariaDB server up to the login
// (support/fake_mariadb.py, which says what it does with args), as a child
// that the kernel kills when the test process ends; its output goes to log.
struct FakeServer {
  pid_t pid = -1;
  int port = 0;
};
bool startFakeServer(FakeServer* fake, const std::vector<std::string>& args, const std::string& log);
// Waits up to 20 s for it to end by itself, then SIGKILL.
void stopFakeServer(FakeServer* fake);

}  // namespace testsupport
