// check_vorn end to end against a private MariaDB server and a listener that
// never answers, with files that the test build of vorn_sql writes: the state
// of each check, the thresholds on the connection time, the timeout's state,
// and a report that shows no password and no control character.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "mariadb_server.h"
#include "test_support.h"

namespace {

testsupport::MariadbServer server;
std::string dir;

class CheckVorn : public ::testing::Test {
 protected:
  void SetUp() override {
    if (server.pid > 0) return;
    std::string why;
    ASSERT_TRUE(testsupport::startMariadb(&server, &why)) << why;
    ASSERT_TRUE(testsupport::runSql(server,
                                    "CREATE DATABASE quordexDB; CREATE USER yelto IDENTIFIED BY 'mekvisa';"
                                    "GRANT ALL ON quordexDB.* TO yelto; GRANT ALL ON nosuch.* TO yelto;",
                                    &why))
        << why;
    dir = testsupport::makeTempDir("check_vorn");
    ASSERT_EQ(testsupport::makeKeyFile(dir + "/.vorn_yelto").exit_code, 0);
  }
  static void TearDownTestSuite() {
    testsupport::stopMariadb(&server);
    testsupport::removeTree(dir);
  }
};

TEST_F(CheckVorn, EachCheckGivesItsStateAndTheReportShowsNoSecret) {
  const std::string port = std::to_string(server.port), silent = std::to_string(testsupport::loopbackSocket(true));
  const std::string conf = dir + "/conf", ok = "VORN OK - connected to 127.0.0.1 port " + port + " as yelto";
  const std::string fault = "\" AUTH_KEY\n\" PORTNO 80\n\" PORTNO 80\n";
  const std::vector<std::string> locked_ok = {"-i", "lock"};
  struct Case {
    std::vector<std::string> sql, args;  // vorn_sql's values (or the file's text, one word), check_vorn's options
    int status;
    std::string first, said = "";  // the first line's start; a part of the report
    std::string perf = "";    // the end of the first line (a regex), when a connection time is reported
    unsigned mode = 0444;
    bool lock = false;
  } cases[] = {
      {{"-H", "127.0.0.1", "-P", port}, {}, 0, ok, "[OK] " + conf + ": locked (immutable)\n", ";;;0;10", 0444, true},
      {{"-H", "127.0.0.1", "-P", port}, {}, 1, "VORN WARNING - " + conf + ": not locked", "\n[OK] connected", ";;;0;10"},
      {{"-H", "127.0.0.1", "-P", port}, {"-i", "lock", "-w", "0"}, 1, "VORN WARNING - connected", " (-w 0)", ";0;;0;10"},
      {{"-H", "127.0.0.1", "-P", port}, {"-i", "lock", "-c", "@0:10", "-w", "0"}, 2, "VORN CRITICAL - connected",
       " (-c @0:10)\n", ";0;@0:10;0;10"},
      {{"-H", "127.0.0.1", "-P", port}, {"-i", "lock", "-w", "10:", "-t", "7"}, 1, "VORN WARNING - connected", "", ";10:;;0;7"},
      {{"-H", "127.0.0.1", "-P", port}, {"-ilock", "-w~:10", "-c", "@10:20"}, 0, ok, "", ";~:10;@10:20;0;10"},
      {{"-H", "127.0.0.1", "-P", port, "-e", "yes"}, {"-i", "lock", "-k", dir + "/.vorn_yelto"}, 0, ok,
       ": encrypted; the key loads from the key file " + dir + "/.vorn_yelto\n", ";;;0;10"},
      {{"-H", "127.0.0.1", "-P", port}, locked_ok, 1, "VORN WARNING - " + conf + ": mode 0644, not read-only", "", "",
       0644},
      {{"-H", "127.0.0.1", "-P", port}, {"-i", "lock", "-m", "0400", "-o", "4242"}, 1,
       "VORN WARNING - " + conf + ": mode 0444, not 0400 (--mode); " + conf + ": owned by uid " +
           std::to_string(getuid()) + ", not 4242 (uid 4242)"},
      {{"-H", "127.0.0.1", "-P", port}, {"--ignore=lock,mode", "-i", "owner", "-o", "4242"}, 0, ok, "", "", 0666},
      {{"-H", "127.0.0.1", "-P", port, "-p", "wrong"}, locked_ok, 2,
       "VORN CRITICAL - " + conf + ": cannot connect to 127.0.0.1 port " + port + " as yelto: error 1045: Access denied"},
      {{"-H", "127.0.0.1", "-P", port, "-d", "nosuch"}, locked_ok, 2, "VORN CRITICAL - ", "error 1049: Unknown database"},
      {{"-H", "no|pe\x1b[2J.invalid", "-P", port}, locked_ok, 2, "VORN CRITICAL - ", "to no?pe?[2J.invalid port"},
      {{"-H", "127.0.0.1", "-P", silent}, {"-i", "lock", "-t", "1"}, 2,
       "VORN CRITICAL - " + conf + ": cannot connect to 127.0.0.1 port " + silent +
           " as yelto: not done within the timeout of 1 s; given up\n",
       "[OK] " + conf + ": every line as vorn_sql writes it\n"},
      {{"-H", "127.0.0.1", "-P", silent}, {"-i", "lock", "--timeout=1:Unknown"}, 3, "VORN UNKNOWN - ", "within the timeout"},
      {{fault}, {"-v"}, 2, "VORN CRITICAL - " + conf + ": not as vorn_sql writes it (faults: 11); the first: ",
       "\n" + conf + ":3: PORTNO repeated (first on line 2)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first + " " + (c.args.empty() ? "" : c.args.back()));
    testsupport::removeTree(conf);  // unlocks a file locked before
    if (c.sql.size() == 1) {
      ASSERT_TRUE(testsupport::writeFile(conf, c.sql[0]));
    } else {
      testsupport::RunOptions sql{.args = c.sql, .input = "yyyyyy", .cwd = dir};
      sql.args.insert(sql.args.end(), {"-s", conf});
      ASSERT_EQ(testsupport::runProgram(testsupport::programPath("vorn_sql_testkey"), sql).exit_code, 0);
    }
    chmod(conf.c_str(), c.mode);
    testsupport::RunOptions lock{.args = {conf, "1"}};
    if (c.lock && testsupport::runQuordexHelper(lock).exit_code != 0) {
      std::printf("skipped: %s cannot be locked here\n", conf.c_str());
      continue;
    }
    testsupport::RunOptions check{.args = c.args};
    check.args.insert(check.args.end(), {"-f", conf});
    testsupport::RunResult r = testsupport::runProgram(testsupport::programPath("check_vorn"), check);
    EXPECT_EQ(r.exit_code, c.status) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find(c.first), 0u) << r.out;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    std::string first = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(std::regex_search(first, std::regex(" \\| 'connect_time'=[0-9]+\\.[0-9]{6}s" + c.perf + "$")),
              !c.perf.empty())
        << first;
    EXPECT_EQ(r.out.find_first_of("|\x1b", first.size()), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("mekvisa"), std::string::npos);
  }
}

}  // namespace
