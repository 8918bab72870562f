// vorn_sql end to end: the built program run with controlled arguments,
// environment and answers, in a scratch directory; exact output bytes, exit
// status, and the file it leaves (or does not leave) behind.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testsupport::RunResult;

const char kUsage[] =
    "vorn_sql [<options>]\n"
    " -h, --help            Print this message\n"
    " -H, --hostname        Hostname or IP address of the MariaDB server\n"
    " -e, --encrypt-flag    Set the encryption flag in the configuration file.\n"
    " -u, --username        MariaDB username\n"
    " -p, --password        Password for the MariaDB user\n"
    " -d, --dbname          MariaDB name to connect to\n"
    " -P, --portno          Port number of the MariaDB server\n"
    " -s, --secret=<file>   Specify a non-standard file location\n"
    "\n";

const char kQPort[] = "\nIf you do not specify portno, MariaDB server will not work properly. (y/n) ";
const char kQDb[] = "\nIf you do not specify dbname, MariaDB server will not work properly. (y/n) ";
const char kQPass[] = "\nIf you do not specify passwd, MariaDB server will not work properly. (y/n) ";
const char kQUser[] = "\nIf you do not specify username, MariaDB server will not work properly. (y/n) ";
const char kQHost[] = "\nIf you do not specify Hostname or IP address, MariaDB server will not work properly. (y/n) ";

using testsupport::kOldConfig;

using testsupport::configText;

class VornSql : public testsupport::InTempDir {
 protected:
  std::string target() const { return path(".vorn_sql"); }
  std::string prompt(const std::string& path) const {
    return "\nDo you want me to update your \"" + path + "\" file (y/n) ";
  }

  RunResult run(const std::vector<std::string>& args, const std::string& input = "",
                const std::vector<std::string>& env = {}, bool terminal = false,
                const std::vector<std::string>& prefix = {}) {
    RunResult r = testsupport::runVornSql(
        dir_, {.args = args, .env = env, .input = input, .stdout_on_terminal = terminal, .prefix = prefix});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    return r;
  }

  // The directory holds exactly these names, sorted.
  void expectEntries(const std::vector<std::string>& names) { EXPECT_EQ(testsupport::entryNames(dir_), names); }
  std::string content(const std::string& path) {
    std::string c;
    EXPECT_TRUE(testsupport::readFile(path, &c)) << path;
    return c;
  }
};

TEST_F(VornSql, CommandLineErrorsEndAtOnce) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"-h"}, "option requires an argument -- hFailed to parse command line\n"},
      {{"--p", "x"}, "ambiguous option -- pFailed to parse command line\n"},
      {{"--h"}, "ambiguous option -- hFailed to parse command line\n"},
      {{"-w"}, "Failed to parse command line\n"},
      {{"--bogus"}, "unknown option -- bogusFailed to parse command line\n"},
      {{"-x"}, "unknown option -- xFailed to parse command line\n"},
      {{"--help=x"}, "option doesn't take an argument -- helpFailed to parse command line\n"},
      {{"-u", "u", "--hostname"}, "option requires an argument -- hostnameFailed to parse command line\n"},
      {{"-H", "a", "-H", "b"}, "Duplicate -H option detected\n"},
      {{"-H", "a", "-H", ""}, "Duplicate -H option detected\n"},
      {{"-H", ""}, "-H must be followed by a hostname\n"},
      {{"--hostname="}, "-H must be followed by a hostname\n"},
      {{"-H", "db\nx"}, "-H must not contain a line break\n"},
      {{"-e", "no", "-e", "no"}, "Duplicate -e option detected\n"},
      {{"-e", ""}, "-e must be followed by a encrypt flag\n"},
      {{"-e", "YES"}, "-e requires an acceptable argument\n"},
      {{"-e", "yes "}, "-e requires an acceptable argument\n"},
      {{"-u", "a", "--user=b"}, "Duplicate -u option detected\n"},
      {{"-u", ""}, "-u must be followed by a username\n"},
      {{"-u", "\n"}, "-u must not contain a line break\n"},
      {{"-p", "a", "-p", "b"}, "Duplicate -p option detected\n"},
      {{"-p", ""}, "-p must be followed by a password\n"},
      {{"-p", "x\n\" ACL_TYPE allow"}, "-p must not contain a line break\n"},
      {{"-d", "a", "-d", "b"}, "Duplicate -d option detected\n"},
      {{"-d", ""}, "-d must be followed by a dbname\n"},
      {{"-d", "a\n"}, "-d must not contain a line break\n"},
      {{"-P", "4000", "-P", "4000"}, "Duplicate -P option detected\n"},
      {{"-P", "4000", "-P", "x"}, "Duplicate -P option detected\n"},
      {{"-P", "3305"}, "-P requires an argument\n"},
      {{"-P", "80"}, "-P requires an argument\n"},
      {{"-P", "-4000"}, "-P requires an argument\n"},
      {{"-P", "33x"}, "-P requires an argument\n"},
      {{"-P", ""}, "-P requires an argument\n"},
      {{"-P", " "}, "-P requires an argument\n"},
      {{"-P", "+"}, "-P requires an argument\n"},
      {{"-P", "4000 "}, "-P requires an argument\n"},
      {{"-P", "0x1000"}, "-P requires an argument\n"},
      {{"-P", "2147483648"}, "-P requires an argument\n"},
      {{"-P", "99999999999999999999"}, "-P requires an argument\n"},
      // Signed 32-bit on every build: 2^32 + 3306 and 2^64 + 3306, which are 3306
      // when cut to 32 or 64 bits.
      {{"-P", "4294970602"}, "-P requires an argument\n"},
      {{"-P", "18446744073709555922"}, "-P requires an argument\n"},
      {{"-s", "a", "--secret=b"}, "Duplicate -s option detected\n"},
      {{"-s", ""}, "-s must be followed by a filename\n"},
      // The first error wins, whatever comes after it.
      {{"-H", "", "--bogus"}, "-H must be followed by a hostname\n"},
      {{"-P", "1", "extra"}, "-P requires an argument\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult r = run(c.args, "yyyyyy");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "") << "usage and prompts are never flushed to a pipe";
    expectEntries({});
  }
}

TEST_F(VornSql, UsageOnTerminalSurvivesAParseFailure) {
  RunResult r = run({"-h"}, "", {}, true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.err, "option requires an argument -- hFailed to parse command line\n");
}

TEST_F(VornSql, HelpAndStrayArgumentsPrintUsage) {
  // clang-format off
  const std::vector<std::string> cases[] = {
      {"--help"}, {"-hx"}, {"--he"}, {"extra"}, {"-p", "x", "extra"}, {"extra", "-p", "x"}, {"--", "x"}, {"-"},
      {"-H", "h", "--help"}, {"--help", "--bogus"}};
  // clang-format on
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult r = run(args, "yyyyyy");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    expectEntries({});
  }
}

TEST_F(VornSql, HomeMustBeAnAbsolutePath) {
  for (const std::vector<std::string>& env : {std::vector<std::string>{"HOME=relative/dir"},
                                              std::vector<std::string>{"HOME="}, std::vector<std::string>{"X=1"}}) {
    SCOPED_TRACE(env[0]);
    RunResult r = run({"-p", "x"}, "yyyyyy", env);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Cannot determine home directory\n");
    EXPECT_EQ(r.out, "");
    expectEntries({});
  }
}

TEST_F(VornSql, DecliningTheUpdateWritesNothing) {
  for (const char* input : {"n", "", "x", "\ty", "  \r\n N"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(input)));
    RunResult r = run({}, input);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, prompt(target()));
    EXPECT_EQ(r.err, "");
    expectEntries({});
  }
}

TEST_F(VornSql, WritesTheConfiguration) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* input;
    std::vector<std::string> questions;
    std::vector<std::string> lines;
  };
  // clang-format off
  const Case cases[] = {
      {"every default declined", {}, "y nnnnn", {kQPort, kQDb, kQPass, kQUser, kQHost}, {}},
      {"end of input declines", {}, "y", {kQPort, kQDb, kQPass, kQUser, kQHost}, {}},
      {"every default accepted", {}, "yyyyyy", {kQPort, kQDb, kQPass, kQUser, kQHost},
       {"\" HOSTNAME localhost\n", "\" USERNAME yelto\n", "\" PASSWORD mekvisa\n", "\" DBNAME quordexDB\n",
        "\" PORTNO 3306\n"}},
      {"every value given", {"-P", "5432", "-d", "db", "-p", "a b", "-u", "me", "-H", "10.0.0.7"}, "y", {},
       {"\" HOSTNAME 10.0.0.7\n", "\" USERNAME me\n", "\" PASSWORD a b\n", "\" DBNAME db\n", "\" PORTNO 5432\n"}},
      {"long forms and prefixes",
       {"--portno=3306", "--db", "d", "--pass", "p w", "--username=u", "--host", "h", "--encrypt-flag", "no",
        "--sec", "conf"},
       "y", {}, {"\" HOSTNAME h\n", "\" USERNAME u\n", "\" PASSWORD p w\n", "\" DBNAME d\n", "\" PORTNO 3306\n"}},
      {"attached short values", {"-P+4000", "-ddb1", "-e", "no"}, "yyyyy", {kQPass, kQUser, kQHost},
       {"\" HOSTNAME localhost\n", "\" USERNAME yelto\n", "\" PASSWORD mekvisa\n", "\" DBNAME db1\n",
        "\" PORTNO 4000\n"}},
      {"port with leading blanks and the largest port", {"-P", " \t2147483647"}, "ynnnn",
       {kQDb, kQPass, kQUser, kQHost}, {"\" PORTNO 2147483647\n"}},
      {"a yes answers three questions", {}, "yes\nyy", {kQPort, kQDb, kQPass, kQUser, kQHost},
       {"\" USERNAME yelto\n", "\" PASSWORD mekvisa\n"}},
      {"answers after blanks", {"-p", "x"}, "  \n y\r\n\ny n \n\n y", {kQPort, kQDb, kQUser, kQHost},
       {"\" USERNAME yelto\n", "\" PASSWORD x\n", "\" PORTNO 3306\n"}},
      {"values copied unchanged", {"-p", "\"q\" \\t $HOME", "-u", "x=y"}, "y", {kQPort, kQDb, kQHost},
       {"\" USERNAME x=y\n", "\" PASSWORD \"q\" \\t $HOME\n"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool relative = false;
    for (const std::string& a : c.args)
      if (a == "conf") relative = true;
    RunResult r = run(c.args, c.input);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    std::string out = prompt(relative ? "conf" : target());
    for (const std::string& q : c.questions) out += q;
    EXPECT_EQ(r.out, out);
    std::string file = relative ? path("conf") : target();
    EXPECT_EQ(content(file), configText(c.lines));
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    expectEntries({relative ? "conf" : ".vorn_sql"});
    testsupport::removeTree(file);
  }
}

TEST_F(VornSql, ReplacesTheOldFileAndIgnoresPosixlyCorrect) {
  for (bool posixly : {false, true}) {
    SCOPED_TRACE(posixly ? "POSIXLY_CORRECT set" : "unset");
    ASSERT_TRUE(testsupport::writeFile(target(), kOldConfig, 0444));
    std::vector<std::string> env = testsupport::baseEnv(dir_);
    if (posixly) env.push_back("POSIXLY_CORRECT=1");
    RunResult r = run({"-H", "h", "-P", "3306"}, "y nnn", env);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(content(target()), configText({"\" HOSTNAME h\n", "\" PORTNO 3306\n"}));
    expectEntries({".vorn_sql"});
    RunResult stray = run({"-H", "h", "extra", "-u", "u"}, "y", env);
    EXPECT_EQ(stray.exit_code, 0);
    EXPECT_EQ(stray.out, kUsage);
    unlink(target().c_str());
  }
}

// Values at the edge of the text's room: the longest that fit are written; one
// character more, or a default accepted after them, fails, leaving the old file
// as it was and no temporary file.
TEST_F(VornSql, ValuesAtTheSizeLimits) {
  const std::string s67(67, 'h'), s68(68, 'h'), s69(69, 'd'), s70(70, 'd'), s14(14, 'p'), s15(15, 'p');
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* input;
    std::vector<std::string> questions;  // after the update prompt
    const char* err;                     // null: written, with lines
    std::vector<std::string> lines;
  };
  // clang-format off
  const Case cases[] = {
      {"host of 67 characters", {"-H", s67}, "y nnnn", {kQPort, kQDb, kQPass, kQUser}, nullptr,
       {"\" HOSTNAME " + s67 + "\n"}},
      {"host of 68", {"-H", s68}, "y nnnn", {kQPort, kQDb, kQPass, kQUser}, "HOSTNAME value is too long\n", {}},
      {"user of 67", {"-u", s67}, "y nnnn", {kQPort, kQDb, kQPass, kQHost}, nullptr, {"\" USERNAME " + s67 + "\n"}},
      {"user of 68", {"-u", s68}, "y nnn", {kQPort, kQDb, kQPass}, "USERNAME value is too long\n", {}},
      {"password of 67", {"-p", s67}, "y nnnn", {kQPort, kQDb, kQUser, kQHost}, nullptr,
       {"\" PASSWORD " + s67 + "\n"}},
      {"password of 68", {"-p", s68}, "y nn", {kQPort, kQDb}, "PASSWORD value is too long\n", {}},
      {"dbname of 69", {"-d", s69}, "y nnnn", {kQPort, kQPass, kQUser, kQHost}, nullptr, {"\" DBNAME " + s69 + "\n"}},
      {"dbname of 70", {"-d", s70}, "y n", {kQPort}, "DBNAME value is too long\n", {}},
      // 210 + 79 + 26 = 315 characters: the text fills its area exactly.
      {"text that fills its area", {"-d", s69, "-p", s14}, "y nnn", {kQPort, kQUser, kQHost}, nullptr,
       {"\" PASSWORD " + s14 + "\n", "\" DBNAME " + s69 + "\n"}},
      {"text one character too long", {"-d", s69, "-p", s15}, "y n", {kQPort}, "PASSWORD value is too long\n", {}},
      {"accepted default that does not fit", {"-d", s69, "-p", s14}, "y n y", {kQPort, kQUser},
       "USERNAME value is too long\n", {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testsupport::writeFile(target(), kOldConfig, 0444));
    RunResult r = run(c.args, c.input);
    EXPECT_EQ(r.exit_code, c.err == nullptr ? 0 : 1);
    EXPECT_EQ(r.err, c.err == nullptr ? "" : c.err);
    std::string out = prompt(target());
    for (const std::string& q : c.questions) out += q;
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(content(target()), c.err == nullptr ? configText(c.lines) : kOldConfig);
    expectEntries({".vorn_sql"});
  }
}

// Whatever stands in the way of the new file, the folder stays as it was: the
// old file, a leftover temporary file, what a link at the temporary path leads
// to, a folder, FIFO, socket or device at the file's path, and no temporary
// file. A symbolic link at the file's path is replaced, its target kept: a
// mistyped -s /dev/null must not destroy the node, nor leave the text where
// anything may read it.
TEST_F(VornSql, ObstaclesLeaveTheFolderAsItWas) {
  struct Case {
    const char* name;
    void (*make)(const std::string& folder);  // what is in the way of folder/conf
    std::vector<std::string> prefix;          // put before vorn_sql
    const char* err;  // the whole message, or its start when it ends in "..."; null: conf replaced
  };
  const Case cases[] = {
      {"leftover temporary file",
       [](const std::string& f) {
         ASSERT_TRUE(testsupport::writeFile(f + "/conf", kOldConfig, 0444));
         ASSERT_TRUE(testsupport::writeFile(f + "/conf~", "leftover", 0444));
       },
       {},
       "Failed to create \"conf\" (File exists)"},
      {"symbolic link at the temporary path",
       [](const std::string& f) {
         ASSERT_TRUE(testsupport::writeFile(f + "/victim", "keep", 0644));
         ASSERT_EQ(symlink((f + "/victim").c_str(), (f + "/conf~").c_str()), 0);
       },
       {},
       "Failed to create \"conf\" (File exists)"},
      {"folder",
       [](const std::string& f) { ASSERT_EQ(mkdir((f + "/conf").c_str(), 0755), 0); },
       {},
       "Failed to write new secret: Is a directory\n"},
      {"FIFO",
       [](const std::string& f) { ASSERT_EQ(mkfifo((f + "/conf").c_str(), 0644), 0); },
       {},
       "Refusing to replace \"conf\": it is a FIFO, not a configuration file\n"},
      {"socket",
       [](const std::string& f) {
         sockaddr_un addr{.sun_family = AF_UNIX, .sun_path = {}};
         std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/conf", f.c_str());
         int sock = socket(AF_UNIX, SOCK_STREAM, 0);
         ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
         close(sock);  // the node stays
       },
       {},
       "Refusing to replace \"conf\": it is a socket, not a configuration file\n"},
      {"character device (root only)",
       [](const std::string& f) { ASSERT_EQ(mknod((f + "/conf").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0); },
       {},
       "Refusing to replace \"conf\": it is a character device, not a configuration file\n"},
      {"file size limit 0",
       [](const std::string& f) { ASSERT_TRUE(testsupport::writeFile(f + "/conf", kOldConfig, 0444)); },
       {"prlimit", "--fsize=0", "--"},
       "Failed to write new secret: File too large\n"},
      // A short write sets no errno: only the message's start is fixed.
      {"file size limit 100",
       [](const std::string& f) { ASSERT_TRUE(testsupport::writeFile(f + "/conf", kOldConfig, 0444)); },
       {"prlimit", "--fsize=100", "--"},
       "Failed to write new secret: ..."},
      {"symbolic link to a FIFO",
       [](const std::string& f) {
         ASSERT_EQ(mkfifo((f + "/fifo").c_str(), 0644), 0);
         ASSERT_EQ(symlink("fifo", (f + "/conf").c_str()), 0);
       },
       {},
       nullptr},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (geteuid() != 0 && std::string_view(c.name).ends_with("(root only)")) continue;
    const std::string folder = path("row" + std::to_string(row++));
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    c.make(folder);
    std::map<std::string, std::string> want = testsupport::folderSnapshot(folder);
    RunResult r =
        testsupport::runVornSql(folder, {.args = {"-H", "h", "-s", "conf"}, .input = "y nnnn", .prefix = c.prefix});
    std::string err = c.err == nullptr ? "" : c.err;
    if (err.ends_with("...")) {
      err.resize(err.size() - 3);
      r.err.resize(std::min(r.err.size(), err.size()));
    }
    EXPECT_EQ(r.exit_code, c.err == nullptr ? 0 : 1);
    EXPECT_EQ(r.err, err);
    if (c.err == nullptr) want["conf"] = "100444 " + configText({"\" HOSTNAME h\n"});
    EXPECT_EQ(testsupport::folderSnapshot(folder), want);
  }
}

// ---------------------------------------------------------------------------
// The encrypted form

// vorn_sql -e yes end to end, through its test build, which reads the key file
// ".vorn_yelto" in its working directory: the test's directory.
class VornSqlEncrypted : public testsupport::InTempDir {
 protected:
  testsupport::RunResult run(const std::string& target, const std::string& answers,
                             std::string_view build = "vorn_sql_testkey") {
    return testsupport::runVornSql(dir_, {.args = {"-e", "yes", "-s", path(target)}, .input = answers}, build);
  }
  std::string content(const std::string& name) {
    std::string text;
    EXPECT_TRUE(testsupport::readFile(path(name), &text)) << name;
    return text;
  }
};

// Known answers computed apart from the program (tests/fixtures/make_fixtures.py)
// under the committed key file.
TEST_F(VornSqlEncrypted, WritesTheKnownCipherOfThePlainText) {
  const struct {
    const char* fixture;
    const char* answers;  // update, then port, database, password, user, host
  } cases[] = {
      {"minimal", "ynnnnn"},
      {"defaults", "yyyyyy"},
  };
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    testsupport::RunResult enc = run("encrypted", c.answers);
    ASSERT_EQ(enc.exit_code, 0) << enc.err;
    std::string want;
    ASSERT_TRUE(testsupport::readFile(testsupport::fixturePath(std::string(c.fixture) + ".encrypted"), &want));
    EXPECT_EQ(content("encrypted"), want);
    unlink(path("encrypted").c_str());
  }
}

TEST_F(VornSqlEncrypted, UnusableKeyLeavesTheOldFile) {
  const std::string key = testsupport::kTestKeyFile;
  const struct {
    const char* name;
    void (*prepare)(const std::string& key);
  } cases[] = {
      {"no key file", [](const std::string& k) { ASSERT_EQ(unlink(k.c_str()), 0); }},
      {"key file writable by others", [](const std::string& k) { ASSERT_EQ(chmod(k.c_str(), 0666), 0); }},
      {"FIFO at the key path",
       [](const std::string& k) {
         ASSERT_EQ(unlink(k.c_str()), 0);
         ASSERT_EQ(mkfifo(k.c_str(), 0444), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(key.c_str());
    ASSERT_EQ(testsupport::makeKeyFile(path(key)).exit_code, 0);
    c.prepare(key);
    ASSERT_TRUE(testsupport::writeFile(path("secret"), kOldConfig, 0444));
    testsupport::RunResult r = run("secret", "yyyyyy");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Cannot load the encryption key from \".vorn_yelto\"\n");
    EXPECT_EQ(content("secret"), kOldConfig);
    EXPECT_FALSE(testsupport::fileExists(path("secret~")));
  }
}

// The deliverable differs from the test build in its key path only: without a
// key file at the fixed path, it names that path and writes nothing.
TEST_F(VornSqlEncrypted, DeliverableReadsTheFixedKeyPath) {
  if (testsupport::fileExists(testsupport::kFixedKeyFile)) {
    GTEST_SKIP() << "a key file is installed at " << testsupport::kFixedKeyFile;
  }
  // In the working directory, where the deliverable must not look.
  ASSERT_EQ(testsupport::makeKeyFile(path(testsupport::kTestKeyFile)).exit_code, 0);
  ASSERT_TRUE(testsupport::writeFile(path("secret"), kOldConfig, 0444));
  testsupport::RunResult r = run("secret", "ynnnnn", "vorn_sql");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("Cannot load the encryption key from \"") + testsupport::kFixedKeyFile + "\"\n");
  EXPECT_EQ(content("secret"), kOldConfig);
  EXPECT_FALSE(testsupport::fileExists(path("secret~")));
}

}  // namespace
