// vorn_set end to end: the same bytes as vorn_sql for the same values, the
// input it refuses with its status and line, and the prompts on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testsupport::RunResult;

class VornSet : public testsupport::InTempDir {
 protected:
  RunResult set(const std::vector<std::string>& args, const std::string& input) {
    RunResult r =
        testsupport::runProgram(testsupport::programPath("vorn_set_testkey"),
                                {.args = args, .env = testsupport::baseEnv(dir_), .input = input, .cwd = dir_});
    EXPECT_FALSE(r.timed_out);
    return r;
  }
  std::string content(const std::string& name) {
    std::string text;
    return testsupport::readFile(path(name), &text) ? text : "(no file)";
  }
};

// For a choice of given values, with and without -y, plain and encrypted:
// vorn_set writes the bytes that vorn_sql writes when each question is
// answered yes (-y) or no. A combination is the mask of the values given times
// four, plus 2 for -e yes and 1 for -y; none, all, each alone and each left
// out run every time, a seeded sample of the others beside them.
TEST_F(VornSet, WritesWhatVornSqlWritesForTheSameValues) {
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  const char* names[] = {"hostname", "username", "password", "dbname", "portno"};
  const char* options[] = {"-H", "-u", "-p", "-d", "-P"};
  const char* given[] = {"db 1", "adm\tin", "p\xC3\xA4ss w\r", "auth", " +4000"};
  std::vector<int> uniform;
  for (int variant = 0; variant < 4; variant++) {
    uniform.insert(uniform.end(), {variant, 31 * 4 + variant});
    for (int bit = 1; bit < 32; bit *= 2) uniform.insert(uniform.end(), {bit * 4 + variant, (31 ^ bit) * 4 + variant});
  }
  for (int combination : testsupport::sampledCombinations(128, uniform, 24)) {
    const int mask = combination / 4;
    const char* flag = combination & 2 ? "yes" : "no";
    const bool accept = combination & 1;
    SCOPED_TRACE(testing::Message() << "given " << mask << " -e " << flag << (accept ? " -y" : ""));
    std::vector<std::string> sql = {"-e", flag, "-s", "by_sql"}, set_args = {"-e", flag, "-s", "by_set"};
    std::string answers = "y", input = "# given values\n\n";
    for (int i = 4; i >= 0; i--) {  // vorn_sql asks about PORTNO first
      if (mask & (1 << i)) {
        sql.insert(sql.end(), {options[i], given[i]});
        input += std::string(names[i]) + "=" + given[i] + "\n";
      } else {
        answers += accept ? "y" : "n";
      }
    }
    if (accept) set_args.push_back("-y");
    // --print: the same bytes on standard output, and no file.
    set_args.push_back("--print");
    RunResult printed = set(set_args, input);
    set_args.pop_back();
    EXPECT_FALSE(testsupport::fileExists(path("by_set")));
    RunResult by_sql = testsupport::runVornSql(dir_, {.args = sql, .input = answers}, "vorn_sql_testkey");
    ASSERT_EQ(by_sql.exit_code, 0) << by_sql.err;
    RunResult by_set = set(set_args, input);
    EXPECT_EQ(by_set.exit_code, 0) << by_set.err;
    EXPECT_EQ(by_set.out + by_set.err, "");
    EXPECT_EQ(content("by_set"), content("by_sql"));
    EXPECT_EQ(printed.out + printed.err, content("by_sql"));
    unlink(path("by_sql").c_str());
    unlink(path("by_set").c_str());
  }
}

TEST_F(VornSet, RefusesInputWithItsLineAndWritesNothing) {
  const std::string h68(68, 'h');
  const struct {
    std::string input;
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {"hostname=a\nusername\n", {}, "vorn_set: line 2: no \"=\" (NAME=VALUE expected)\n"},
      {"# x\nHostname=a\n",
       {},
       "vorn_set: line 2: unknown name \"Hostname\" (hostname, portno, dbname, username or password)\n"},
      {"dbname=a\n\ndbname=a", {}, "vorn_set: line 3: dbname given twice (first on line 1)\n"},
      {std::string("password=a\0b\n", 13), {}, "vorn_set: line 1: NUL byte\n"},
      {"password=\n", {}, "vorn_set: line 1: password is empty\n"},
      {"hostname=" + h68, {}, "vorn_set: line 1: hostname is too long (its line holds at most 79 characters)\n"},
      {"portno=3305\n", {}, "vorn_set: line 1: portno is not a port number from 3306 to 2147483647\n"},
      {"portno=33x\n", {}, "vorn_set: line 1: portno is not a port number from 3306 to 2147483647\n"},
      {"portno=2147483648\n", {}, "vorn_set: line 1: portno is not a port number from 3306 to 2147483647\n"},
      {"dbname=" + std::string(69, 'd') + "\npassword=" + std::string(15, 'p'),
       {},
       "vorn_set: line 2: password does not fit the file (315 characters at most)\n"},
      {std::string(8193, '#'), {}, "vorn_set: standard input is longer than 8192 bytes\n"},
      {"", {"-e", "YES"}, "vorn_set: -e takes yes or no\nUsage: vorn_set"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-s", "conf"});
    RunResult r = set(args, c.input);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err.substr(0, std::string(c.err).size()), c.err);
    EXPECT_FALSE(testsupport::fileExists(path("conf")));
    EXPECT_FALSE(testsupport::fileExists(path("conf~")));
  }
}

TEST_F(VornSet, SystemFailuresGiveStatusOneAndLeaveTheOldFile) {
  ASSERT_TRUE(testsupport::writeFile(path("conf"), testsupport::kOldConfig, 0444));
  ASSERT_TRUE(testsupport::writeFile(path("conf~"), "leftover", 0444));
  RunResult r = set({"-s", "conf"}, "hostname=h\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Failed to create \"conf\" (File exists)\n");
  unlink(path("conf~").c_str());
  r = set({"-e", "yes", "-s", "conf"}, "hostname=h\n");  // no key file here
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Cannot load the encryption key from \".vorn_yelto\"\n");
  EXPECT_EQ(content("conf"), testsupport::kOldConfig);
  EXPECT_FALSE(testsupport::fileExists(path("conf~")));
}

// On a terminal: each value asked for, the password without echo, the terminal
// restored afterwards and when interrupted at the password, and echo off again
// after a stop. The program runs as a shell's job does: in a process group of
// its own in the foreground, whose parent, in the same session, waits for it
// (the kernel ignores the terminal's stop in a group without one).
class VornSetTerminal : public VornSet {
 protected:
  void start(const std::vector<std::string>& args) {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(pipe(err_), 0);
    std::string program = testsupport::programPath("vorn_set_testkey");
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(slave_, 0);
      dup2(slave_, 1);
      dup2(err_[1], 2);
      if (pid_t job = fork(); job > 0) {
        int status = 0;
        waitpid(job, &status, 0);
        if (WIFSIGNALED(status)) raise(WTERMSIG(status));
        _exit(WEXITSTATUS(status));
      }
      setpgid(0, 0);
      signal(SIGTTOU, SIG_IGN);  // to take the terminal from the background
      tcsetpgrp(0, getpid());
      std::vector<std::string> words = {program};
      words.insert(words.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(slave_);
    close(err_[1]);
  }
  // Reads standard error until it ends with text.
  bool waitFor(const std::string& text) {
    while (err_text_.size() < text.size() ||
           err_text_.compare(err_text_.size() - text.size(), text.size(), text) != 0) {
      pollfd p = {err_[0], POLLIN, 0};
      char buf[256];
      ssize_t n = poll(&p, 1, 20000) > 0 ? read(err_[0], buf, sizeof buf) : 0;
      if (n <= 0) return false;
      err_text_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  bool echoing() {
    termios t{};
    tcgetattr(master_, &t);
    return (t.c_lflag & ECHO) != 0;
  }
  void type(const std::string& text) {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    return status;
  }
  std::string echoed() {
    std::string out;
    char buf[256];
    fcntl(master_, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(master_, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
  }
  void TearDown() override {
    close(master_);
    close(err_[0]);
    VornSet::TearDown();
  }
  int master_ = -1, slave_ = -1, err_[2] = {-1, -1};
  pid_t pid_ = -1;
  std::string err_text_;
};

TEST_F(VornSetTerminal, AsksForEachValueThePasswordWithoutEcho) {
  start({"-s", path("conf")});
  const char* answers[] = {"db1\n", "\n", "s3cret-pw\n", "auth\n", "80\n", "3307\n"};
  const char* prompts[] = {
      "hostname [leave out]: ", "username [leave out]: ",
      "password [leave out]: ", "dbname [leave out]: ",
      "portno [leave out]: ",   "portno is not a port number from 3306 to 2147483647\nportno [leave out]: "};
  for (size_t i = 0; i < std::size(answers); i++) {
    ASSERT_TRUE(waitFor(prompts[i])) << err_text_;
    if (i == 2) {
      for (int tries = 0; echoing() && tries < 500; tries++) usleep(10000);
      EXPECT_FALSE(echoing());
    }
    type(answers[i]);
  }
  int status = wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err_text_;
  std::string shown = echoed();
  EXPECT_NE(shown.find("db1"), std::string::npos);
  EXPECT_EQ(shown.find("s3cret-pw"), std::string::npos) << shown;
  EXPECT_TRUE(echoing());
  EXPECT_EQ(content("conf"), testsupport::configText({"\" HOSTNAME db1\n", "\" PASSWORD s3cret-pw\n",
                                                      "\" DBNAME auth\n", "\" PORTNO 3307\n"}));
}

TEST_F(VornSetTerminal, KeepsThePasswordHiddenAcrossAStopAndRestoresTheTerminalWhenInterrupted) {
  start({"-s", path("conf")});
  type("\n\n");
  ASSERT_TRUE(waitFor("password [leave out]: ")) << err_text_;
  for (int tries = 0; echoing() && tries < 500; tries++) usleep(10000);
  ASSERT_FALSE(echoing());
  pid_t job = tcgetpgrp(master_);
  type("\x1a");      // Ctrl-Z
  std::string stat;  // "PID (NAME) T ..." once stopped
  for (int tries = 0; stat.find(") T ") == std::string::npos && tries < 500; tries++, usleep(10000))
    testsupport::readFile("/proc/" + std::to_string(job) + "/stat", &stat);
  ASSERT_NE(stat.find(") T "), std::string::npos) << stat;
  EXPECT_TRUE(echoing());  // the shell's terminal as it was, while stopped
  kill(job, SIGCONT);
  for (int tries = 0; echoing() && tries < 500; tries++) usleep(10000);
  type("typed-after-the-stop");
  usleep(200000);  // the terminal's echo, if any, is done by now
  kill(job, SIGINT);
  int status = wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_TRUE(echoing());
  EXPECT_EQ(echoed().find("typed-after"), std::string::npos);
  EXPECT_FALSE(testsupport::fileExists(path("conf")));
}

}  // namespace
