// vorn_dbcheck end to end against a private MariaDB server, with files that
// the test build of vorn_sql writes (plain, or encrypted under a key file made
// by vorn_keyfile in the test's folder).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mariadb_server.h"
#include "run_program.h"

namespace {

testsupport::MariadbServer server;
std::string dir;

// A loopback socket bound to a free port: listening (connections complete but
// are never answered) or not (connections are refused). Returns its port.
int loopbackSocket(bool listening) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (listening && listen(fd, 8) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);  // the socket stays open until the test program ends
}

const std::string kOddPassword = "a b\t\xc3\xa4\x80\xff z";

// The server starts once for the suite, in the first test's SetUp, where a
// failure fails the test (a failure in SetUpTestSuite would only skip it).
class DbCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (server.pid > 0) return;
    std::string why;
    ASSERT_TRUE(testsupport::startMariadb(&server, &why)) << why;
    std::printf("mariadb: data folder in %.2f s, accepting connections %.2f s later\n", server.install_seconds,
                server.start_seconds);
    ASSERT_TRUE(testsupport::runSql(server,
                                    "CREATE DATABASE quordexDB;\n"
                                    "CREATE USER yelto IDENTIFIED BY 'mekvisa';\n"
                                    "GRANT ALL ON quordexDB.* TO yelto;\n"
                                    "GRANT ALL ON nosuch.* TO yelto;\n"
                                    "CREATE USER odd IDENTIFIED BY '" + kOddPassword + "';\n"
                                    "GRANT SELECT ON quordexDB.* TO odd;\n"
                                    "CREATE USER norights IDENTIFIED BY 'mekvisa';\n",
                                    &why))
        << why;
    dir = testsupport::makeTempDir("dbcheck");
    testsupport::RunOptions key;
    key.args = {"--key=112233445566778899aabbccddeeff10", dir + "/.vorn_yelto"};
    ASSERT_EQ(testsupport::runProgram(VORN_KEYFILE_PATH, key).exit_code, 0);
  }
  static void TearDownTestSuite() {
    testsupport::stopMariadb(&server);
    testsupport::removeTree(dir);
  }
};

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

TEST_F(DbCheck, ConnectsOrSaysWhyInOneLine) {
  const std::string port = std::to_string(server.port);
  const std::string refused = std::to_string(loopbackSocket(false));
  const std::string silent = std::to_string(loopbackSocket(true));
  // The resolver would take this port modulo 65536: the server's own port.
  const std::string wrapped = std::to_string(server.port + 65536);
  const std::string sock = server.socket;
  struct Case {
    const char* name;
    std::vector<std::string> sql_args;  // vorn_sql's options; a value not given is declined
    std::vector<std::string> args;      // vorn_dbcheck's options
    int status;
    std::string out, err;  // the whole line on standard output; a part of the line on standard error
  } cases[] = {
      {"plain file", {"-H", "127.0.0.1", "-P", port, "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"}, {}, 0,
       "Connected to 127.0.0.1 port " + port + " as yelto, database quordexDB, server 10.", ""},
      {"encrypted file",
       {"-e", "yes", "-H", "127.0.0.1", "-P", port, "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"},
       {"-k", dir + "/.vorn_yelto"}, 0, "Connected to 127.0.0.1 port " + port + " as yelto", ""},
      {"password with spaces and high bytes",
       {"-H", "127.0.0.1", "-P", port, "-u", "odd", "-p", kOddPassword, "-d", "quordexDB"}, {}, 0,
       "Connected to 127.0.0.1 port " + port + " as odd", ""},
      {"localhost through the socket", {"-H", "localhost", "-P", "3306", "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"},
       {"--socket=" + sock}, 0, "Connected to localhost socket " + sock + " as yelto, database quordexDB", ""},
      {"wrong password", {"-H", "127.0.0.1", "-P", port, "-u", "yelto", "-p", "wrong", "-d", "quordexDB"}, {}, 1, "",
       ": cannot connect to 127.0.0.1 port " + port + " as yelto: error 1045: Access denied for user 'yelto'@"},
      {"user without rights", {"-H", "127.0.0.1", "-P", port, "-u", "norights", "-p", "mekvisa", "-d", "quordexDB"},
       {}, 1, "", "error 1044: Access denied for user 'norights'@'%' to database 'quordexDB'"},
      {"unknown database", {"-H", "127.0.0.1", "-P", port, "-u", "yelto", "-p", "mekvisa", "-d", "nosuch"}, {}, 1,
       "", "error 1049: Unknown database 'nosuch'"},
      {"nothing listening", {"-H", "127.0.0.1", "-P", refused, "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"},
       {}, 1, "", "port " + refused + " as yelto: error 2002: "},
      {"host that does not resolve",
       {"-H", "nohost.invalid", "-P", port, "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"}, {}, 1,
       "", "error 2005: Unknown server host 'nohost.invalid'"},
      {"listener that never answers",
       {"-H", "127.0.0.1", "-P", silent, "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"}, {"-t", "1"}, 1, "",
       "port " + silent + " as yelto: error 2013: "},
      {"port beyond TCP", {"-H", "127.0.0.1", "-P", wrapped, "-u", "yelto", "-p", "mekvisa", "-d", "quordexDB"},
       {}, 1, "", ": PORTNO " + wrapped + " is not a TCP port (at most 65535); no connection tried"},
      {"missing lines", {"-H", "127.0.0.1", "-P", port, "-d", "quordexDB"}, {}, 1, "",
       ": no USERNAME line; cannot connect without it\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir + "/conf";
    unlink(file.c_str());
    testsupport::RunOptions sql;
    sql.args = c.sql_args;
    sql.args.insert(sql.args.end(), {"-s", file});
    sql.input = "ynnnnn";
    sql.cwd = dir;
    testsupport::RunResult written = testsupport::runProgram(VORN_SQL_TESTKEY_PATH, sql);
    ASSERT_EQ(written.exit_code, 0) << written.err;

    testsupport::RunOptions check;
    check.args = c.args;
    check.args.push_back(file);
    check.timeout_seconds = 30;
    double start = now();
    testsupport::RunResult r = testsupport::runProgram(VORN_DBCHECK_PATH, check);
    double seconds = now() - start;
    EXPECT_EQ(r.exit_code, c.status) << r.out << r.err;
    EXPECT_LT(seconds, 6) << "the timeout did not hold";
    if (c.status == 0) {
      EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.rfind(file, 0), 0u) << r.err;
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    for (const std::string& printed : {r.out, r.err}) {
      EXPECT_EQ(printed.find("mekvisa"), std::string::npos) << printed;
      EXPECT_EQ(printed.find("a b"), std::string::npos) << printed;
    }
  }
}

}  // namespace
