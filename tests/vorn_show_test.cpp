// vorn_show and vorn_keyfile end to end: broken texts and unreadable files with
// their status and reported line, every text vorn_sql can write read back
// (plain and encrypted), and key files made by vorn_keyfile opening them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testsupport::RunResult;

// The text vorn_sql writes with every default accepted.
std::string defaultText() {
  return testsupport::configText({"\" HOSTNAME localhost\n", "\" USERNAME yelto\n", "\" PASSWORD mekvisa\n",
                                  "\" DBNAME quordexDB\n", "\" PORTNO 3306\n"});
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Each test in a fresh folder, the working directory of the programs it runs.
class VornShow : public testsupport::InTempDir {
 protected:
  RunResult run(std::string_view program, const std::vector<std::string>& args,
                const std::string& home = "/nonexistent") {
    testsupport::RunOptions o;
    o.args = args;
    o.env = {"PATH=/usr/bin:/bin"};
    if (!home.empty()) o.env.push_back("HOME=" + home);
    o.input = input_;
    o.cwd = dir_;
    o.timeout_seconds = 20;
    RunResult r = testsupport::runProgram(testsupport::programPath(program), o);
    EXPECT_FALSE(r.timed_out) << testsupport::programPath(program);
    return r;
  }
  RunResult show(const std::vector<std::string>& args, const std::string& home = "/nonexistent") {
    return run("vorn_show_testkey", args, home);
  }
  std::string keyFile(const std::vector<std::string>& args) {
    RunResult r = run("vorn_keyfile", args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  }
  std::string input_;
};

TEST_F(VornShow, BrokenTextsReportTheirLineAndStatus) {
  const std::string ok = defaultText();
  const std::string minimal = ok.substr(0, 11) + ok.substr(11 + 90);  // the fixed lines only
  const struct {
    const char* name;
    std::string text;
    int status;
    int line;  // of the first fault reported; 0: a fault of the whole text
  } cases[] = {
      {"79-character host line", replaced(minimal, "Y\n", "Y\n\" HOSTNAME " + std::string(67, 'h') + "\n"), 0, -1},
      {"80-character host line", replaced(minimal, "Y\n", "Y\n\" HOSTNAME " + std::string(68, 'h') + "\n"), 1, 2},
      {"longer than 315", replaced(ok, "mekvisa", "mekvisa" + std::string(16, 'x')), 1, 0},
      {"no newline at the end", ok.substr(0, ok.size() - 1), 1, 15},
      {"NUL byte in a value", replaced(ok, "mekvisa", std::string("mek\0isa", 7)), 1, 4},
      {"blank line", replaced(ok, "\" ACL_TYPE", "\n\" ACL_TYPE"), 1, 11},
      {"lower-case key", replaced(ok, "USERNAME", "username"), 1, 3},
      {"space without a value", replaced(ok, "quordexDB", ""), 1, 5},
      {"connection line without a value", replaced(ok, "USERNAME yelto", "USERNAME"), 1, 3},
      {"unknown key", replaced(ok, "\" ACL_TYPE", "\" COLOR red\n\" ACL_TYPE"), 1, 11},
      {"repeated line", replaced(ok, "\" USERNAME", "\" HOSTNAME x\n\" USERNAME"), 1, 3},
      {"misplaced line", replaced(ok, "\" HOSTNAME localhost\n", "") + "\" HOSTNAME localhost\n", 1, 15},
      {"port below 3306", replaced(ok, "3306", "3305"), 1, 6},
      {"port with a leading zero", replaced(ok, "3306", "03306"), 1, 6},
      {"port beyond 2147483647", replaced(ok, "3306", "2147483648"), 1, 6},
      {"fixed line with another value", replaced(ok, "3 30", "3 31"), 1, 7},
      {"fixed line without its value", replaced(ok, "DETECT_YN n", "DETECT_YN"), 1, 15},
      {"secure key outside base64", replaced(ok, "Vq7Z", "Vq7!"), 1, 10},
      {"secure key of 31 characters", replaced(ok, "Vq7Z", "Vq7"), 1, 10},
      {"missing fixed line", replaced(ok, "\" CYCLE_TIME 30\n", ""), 1, 9},
      {"missing last line", replaced(ok, "\" DETECT_YN n\n", ""), 1, 15},
      {"first line with a value is not plain", replaced(ok, "AUTH_KEY", "AUTH_KEY x"), 2, -1},
      {"empty file", "", 2, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testsupport::writeFile(path("conf"), c.text));
    RunResult r = show({"--quiet", "conf"});
    EXPECT_EQ(r.exit_code, c.status) << r.err;
    EXPECT_EQ(r.out, "");
    std::string first = r.err.substr(0, r.err.find('\n'));
    if (c.line >= 0) {
      std::string where = c.line > 0 ? "conf:" + std::to_string(c.line) + ": " : "conf: ";
      EXPECT_EQ(first.rfind(where, 0), 0u) << r.err;
    } else if (c.status == 0) {
      for (size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) {
        EXPECT_EQ(r.err.compare(at, 12, "conf: note: "), 0) << r.err;  // notes only
      }
    }
  }
}

TEST_F(VornShow, UnreadableFilesAndUsageGiveStatusTwo) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
  ASSERT_TRUE(testsupport::writeFile(path("big"), "\" AUTH_KEY\n" + std::string(4086, 'x')));
  ASSERT_TRUE(testsupport::writeFile(path(".vorn_sql"), defaultText()));
  ASSERT_EQ(symlink(".vorn_sql", path("link").c_str()), 0);
  const struct {
    std::vector<std::string> args;
    std::string home;
    int status;
    const char* message;  // the start of standard error
  } cases[] = {
      {{"fifo"}, "/x", 2, "Cannot read \"fifo\": not a regular file\n"},
      {{"folder"}, "/x", 2, "Cannot read \"folder\": not a regular file\n"},
      {{"big"}, "/x", 2, "Cannot read \"big\": larger than 4096 bytes\n"},
      {{"missing"}, "/x", 2, "Cannot open \"missing\": No such file or directory\n"},
      {{"-q", "link"}, "/x", 0, ""},
      {{"-q"}, "", 0, ""},  // HOME set to the test folder below
      {{"-q"}, "relative", 2, "Cannot determine home directory\n"},
      {{"-k"}, "/x", 2, "option requires an argument -- k\nUsage: vorn_show"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.home);
    RunResult r = show(c.args, c.home.empty() ? dir_ : c.home);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// Every combination of given, defaulted and declined connection values, written
// plain and encrypted by vorn_sql: --reveal gives the plain file back, and the
// masked form differs from it in the password value only.
TEST_F(VornShow, ShowsEveryTextVornSqlWrites) {
  keyFile({"--key=112233445566778899aabbccddeeff10", ".vorn_yelto"});
  const char* options[] = {"-H", "-u", "-p", "-d", "-P"};  // file order
  const char* given[] = {"db 1", "adm\tin", "p\xC3\xA4ss w\r", "auth", "2147483647"};
  for (int combination = 0; combination < 243; combination++) {
    std::vector<std::string> args;
    std::string answers = "y";  // the update; then PORTNO first, HOSTNAME last
    int password = 0;
    for (int i = 4, code = combination; i >= 0; i--, code /= 3) {
      int state = code % 3;  // 0 given, 1 defaulted, 2 declined
      if (state == 0) args.insert(args.end(), {options[i], given[i]});
      if (state != 0) answers += state == 1 ? "y" : "n";
      if (i == 2) password = state;
    }
    SCOPED_TRACE(answers + " with " + std::to_string(args.size() / 2) + " given");
    input_ = answers;
    std::vector<std::string> plain_args = args, enc_args = args;
    plain_args.insert(plain_args.end(), {"-s", "plain"});
    enc_args.insert(enc_args.end(), {"-e", "yes", "-s", "encrypted"});
    ASSERT_EQ(run("vorn_sql_testkey", plain_args).exit_code, 0);
    ASSERT_EQ(run("vorn_sql_testkey", enc_args).exit_code, 0);
    input_.clear();
    std::string plain;
    ASSERT_TRUE(testsupport::readFile(path("plain"), &plain));
    std::string masked = plain;
    if (password != 2) masked = replaced(plain, password == 0 ? given[2] : "mekvisa", "*****");
    for (const char* file : {"plain", "encrypted"}) {
      RunResult revealed = show({"--reveal", file});
      EXPECT_EQ(revealed.exit_code, 0) << revealed.err;
      EXPECT_EQ(revealed.out, plain);
    }
    // Masking works on the text as read, so the encrypted file stands for both.
    RunResult shown = show({"encrypted"});
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_EQ(shown.out, masked);
    EXPECT_EQ(shown.err.find(": note: no PASSWORD line") != std::string::npos, password == 2);
    unlink(path("plain").c_str());
    unlink(path("encrypted").c_str());
  }
}

// A printed random key given to another key file opens the same configurations;
// another key, or a damaged encrypted file, opens nothing.
TEST_F(VornShow, KeyFilesOpenWhatTheirKeyEncrypted) {
  std::string hex = keyFile({"--print-key", "first/.vorn_yelto"});
  ASSERT_EQ(hex.size(), 33u);
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), 32u);
  struct stat st;
  ASSERT_EQ(stat(path("first").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(rename(path("first/.vorn_yelto").c_str(), path(".vorn_yelto").c_str()), 0);
  keyFile({"--key=" + hex.substr(0, 32), "copies/here/key"});
  keyFile({"other"});
  input_ = "yyyyyy";
  ASSERT_EQ(run("vorn_sql_testkey", {"-e", "yes", "-s", "enc"}).exit_code, 0);
  ASSERT_EQ(run("vorn_sql_testkey", {"-s", "plain"}).exit_code, 0);
  std::string plain, coded;
  ASSERT_TRUE(testsupport::readFile(path("plain"), &plain));
  ASSERT_TRUE(testsupport::readFile(path("enc"), &coded));
  std::string damaged = coded;
  damaged[40] = damaged[40] == 'A' ? 'B' : 'A';
  ASSERT_TRUE(testsupport::writeFile(path("damaged"), damaged));
  ASSERT_TRUE(testsupport::writeFile(path("cut"), coded.substr(0, coded.size() - 4)));

  RunResult copy = run("vorn_show", {"-r", "--key-file=copies/here/key", "enc"});
  EXPECT_EQ(copy.exit_code, 0) << copy.err;
  EXPECT_EQ(copy.out, plain);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } failures[] = {
      {{"-k", "other", "enc"}, "\"enc\" is neither a plain configuration nor encrypted under the key from \"other\"\n"},
      {{"damaged"}, "\"damaged\" is neither a plain configuration nor encrypted under the key from \".vorn_yelto\"\n"},
      {{"cut"}, "\"cut\" is neither a plain configuration nor encrypted under the key from \".vorn_yelto\"\n"},
      {{"-k", "missing", "enc"}, "Cannot load the encryption key from \"missing\" to read \"enc\"\n"},
  };
  for (const auto& f : failures) {
    RunResult r = show(f.args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, f.message);
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
