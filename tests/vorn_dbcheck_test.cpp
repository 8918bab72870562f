// vorn_dbcheck end to end against a private MariaDB server, and against
// listeners of the test's own that ask for the password or trickle their answer,
// with files that the test build of vorn_sql writes (plain, or encrypted under a
// key file made by vorn_keyfile in the test's folder).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mariadb_server.h"
#include "test_support.h"

namespace {

testsupport::MariadbServer server;
std::string dir;
const std::string kOddPassword = "a b\t\xc3\xa4\x80\xff z";
// The configuration's name, with a terminal title and a bell in it, and as every
// message shows it.
const std::string kConf = "co\x1b]0;x\anf", kShownConf = "co?]0;x?nf";

// The server starts once, in the first test's SetUp, where a failure fails the
// test (in SetUpTestSuite it would only skip it).
class DbCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (server.pid > 0) return;
    std::string why;
    ASSERT_TRUE(testsupport::startMariadb(&server, &why)) << why;
    std::printf("mariadb: data folder %.2f s, first answer %.2f s later\n", server.install_seconds,
                server.start_seconds);
    ASSERT_TRUE(testsupport::runSql(server,
                                    "CREATE DATABASE quordexDB; CREATE USER yelto IDENTIFIED BY 'mekvisa';"
                                    "GRANT ALL ON quordexDB.* TO yelto; GRANT ALL ON nosuch.* TO yelto;"
                                    "CREATE USER odd IDENTIFIED BY '" +
                                        kOddPassword +
                                        "';"
                                        "GRANT SELECT ON quordexDB.* TO odd; CREATE USER norights IDENTIFIED BY 'x';"
                                        "INSTALL SONAME 'auth_ed25519'; CREATE USER ed IDENTIFIED VIA ed25519 USING "
                                        "PASSWORD('edpass'); GRANT SELECT ON quordexDB.* TO ed;",
                                    &why))
        << why;
    dir = testsupport::makeTempDir("dbcheck");
    ASSERT_EQ(testsupport::makeKeyFile(dir + "/" + testsupport::kTestKeyFile).exit_code, 0);
  }
  static void TearDownTestSuite() {
    testsupport::stopMariadb(&server);
    testsupport::removeTree(dir);
  }
};

// vorn_sql's options for the given values; an empty one is left out (declined).
std::vector<std::string> values(std::string host, std::string port, std::string user, std::string password,
                                std::string db = "quordexDB") {
  std::vector<std::string> args;
  for (auto [flag, value] : {std::pair{"-H", host}, {"-P", port}, {"-u", user}, {"-p", password}, {"-d", db}})
    if (!value.empty()) args.insert(args.end(), {flag, value});
  return args;
}

// Writes dir/kConf with the test build of vorn_sql.
void writeConf(const std::vector<std::string>& sql_args) {
  testsupport::RunOptions sql;
  sql.args = sql_args;
  sql.args.insert(sql.args.end(), {"-s", dir + "/" + kConf});
  sql.input = "ynnnnn";
  sql.cwd = dir;
  testsupport::RunResult written = testsupport::runProgram(testsupport::programPath("vorn_sql_testkey"), sql);
  EXPECT_EQ(written.exit_code, 0) << written.err;
}

TEST_F(DbCheck, ConnectsOrSaysWhyInOneLine) {
  const std::string port = std::to_string(server.port), local = "127.0.0.1", sock = server.socket;
  const std::string refused = std::to_string(testsupport::loopbackSocket(false));
  const std::string silent = std::to_string(testsupport::loopbackSocket(true));
  const std::string wrapped = std::to_string(server.port + 65536);  // modulo 65536: the server's port
  std::vector<std::string> encrypted = values(local, port, "yelto", "mekvisa");
  encrypted.insert(encrypted.end(), {"-e", "yes"});
  struct Case {
    const char* name;
    std::vector<std::string> sql_args, args;  // vorn_sql's and vorn_dbcheck's options
    int status;
    std::string said;  // the start of the line on standard output, or a part of the one on standard error
  } cases[] = {
      {"plain",
       values(local, port, "yelto", "mekvisa"),
       {},
       0,
       "Connected to 127.0.0.1 port " + port + " as yelto, database quordexDB, server 10."},
      {"encrypted", encrypted, {"-k", dir + "/.vorn_yelto"}, 0, "Connected to 127.0.0.1 port " + port + " as yelto"},
      {"password with spaces and high bytes", values(local, port, "odd", kOddPassword), {}, 0, "Connected"},
      {"ed25519 account", values(local, port, "ed", "edpass"), {}, 0, "Connected to 127.0.0.1 port " + port + " as ed"},
      {"localhost",
       values("localhost", "3306", "yelto", "mekvisa"),
       {"--socket=" + sock},
       0,
       "Connected to localhost socket " + sock + " as yelto, database quordexDB"},
      {"wrong password",
       values(local, port, "yelto", "wrong"),
       {},
       1,
       ": cannot connect to 127.0.0.1 port " + port + " as yelto: error 1045: Access denied for user 'yelto'@"},
      {"no rights",
       values(local, port, "norights", "x"),
       {},
       1,
       "error 1044: Access denied for user 'norights'@'%' to database 'quordexDB'"},
      {"unknown database",
       values(local, port, "yelto", "mekvisa", "nosuch"),
       {},
       1,
       "error 1049: Unknown database 'nosuch'"},
      {"nothing listening", values(local, refused, "yelto", "mekvisa"), {}, 1, " as yelto: error 2002: "},
      {"unknown host, control characters in its name",
       values("no\x1b[2J\x9b\xc2\x9bhost.invalid", port, "yelto", "mekvisa"),
       {},
       1,
       "to no?[2J???host.invalid port " + port + " as yelto: error 2005: Unknown server host 'no?[2J???host.invalid'"},
      {"silent listener", values(local, silent, "yelto", "mekvisa"), {"-t", "1"}, 1, " as yelto: error 2013: "},
      {"port beyond TCP",
       values(local, wrapped, "yelto", "mekvisa"),
       {},
       1,
       ": PORTNO " + wrapped + " is not a TCP port (at most 65535); no connection tried\n"},
      {"missing lines",
       values(local, port, "", ""),
       {},
       1,
       ": no USERNAME line; cannot connect without it\n" + dir + "/" + kShownConf +
           ": no PASSWORD line; cannot connect"},
      {"key file not there",
       encrypted,
       {"-k", dir + "/k\x1b"},
       2,
       "Cannot load the encryption key from \"" + dir + "/k?\" to read \"" + dir + "/" + kShownConf + "\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeConf(c.sql_args);
    testsupport::RunOptions check;
    check.args = c.args;
    check.args.push_back(dir + "/" + kConf);
    testsupport::RunResult r = testsupport::runProgram(testsupport::programPath("vorn_dbcheck"), check);
    EXPECT_EQ(r.exit_code, c.status) << r.out << r.err;
    // One line on one stream; the other stays empty. A line about the
    // connection starts with the file's name.
    const std::string& line = c.status == 0 ? r.out : r.err;
    EXPECT_EQ(c.status == 0 ? r.err : r.out, "");
    EXPECT_EQ(line.find(c.status == 1 ? dir + "/" + kShownConf + ":" : c.said), 0u) << line;
    EXPECT_NE(line.find(c.said), std::string::npos) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), c.name == std::string("missing lines") ? 2 : 1) << line;
    EXPECT_EQ(line.find("mekvisa"), std::string::npos);
    EXPECT_EQ(line.find("a b"), std::string::npos);
  }
}

// A host that only plays the server gets no password unless --allow-cleartext
// lets it ask for one, and no more time than the timeout. The listener records
// what the client sent. No plugin that the caller's environment plants is ever
// loaded, whether the server asks for it or the variable lists it.
TEST_F(DbCheck, ListenersThatPlayTheServerGetNoPasswordAndNoTime) {
  const std::string refused = ", which keep the password from it; the password was not sent (see --allow-cleartext)\n";
  const std::string unused = ": the server asks for an authentication plugin that vorn_dbcheck does not use;";
  const std::string allow = "--allow-cleartext", native = "mysql_native_password";
  const std::string planted = VORN_PLANTED_PLUGIN_DIR, mark = dir + "/planted-plugin-ran";
  ASSERT_TRUE(testsupport::fileExists(planted + "/evil.so"));
  const std::vector<std::string> folders = {"MARIADB_PLUGIN_DIR=" + planted, "LIBMYSQL_PLUGIN_DIR=" + planted};
  const std::vector<std::string> listed = {folders[0], folders[1], "LIBMYSQL_PLUGINS=evil"};
  const struct {
    const char* name;
    std::vector<std::string> listener, args;  // fake_mariadb.py's after RECORD, vorn_dbcheck's
    bool sent;                                // the password reached the listener
    std::string said;
    std::vector<std::string> env{};  // vorn_dbcheck's whole environment
  } cases[] = {
      {"switch to clear text", {native, "mysql_clear_password"}, {}, false, refused},
      {"switch to dialog (PAM)", {native, "dialog"}, {}, false, refused},
      {"switch to sha256_password", {native, "sha256_password"}, {}, false, refused},
      {"greeting and switch: caching_sha2", {"caching_sha2_password", "caching_sha2_password"}, {}, false, refused},
      {"greeting asks for clear text", {"mysql_clear_password", "none"}, {}, false, "error 1045: Access denied\n"},
      {"clear text allowed", {native, "mysql_clear_password"}, {allow}, true, "error 1045: Access denied\n"},
      {"unknown plugin, clear text allowed", {native, "other_plugin"}, {allow}, false, unused},
      {"one byte a second", {"--trickle"}, {"-t", "2"}, false, ": not done within the timeout of 2 s; given up\n"},
      {"switch to a plugin in the environment's folder", {native, "evil"}, {}, false, refused, folders},
      {"plugin listed in the environment", {native, "none"}, {}, false, "error 1045: Access denied\n", listed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> listener = c.listener;
    listener.insert(listener.begin(), dir + "/record");
    unlink((dir + "/record").c_str());
    testsupport::FakeServer fake;
    ASSERT_TRUE(testsupport::startFakeServer(&fake, listener, dir + "/fake.log"));
    writeConf(values("127.0.0.1", std::to_string(fake.port), "yelto", "TopSecret42"));
    testsupport::RunOptions check;
    check.args = c.args;
    check.args.push_back(dir + "/" + kConf);
    check.env = c.env;
    check.cwd = dir;
    unlink(mark.c_str());
    testsupport::RunResult r = testsupport::runProgram(testsupport::programPath("vorn_dbcheck"), check);
    testsupport::stopFakeServer(&fake);
    EXPECT_FALSE(testsupport::fileExists(mark));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find(dir + "/" + kShownConf + ": "), 0u) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    std::string got;
    EXPECT_TRUE(testsupport::readFile(dir + "/record", &got));
    EXPECT_EQ(got.find("TopSecret42") != std::string::npos, c.sent) << got;
  }
}

}  // namespace
