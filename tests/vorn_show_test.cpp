// vorn_show and vorn_keyfile end to end: broken texts and unreadable files with
// their status and reported line, the texts vorn_sql writes read back (plain
// and encrypted), and key files made by vorn_keyfile opening them.
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
    o.env = {"PATH=/usr/bin:/bin", "HOME=" + home};
    o.input = input_;
    o.cwd = dir_;
    o.timeout_seconds = 20;
    o.stdout_on_terminal = terminal_;
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
  bool terminal_ = false;
};

// What only the process shows: the status for each kind of outcome, faults and
// notes on standard error, nothing on standard output with --quiet. The checker's
// reports themselves are tested in-process.
TEST_F(VornShow, StatusAndStreamsForEachOutcome) {
  const std::string ok = defaultText();
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
  ASSERT_TRUE(testsupport::writeFile(path("big"), "\" AUTH_KEY\n" + std::string(4086, 'x')));
  ASSERT_TRUE(testsupport::writeFile(path(".vorn_sql"), ok));
  ASSERT_EQ(symlink(".vorn_sql", path("link").c_str()), 0);
  ASSERT_TRUE(testsupport::writeFile(path("broken"), replaced(ok, "3306", "3305")));
  ASSERT_TRUE(testsupport::writeFile(path("declined"), replaced(ok, "\" DBNAME quordexDB\n", "")));
  ASSERT_TRUE(testsupport::writeFile(path("valued"), replaced(ok, "AUTH_KEY", "AUTH_KEY x")));
  ASSERT_TRUE(testsupport::writeFile(path("empty"), ""));
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  // Names with a terminal title, a bell and a CSI byte in them, as messages show them.
  const std::string odd = "\x1b]0;x\a\x9b", shown = "\\x1b]0;x\\x07\\x9b";
  for (const char* file : {"broken", "declined", "valued"}) ASSERT_EQ(symlink(file, path(odd + file[0]).c_str()), 0);
  const struct {
    std::vector<std::string> args;
    std::string home;
    int status;
    std::string message;  // the whole of standard error, or its start when it ends in "..."
  } cases[] = {
      {{"-q", "link"}, "/x", 0, ""},
      {{"-q"}, "", 0, ""},  // HOME set to the test folder below
      {{"-q", "declined"}, "/x", 0, "declined: note: no DBNAME line; the product cannot connect without it\n"},
      {{"-q", "broken"}, "/x", 1, "broken:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      // A first line with a value is not the plain form, and no encrypted text.
      {{"-q", "valued"},
       "/x",
       2,
       "\"valued\" is neither a plain configuration nor encrypted under the key from \".vorn_yelto\"\n"},
      {{"empty"}, "/x", 2, "\"empty\" is empty\n"},
      {{"-"}, "/x", 2, "\"-\" is empty\n"},  // nothing on standard input
      {{"fifo"}, "/x", 2, "Cannot read \"fifo\": not a regular file\n"},
      {{"folder"}, "/x", 2, "Cannot read \"folder\": not a regular file\n"},
      {{"big"}, "/x", 2, "Cannot read \"big\": larger than 4096 bytes\n"},
      {{"missing"}, "/x", 2, "Cannot open \"missing\": No such file or directory\n"},
      {{"-q"}, "relative", 2, "Cannot determine home directory\n"},
      {{"-k"}, "/x", 2, "option requires an argument -- k\nUsage: vorn_show..."},
      {{"-q", odd + "d"}, "/x", 0, shown + "d: note: no DBNAME line; the product cannot connect without it\n"},
      {{"-q", odd + "b"}, "/x", 1, shown + "b:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      {{"-k", odd + "k", odd + "v"},
       "/x",
       2,
       "Cannot load the encryption key from \"" + shown + "k\" to read \"" + shown + "v\"\n"},
      {{odd + "m"}, "/x", 2, "Cannot open \"" + shown + "m\": No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back() + " " + c.home);
    RunResult r = show(c.args, c.home.empty() ? dir_ : c.home);
    EXPECT_EQ(r.exit_code, c.status);
    std::string message = c.message;
    if (message.size() > 3 && message.compare(message.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(r.err.rfind(message.substr(0, message.size() - 3), 0), 0u) << r.err;
    } else {
      EXPECT_EQ(r.err, message);
    }
    EXPECT_EQ(r.out, "");
  }
}

// Texts vorn_sql writes, plain and encrypted, with each connection value given,
// defaulted or declined: --reveal gives the plain file back, and the masked
// form differs from it in the password value only. A combination holds the
// state of each line as a base-3 digit, HOSTNAME's the highest; the uniform
// ones run every time, a seeded sample of the other 3^5 - 18 beside them.
TEST_F(VornShow, ShowsTheTextsVornSqlWrites) {
  keyFile({"--key=112233445566778899aabbccddeeff10", ".vorn_yelto"});
  const char* options[] = {"-H", "-u", "-p", "-d", "-P"};  // file order
  const char* given[] = {"db 1", "adm\tin", "p\xC3\xA4ss w\r", "auth", "2147483647"};
  std::vector<int> uniform = {0, 121, 242};  // every line given, defaulted, declined
  // Each line alone given or defaulted among declined ones, and alone declined among given ones.
  for (int weight = 81; weight > 0; weight /= 3)
    uniform.insert(uniform.end(), {242 - 2 * weight, 242 - weight, 2 * weight});
  for (int combination : testsupport::sampledCombinations(243, uniform, 30)) {
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

// A file edited by hand may hold a password under a key spaced, cased or spelt
// otherwise, or on a line of its own: masked wherever it is read from.
TEST_F(VornShow, MasksEveryValueThatMayBeAPassword) {
  const std::string text = replaced(defaultText(), "\" HOSTNAME localhost\n", "\t\"\tHOSTNAME\tlocalhost\n");
  const std::string edited =
      replaced(text, "\" PASSWORD mekvisa\n",
               "\"  PASSWORD pw1\n\" PASSWORD\tpw2\n \" password = pw3\n\"PASSWORD:pw4\r\n\" PASSWD pw5\npw6\n"
               "\" PASSWORDpw7\n\" PASSWORD\n");
  ASSERT_TRUE(testsupport::writeFile(path("conf"), edited));
  input_ = edited;
  for (const char* file : {"conf", "-"}) {
    RunResult shown = show({file});
    EXPECT_EQ(shown.exit_code, 1);
    EXPECT_EQ(shown.out, replaced(text, "\" PASSWORD mekvisa\n",
                                  "\"  PASSWORD *****\n\" PASSWORD\t*****\n \" password = *****\n\"PASSWORD:*****\n\" "
                                  "PASSWD *****\n*****\n\" *****\n\" PASSWORD\n"));
  }
}

// On a terminal, control characters (C1 ones too) and bytes outside UTF-8 are
// shown as \xHH, UTF-8 text as it is; through a pipe the text stays exact.
TEST_F(VornShow, ValuesReachATerminalWithoutControlCharacters) {
  const std::string host = std::string("db\x1b]0;x\a\x9b") + "1m\xc2\x9b";  // a title, a bell, CSI twice
  const std::string text = replaced(replaced(defaultText(), "localhost", host), "mekvisa", "pa55 w\xc3\xb6rd\t");
  ASSERT_TRUE(testsupport::writeFile(path("conf"), text));
  terminal_ = true;
  RunResult shown = show({"-r", "conf"});
  EXPECT_EQ(shown.exit_code, 0) << shown.err;
  EXPECT_EQ(shown.out,
            replaced(replaced(text, host, "db\\x1b]0;x\\x07\\x9b1m\\xc2\\x9b"), "w\xc3\xb6rd\t", "w\xc3\xb6rd\\x09"));
  terminal_ = false;
  EXPECT_EQ(show({"-r", "conf"}).out, text);
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
  input_ = coded;  // "-": the encrypted bytes on standard input
  EXPECT_EQ(show({"-r", "-"}).out, plain);
  input_.clear();
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
