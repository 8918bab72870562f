// check_vorn end to end against a private MariaDB server and a listener that
// never answers, with files that the test build of vorn_sql writes: the state
// of each check, the thresholds on the connection time, the timeout's state,
// and a report that shows no password and no control character. Then
// scheduled by Debian's Nagios, with a configuration of the test's own, while
// the server stops and starts again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <cstring>
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

// The connection time of a first line that ends with " | 'connect_time'=", the
// seconds with six decimals, "s" and tail, as the plugins' format has it; -1
// for another line.
double connectTime(const std::string& line, const std::string& tail) {
  const std::string label = " | 'connect_time'=";
  size_t at = line.find(label), point = line.find_first_not_of("0123456789", at + label.size());
  if (at == std::string::npos || point == at + label.size() || point == std::string::npos || line[point] != '.' ||
      line.find_first_not_of("0123456789", point + 1) != point + 7 || line.substr(point + 7) != "s" + tail)
    return -1;
  return std::stod(line.substr(at + label.size()));
}

// The value of the line "\tname=value" of a status file's block.
std::string field(const std::string& block, const std::string& name) {
  size_t at = block.find("\n\t" + name + "=");
  return at == std::string::npos ? ""
                                 : block.substr(at + name.size() + 3, block.find('\n', at + 1) - at - name.size() - 3);
}

// Writes conf with the test build of vorn_sql: the args given, the other values
// their defaults.
void writeConf(const std::string& conf, const std::vector<std::string>& args) {
  testsupport::RunOptions sql{.args = args, .input = "yyyyyy", .cwd = dir};
  sql.args.insert(sql.args.end(), {"-s", conf});
  ASSERT_EQ(testsupport::runProgram(testsupport::programPath("vorn_sql_testkey"), sql).exit_code, 0);
}

TEST_F(CheckVorn, EachCheckGivesItsStateAndTheReportShowsNoSecret) {
  const std::string port = std::to_string(server.port), silent = std::to_string(testsupport::loopbackSocket(true));
  const std::string conf = dir + "/conf", ok = "VORN OK - connected to 127.0.0.1 port " + port + " as yelto";
  const std::string fault = "\" AUTH_KEY\n\" PORTNO 80\n\" PORTNO 80\n";
  const std::vector<std::string> locked_ok = {"-i", "lock"};
  struct Case {
    std::vector<std::string> sql, args;  // vorn_sql's values (or the file's text, one word), check_vorn's options
    int status;
    std::string first, said = "";  // the first line's start; a part of the report
    std::string perf = "";         // what follows the connection time on the first line, when it is reported
    unsigned mode = 0444;
    bool lock = false;
  } cases[] = {
      {{"-H", "127.0.0.1", "-P", port}, {}, 0, ok, "[OK] " + conf + ": locked (immutable)\n", ";;;0;10", 0444, true},
      {{"-H", "127.0.0.1", "-P", port},
       {},
       1,
       "VORN WARNING - " + conf + ": not locked",
       "\n[OK] connected",
       ";;;0;10"},
      {{"-H", "127.0.0.1", "-P", port},
       {"-i", "lock", "-w", "0"},
       1,
       "VORN WARNING - connected",
       " (-w 0)",
       ";0;;0;10"},
      {{"-H", "127.0.0.1", "-P", port},
       {"-i", "lock", "-c", "@0:10", "-w", "0"},
       2,
       "VORN CRITICAL - connected",
       " (-c @0:10)\n",
       ";0;@0:10;0;10"},
      {{"-H", "127.0.0.1", "-P", port},
       {"-i", "lock", "-w", "10:", "-t", "7"},
       1,
       "VORN WARNING - connected",
       "",
       ";10:;;0;7"},
      {{"-H", "127.0.0.1", "-P", port}, {"-ilock", "-w~:10", "-c", "@10:20"}, 0, ok, "", ";~:10;@10:20;0;10"},
      {{"-H", "127.0.0.1", "-P", port, "-e", "yes"},
       {"-i", "lock", "-k", dir + "/.vorn_yelto"},
       0,
       ok,
       ": encrypted; the key loads from the key file " + dir + "/.vorn_yelto\n",
       ";;;0;10"},
      {{"-H", "127.0.0.1", "-P", port},
       locked_ok,
       1,
       "VORN WARNING - " + conf + ": mode 0644, not read-only",
       "",
       "",
       0644},
      {{"-H", "127.0.0.1", "-P", port},
       {"-i", "lock", "-m", "0400", "-o", "4242"},
       1,
       "VORN WARNING - " + conf + ": mode 0444, not 0400 (--mode); " + conf + ": owned by uid " +
           std::to_string(getuid()) + ", not 4242 (uid 4242)"},
      {{"-H", "127.0.0.1", "-P", port}, {"--ignore=lock,mode", "-i", "owner", "-o", "4242"}, 0, ok, "", "", 0666},
      {{"-H", "127.0.0.1", "-P", port, "-p", "wrong"},
       locked_ok,
       2,
       "VORN CRITICAL - " + conf + ": cannot connect to 127.0.0.1 port " + port +
           " as yelto: error 1045: Access denied"},
      {{"-H", "127.0.0.1", "-P", port, "-d", "nosuch"},
       locked_ok,
       2,
       "VORN CRITICAL - ",
       "error 1049: Unknown database"},
      {{"-H", "no|pe\x1b[2J.invalid", "-P", port}, locked_ok, 2, "VORN CRITICAL - ", "to no?pe?[2J.invalid port"},
      {{"-H", "127.0.0.1", "-P", silent},
       {"-i", "lock", "-t", "1"},
       2,
       "VORN CRITICAL - " + conf + ": cannot connect to 127.0.0.1 port " + silent +
           " as yelto: not done within the timeout of 1 s; given up\n",
       "[OK] " + conf + ": every line as vorn_sql writes it\n"},
      {{"-H", "127.0.0.1", "-P", silent},
       {"-i", "lock", "--timeout=1:Unknown"},
       3,
       "VORN UNKNOWN - ",
       "within the timeout"},
      {{fault},
       {"-v"},
       2,
       "VORN CRITICAL - " + conf + ": not as vorn_sql writes it (faults: 11); the first: ",
       "\n" + conf + ":3: PORTNO repeated (first on line 2)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first + " " + (c.args.empty() ? "" : c.args.back()));
    testsupport::removeTree(conf);  // unlocks a file locked before
    if (c.sql.size() == 1) {
      ASSERT_TRUE(testsupport::writeFile(conf, c.sql[0]));
    } else {
      writeConf(conf, c.sql);
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
    EXPECT_EQ(connectTime(first, c.perf) >= 0, !c.perf.empty()) << first;
    EXPECT_EQ(r.out.find_first_of("|\x1b", first.size()), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("mekvisa"), std::string::npos);
  }
}

// The Nagios configuration: the main file (checks every second, the state in
// the status file), the plugin folder, and one service of check_vorn on the file.
void writeNagiosConfig(const std::string& work, const std::string& conf) {
  std::string plugins = testsupport::programPath("check_vorn");
  plugins.erase(plugins.rfind('/'));
  std::string main = "cfg_file=" + work + "/objects.cfg\nresource_file=" + work + "/resource.cfg\n";
  for (const char* file : {"log_file=", "status_file=", "lock_file=", "temp_file=", "object_cache_file=",
                           "precached_object_file=", "state_retention_file="})
    main += file + work + "/" + std::string(file, std::strlen(file) - 1) + "\n";
  main += "temp_path=" + work + "\ncheck_result_path=" + work +
          "\nnagios_user=root\nnagios_group=root\ninterval_length=1\nstatus_update_interval=1\n"
          "check_result_reaper_frequency=1\nmax_service_check_spread=1\nexecute_host_checks=0\nuse_syslog=0\n"
          "enable_notifications=0\nretain_state_information=0\ncheck_external_commands=0\n"
          "illegal_macro_output_chars=`~$&|'\"<>\n";
  const std::string every_day =
      "sunday 0:00-24:00\nmonday 0:00-24:00\ntuesday 0:00-24:00\nwednesday 0:00-24:00\n"
      "thursday 0:00-24:00\nfriday 0:00-24:00\nsaturday 0:00-24:00\n";
  const std::string quiet =
      "check_period always\nnotification_period always\nnotifications_enabled 0\ncontacts nobody\n";
  ASSERT_TRUE(testsupport::writeFile(work + "/nagios.cfg", main));
  ASSERT_TRUE(testsupport::writeFile(work + "/resource.cfg", "$USER1$=" + plugins + "\n"));
  ASSERT_TRUE(testsupport::writeFile(
      work + "/objects.cfg",
      "define timeperiod {\ntimeperiod_name always\nalias always\n" + every_day +
          "}\ndefine command {\ncommand_name check_vorn\n"
          "command_line $USER1$/check_vorn -f $ARG1$ -w $ARG2$ -c $ARG3$ -t 5 -i lock\n}\n"
          "define contact {\ncontact_name nobody\nhost_notifications_enabled 0\nservice_notifications_enabled 0\n"
          "host_notification_period always\nservice_notification_period always\nhost_notification_options n\n"
          "service_notification_options n\nhost_notification_commands check_vorn\n"
          "service_notification_commands check_vorn\n}\ndefine host {\nhost_name auth1\naddress 127.0.0.1\n"
          "max_check_attempts 1\n" +
          quiet +
          "}\ndefine service {\nhost_name auth1\nservice_description vorn\n"
          "check_command check_vorn!" +
          conf + "!1!5\nmax_check_attempts 1\ncheck_interval 1\nretry_interval 1\n" + quiet + "}\n"));
}

// Waits up to 60 s for the status file to record a check of the service made after
// since in the state want; returns the record's plugin_output and
// performance_data lines, or what it last saw.
std::string recordedCheck(const std::string& work, int want, long since) {
  std::string status, seen;
  for (int i = 0; i < 600; i++, usleep(100000)) {
    size_t at =
        testsupport::readFile(work + "/status_file", &status) ? status.find("servicestatus {") : std::string::npos;
    if (at == std::string::npos) continue;
    std::string block = status.substr(at, status.find("\n\t}", at) - at);
    seen = "plugin_output=" + field(block, "plugin_output") + "\nperformance_data=" + field(block, "performance_data") +
           "\n";
    if (field(block, "current_state") == std::to_string(want) && std::stol("0" + field(block, "last_check")) > since)
      return seen;
  }
  return "not recorded in 60 s; last seen: " + seen;
}

TEST_F(CheckVorn, NagiosRecordsOkThenCriticalWithTheServerStoppedThenOkAgain) {
  if (!testsupport::fileExists("/usr/sbin/nagios4")) GTEST_SKIP() << "nagios4 is not installed (nagios4-core)";
  const std::string work = dir + "/nagios", conf = dir + "/nagios.conf", port = std::to_string(server.port);
  ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
  writeConf(conf, {"-H", "127.0.0.1", "-P", port});
  writeNagiosConfig(work, conf);
  pid_t nagios = testsupport::startProcess({"/usr/sbin/nagios4", work + "/nagios.cfg"}, work + "/nagios.out");
  ASSERT_GT(nagios, 0);
  const std::string ok =
      "plugin_output=VORN OK - connected to 127.0.0.1 port " + port + " as yelto, database quordexDB";
  // The recorded performance data as the plugin's first line ends.
  auto seconds = [](const std::string& check) {
    size_t at = check.find("\nperformance_data=") + 18;
    return connectTime(" | " + check.substr(at, check.find('\n', at) - at), ";1;5;0;5");
  };
  std::string first = recordedCheck(work, 0, 0);
  EXPECT_EQ(first.find(ok), 0u) << first;
  EXPECT_TRUE(seconds(first) >= 0 && seconds(first) < 1) << first;
  testsupport::haltMariadb(&server);
  std::string stopped = recordedCheck(work, 2, time(nullptr));
  EXPECT_EQ(stopped.find("plugin_output=VORN CRITICAL - " + conf + ": cannot connect to 127.0.0.1 port " + port +
                         " as yelto: error 2002: "),
            0u)
      << stopped;
  EXPECT_NE(stopped.find("\nperformance_data=\n"), std::string::npos) << stopped;
  std::string why;
  ASSERT_TRUE(testsupport::resumeMariadb(&server, &why)) << why;
  std::string again = recordedCheck(work, 0, time(nullptr));
  EXPECT_EQ(again.find(ok), 0u) << again;
  EXPECT_GE(seconds(again), 0) << again;
  testsupport::stopChild(nagios, SIGTERM);
}

}  // namespace
