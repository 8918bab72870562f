// vorn_keyfile end to end: the file it writes (mode, size, and the key it
// loads back as), and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "cipher_test_support.h"
#include "test_support.h"
#include "vorncrypt_internal.h"

namespace {

using testsupport::kTestKeyHex;

class VornKeyfile : public testsupport::InTempDir {
 protected:
  // Loads path and compares the key area with the test key.
  void expectLoad(const std::string& path, int want) {
    EXPECT_EQ(getSeedKeyFromFile(path.c_str()), want);
    if (want == 1) {
      EXPECT_EQ(ciphertest::Bytes(seed_key, seed_key + 16), ciphertest::fromHex(kTestKeyHex));
    }
    std::memset(seed_key, 0, sizeof seed_key);
  }
};

TEST_F(VornKeyfile, ToolWritesAReadOnlyFileForItsKey) {
  // A restrictive creation mask must not change the file's mode.
  std::vector<std::string> umask077 = {"sh", "-c", "umask 077 && exec \"$@\"", "sh"};
  ASSERT_EQ(testsupport::makeKeyFile(path("one"), kTestKeyHex, umask077).exit_code, 0);
  ASSERT_EQ(testsupport::runVornKeyfile({.args = {"-k", "112233445566778899AABBCCDDEEFF10", path("two")}}).exit_code,
            0);
  ASSERT_EQ(
      testsupport::runVornKeyfile({.args = {"--key-stdin", path("three")}, .input = std::string(kTestKeyHex) + "\n"})
          .exit_code,
      0);
  struct stat st;
  ASSERT_EQ(stat("one", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(st.st_size, 88);
  expectLoad("one", 1);
  expectLoad("two", 1);
  expectLoad("three", 1);
  // The filler is random: the same key gives different files.
  std::string one, two;
  ASSERT_TRUE(testsupport::readFile("one", &one));
  ASSERT_TRUE(testsupport::readFile("two", &two));
  EXPECT_NE(one, two);
}

TEST_F(VornKeyfile, ToolRefusesBadKeysAndExistingFiles) {
  ASSERT_TRUE(testsupport::writeFile("existing", "old", 0644));
  ASSERT_EQ(symlink(".", "outlink"), 0);
  const struct {
    std::vector<std::string> args;  // "out" and "existing" become paths of the test folder
    int status;
    std::string message;
    std::string input = "";
  } cases[] = {
      {{"--key-stdin", "out"}, 2, "32 hexadecimal digits", std::string(kTestKeyHex) + "\n\n"},
      {{"--key-stdin", "out"}, 2, "32 hexadecimal digits", " " + std::string(kTestKeyHex)},
      {{"--key-stdin", "out"}, 2, "32 hexadecimal digits"},
      {{"--key-stdin", "out"}, 2, "32 hexadecimal digits", std::string(kTestKeyHex) + std::string("\0garbage", 8)},
      {{"--key-stdin", "--key", kTestKeyHex, "out"}, 2, "--key given twice", kTestKeyHex},
      {{"--key=0123456789abcdef00dcba9876543210", "out"}, 2, "zero byte"},
      {{"--key=0123456789abcdeffedcba987654321", "out"}, 2, "32 hexadecimal digits"},
      {{"--key=0123456789abcdeffedcba98765432100", "out"}, 2, "32 hexadecimal digits"},
      {{"--key=0123456789abcdefgedcba9876543210", "out"}, 2, "32 hexadecimal digits"},
      {{"-k", "0x23456789abcdeffedcba9876543210", "out"}, 2, "32 hexadecimal digits"},
      {{"0123456789abcdef00dcba9876543210", "out"}, 2, "zero byte"},  // the earlier form
      {{std::string("--key=") + kTestKeyHex, "existing"}, 1, "existing\" exists; a key file is never replaced"},
      {{"--key"}, 2, "Usage: vorn_keyfile"},
      {{"outlink/key"}, 1, "refusing the folder \"" + path("outlink") + "\": a symbolic link"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a.rfind("out", 0) == 0 || a.rfind("existing", 0) == 0) a = path(a);
    }
    testsupport::RunResult r = testsupport::runVornKeyfile({.args = args, .input = c.input});
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(testsupport::fileExists("out"));
  }
  std::string content;
  ASSERT_TRUE(testsupport::readFile("existing", &content));
  EXPECT_EQ(content, "old");
}

// --check decides with the key loading itself: the key the file yields, or none.
TEST_F(VornKeyfile, CheckTellsWhetherTheFileHoldsTheKey) {
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  ASSERT_TRUE(testsupport::writeFile(path("open"), "x", 0644));
  const std::string key = kTestKeyHex, other = "0102030405060708090a0b0c0d0e0f10";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;  // its start
  } cases[] = {
      {{"--check", "--key-stdin", ".vorn_yelto"}, key + "\n", 0, ""},
      {{"--check", "--key=" + key, ".vorn_yelto"}, "", 0, ""},
      {{"--check", "--key-stdin", ".vorn_yelto"}, other, 1, "vorn_keyfile: \".vorn_yelto\" holds another key\n"},
      {{"--check", "--key-stdin", "missing"}, key, 3, "vorn_keyfile: no key can be loaded from \"missing\"\n"},
      {{"--check", "--key-stdin", "open"}, key, 3, "vorn_keyfile: no key can be loaded from \"open\"\n"},
      {{"--check", ".vorn_yelto"}, "", 2, "vorn_keyfile: --check takes the key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back() + " " + c.input);
    testsupport::RunResult r = testsupport::runVornKeyfile({.args = c.args, .input = c.input, .cwd = dir_});
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(testsupport::fileExists(path("missing")));
}

// A key nobody received is of no use: with standard output a closed pipe, the
// file is removed again and the status says so.
TEST_F(VornKeyfile, KeyThatCannotBePrintedLeavesNoFile) {
  testsupport::RunResult r =
      testsupport::runVornKeyfile({.args = {"--print-key", path("new/key")}, .stdout_closed = true});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "vorn_keyfile: cannot print the key (Broken pipe); \"" + path("new/key") + "\" removed\n");
  EXPECT_FALSE(testsupport::fileExists("new"));
}

}  // namespace
