// vorn_keyfile end to end: the file it writes (mode, size, and the key it
// loads back as), and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
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
  void expectLoad(const std::string& path) {
    EXPECT_EQ(getSeedKeyFromFile(path.c_str()), 1);
    EXPECT_EQ(ciphertest::Bytes(seed_key, seed_key + 16), ciphertest::fromHex(kTestKeyHex));
    std::memset(seed_key, 0, sizeof seed_key);
  }
};

TEST_F(VornKeyfile, ToolWritesAReadOnlyFileForItsKey) {
  // A restrictive creation mask must not change the file's mode.
  std::vector<std::string> umask077 = {"sh", "-c", "umask 077 && exec \"$@\"", "sh"};
  ASSERT_EQ(testsupport::makeKeyFile(path("one"), umask077).exit_code, 0);
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
  expectLoad("one");
  expectLoad("two");
  expectLoad("three");
  // The filler is random: the same key gives different files.
  std::string one, two;
  ASSERT_TRUE(testsupport::readFile("one", &one));
  ASSERT_TRUE(testsupport::readFile("two", &two));
  EXPECT_NE(one, two);
}

// What the tool refuses, and what --check tells, by status and the start of
// standard error (all of it on success); either way nothing is printed and the
// folder stays as it was: no key file made, none replaced or left behind.
TEST_F(VornKeyfile, RefusesOrChecksWithoutWriting) {
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  ASSERT_TRUE(testsupport::writeFile(path("existing"), "old", 0644));
  ASSERT_TRUE(testsupport::writeFile(path("open"), "x", 0644));
  ASSERT_EQ(symlink(".", path("outlink").c_str()), 0);
  const std::string key = kTestKeyHex, other = "0102030405060708090a0b0c0d0e0f10", out = path("out");
  const std::string digits = "vorn_keyfile: the key must be exactly 32 hexadecimal digits\n",
                    zero = "vorn_keyfile: the key must not contain a zero byte (00): it would end the key there\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
    bool stdout_closed = false;
  } cases[] = {
      {{"--key-stdin", out}, key + "\n\n", 2, digits},
      {{"--key-stdin", out}, " " + key, 2, digits},
      {{"--key-stdin", out}, "", 2, digits},
      {{"--key-stdin", out}, key + std::string("\0garbage", 8), 2, digits},
      {{"--key-stdin", "--key", key, out}, key, 2, "vorn_keyfile: --key given twice\nUsage: vorn_keyfile"},
      {{"--key=0123456789abcdef00dcba9876543210", out}, "", 2, zero},
      {{"--key=0123456789abcdeffedcba987654321", out}, "", 2, digits},
      {{"--key=0123456789abcdeffedcba98765432100", out}, "", 2, digits},
      {{"--key=0123456789abcdefgedcba9876543210", out}, "", 2, digits},
      {{"-k", "0x23456789abcdeffedcba9876543210", out}, "", 2, digits},
      {{"0123456789abcdef00dcba9876543210", out}, "", 2, zero},  // the earlier form
      {{"--key=" + key, path("existing")},
       "",
       1,
       "vorn_keyfile: \"" + path("existing") + "\" exists; a key file is never replaced\n"},
      {{"--key"}, "", 2, "option requires an argument -- key\nUsage: vorn_keyfile"},
      {{path("outlink/key")},
       "",
       1,
       "vorn_keyfile: refusing the folder \"" + path("outlink") + "\": a symbolic link\n"},
      // A key nobody received is of no use: the new file is removed again.
      {{"--print-key", path("new/key")},
       "",
       1,
       "vorn_keyfile: cannot print the key (Broken pipe); \"" + path("new/key") + "\" removed\n",
       true},
      // --check decides with the key loading itself: the key the file yields, or none.
      {{"--check", "--key-stdin", ".vorn_yelto"}, key + "\n", 0, ""},
      {{"--check", "--key=" + key, ".vorn_yelto"}, "", 0, ""},
      {{"--check", "--key-stdin", ".vorn_yelto"}, other, 1, "vorn_keyfile: \".vorn_yelto\" holds another key\n"},
      {{"--check", "--key-stdin", "missing"}, key, 3, "vorn_keyfile: no key can be loaded from \"missing\"\n"},
      {{"--check", "--key-stdin", "open"}, key, 3, "vorn_keyfile: no key can be loaded from \"open\"\n"},
      {{"--check", ".vorn_yelto"}, "", 2, "vorn_keyfile: --check takes the key"},
  };
  const std::map<std::string, std::string> before = testsupport::folderSnapshot(dir_);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " input " + testing::PrintToString(c.input));
    testsupport::RunResult r =
        testsupport::runVornKeyfile({.args = c.args, .input = c.input, .stdout_closed = c.stdout_closed, .cwd = dir_});
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(c.status == 0 ? r.err : r.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(testsupport::folderSnapshot(dir_), before);
  }
}

}  // namespace
