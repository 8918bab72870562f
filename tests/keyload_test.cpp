#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base64.h"
#include "cipher_test_support.h"
#include "run_program.h"
#include "vorncrypt.h"
#include "vorncrypt_internal.h"

namespace {

using ciphertest::Bytes;

const char kKeyHex[] = "0123456789abcdeffedcba9876543210";
const Bytes kKey = ciphertest::fromHex(kKeyHex);

// The 88 characters of a key file whose unscrambled, decoded material is the 66
// bytes given: the inverse of the loader's two reorderings.
std::string keyText(const Bytes& material) {
  char* coded = base64_encode(material.data(), material.size());
  std::string text(coded);
  std::free(coded);
  std::string scrambled(kScrambledKeyChars, '?');
  for (size_t i = 0; i < kScrambledKeyChars; i++) scrambled[YeltoEncodeChars[i]] = text[i];
  return scrambled;
}

// Material whose loaded key is kKey, the rest a non-zero filler.
Bytes materialFor(const Bytes& key) {
  Bytes material(kKeyMaterialBytes, 0xA5);
  for (size_t i = 0; i < key.size(); i++) material[YeltoEncodeChars[i]] = key[i];
  return material;
}

bool keyAreaIsZero() {
  for (char c : seed_key)
    if (c != 0) return false;
  return true;
}

testsupport::RunResult keyfileTool(const std::vector<std::string>& args, std::vector<std::string> prefix = {}) {
  testsupport::RunOptions options;
  options.args = args;
  options.prefix = std::move(prefix);
  return testsupport::runProgram(VORN_KEYFILE_PATH, options);
}

class KeyLoad : public ciphertest::InTempDir {
 protected:
  // Loads path, checks the key area against the expected result and clears it.
  void expectLoad(const std::string& path, int want, const Bytes& key = kKey) {
    int got = getSeedKeyFromFile(path.c_str());
    EXPECT_EQ(got, want);
    if (got == 1) {
      EXPECT_EQ(Bytes(seed_key, seed_key + key.size()), key);
    } else {
      EXPECT_TRUE(keyAreaIsZero());
    }
    explicit_bzero(seed_key, sizeof seed_key);
  }
  const std::string key_file_ = ".vorn_yelto";
};

TEST_F(KeyLoad, AcceptsOnlyReadOnlyRegularFiles) {
  const struct {
    mode_t mode;
    int want;
  } cases[] = {{0444, 1}, {0644, 1}, {04444, 1}, {04644, 1}, {0440, -1}, {0400, -1},
               {0666, -1}, {0744, -1}, {02444, -1}, {01444, -1}, {0445, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode);
    ASSERT_TRUE(testsupport::writeFile(key_file_, keyText(materialFor(kKey)), c.mode));
    expectLoad(key_file_, c.want);
    unlink(key_file_.c_str());
  }
}

TEST_F(KeyLoad, FollowsSymbolicLinksAndRefusesOtherFileTypes) {
  ASSERT_TRUE(testsupport::writeFile("good", keyText(materialFor(kKey)), 0444));
  ASSERT_EQ(mkdir("dir", 0555), 0);
  ASSERT_EQ(mkfifo("fifo", 0444), 0);
  const struct {
    const char* name;
    const char* target;  // what the key path links to; null: nothing there
    int want;
  } cases[] = {
      {"link to a good file", "good", 1},  {"directory", "dir", -1},       {"FIFO without a writer", "fifo", -1},
      {"character device", "/dev/zero", -1}, {"dangling link", "missing", -1}, {"nothing", nullptr, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.target != nullptr) {
      ASSERT_EQ(symlink(c.target, key_file_.c_str()), 0);
    }
    alarm(20);  // a blocking open of the FIFO would never return
    expectLoad(key_file_, c.want);
    alarm(0);
    unlink(key_file_.c_str());
  }
}

TEST_F(KeyLoad, NeedsEightyEightCharactersBeforeAnyZeroByte) {
  const std::string text = keyText(materialFor(kKey));
  std::string hundred = text + std::string(12, 'x');
  hundred[49] = '\0';
  std::string zero_last = text;
  zero_last[87] = '\0';
  const struct {
    const char* name;
    std::string content;
    int want;
  } cases[] = {
      {"exactly 88", text, 1},
      {"87", text.substr(0, 87), -1},
      {"more after the 88th ignored", text + "\nanything", 1},
      {"zero byte right after the 88th", text + std::string(1, '\0') + "xyz", 1},
      {"100 bytes, the 50th zero", hundred, -1},
      {"88th character zero", zero_last, -1},
      {"empty", "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testsupport::writeFile(key_file_, c.content, 0444));
    expectLoad(key_file_, c.want);
    unlink(key_file_.c_str());
  }
}

// The decoded material is taken as a text: when a zero byte cuts it short, every
// index the second pass uses must still lie inside it.
TEST_F(KeyLoad, MaterialCutShortIsRefusedUnlessItIsEmpty) {
  Bytes empty = materialFor(kKey);
  empty[0] = 0;
  Bytes short_by_one = materialFor(kKey);
  short_by_one[kKeyMaterialBytes - 1] = 0;
  ASSERT_TRUE(testsupport::writeFile("empty", keyText(empty), 0444));
  ASSERT_TRUE(testsupport::writeFile("short", keyText(short_by_one), 0444));

  expectLoad("empty", 1, Bytes(16, 0));
  expectLoad("short", -1);

  // A key whose first byte is zero encrypts as sixteen zero bytes do.
  ASSERT_EQ(symlink("empty", key_file_.c_str()), 0);
  char* coded = vorn_encrypts("text");
  ASSERT_NE(coded, nullptr);
  size_t len = 0;
  Bytes zero(16, 0);
  void* cipher = vorn_encrypt("text", 4, zero.data(), &len);
  char* want = base64_encode(static_cast<unsigned char*>(cipher), len);
  EXPECT_STREQ(coded, want);
  std::free(coded);
  std::free(cipher);
  std::free(want);
}

TEST_F(KeyLoad, ToolWritesAReadOnlyFileForItsKey) {
  // A restrictive creation mask must not change the file's mode.
  std::vector<std::string> umask077 = {"sh", "-c", "umask 077 && exec \"$@\"", "sh"};
  ASSERT_EQ(keyfileTool({std::string("--key=") + kKeyHex, path("one")}, umask077).exit_code, 0);
  ASSERT_EQ(keyfileTool({"-k", "0123456789ABCDEFFEDCBA9876543210", path("two")}).exit_code, 0);
  struct stat st;
  ASSERT_EQ(stat("one", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(st.st_size, 88);
  expectLoad("one", 1);
  expectLoad("two", 1);
  // The filler is random: the same key gives different files.
  std::string one, two;
  ASSERT_TRUE(testsupport::readFile("one", &one));
  ASSERT_TRUE(testsupport::readFile("two", &two));
  EXPECT_NE(one, two);
}

TEST_F(KeyLoad, ToolRefusesBadKeysAndExistingFiles) {
  ASSERT_TRUE(testsupport::writeFile("existing", "old", 0644));
  const struct {
    std::vector<std::string> args;  // "out" and "existing" become paths of the test folder
    int status;
    const char* message;
  } cases[] = {
      {{"--key=0123456789abcdef00dcba9876543210", "out"}, 2, "zero byte"},
      {{"--key=0123456789abcdeffedcba987654321", "out"}, 2, "32 hexadecimal digits"},
      {{"--key=0123456789abcdeffedcba98765432100", "out"}, 2, "32 hexadecimal digits"},
      {{"--key=0123456789abcdefgedcba9876543210", "out"}, 2, "32 hexadecimal digits"},
      {{"-k", "0x23456789abcdeffedcba9876543210", "out"}, 2, "32 hexadecimal digits"},
      {{"0123456789abcdef00dcba9876543210", "out"}, 2, "zero byte"},  // the earlier form
      {{std::string("--key=") + kKeyHex, "existing"}, 1, "existing\" exists; a key file is never replaced"},
      {{"--print-key", "existing"}, 1, "exists"},
      {{"--print-key", "existing/out"}, 1, "Not a directory"},
      {{"--key"}, 2, "Usage: vorn_keyfile"},
      {{"--print-key", "out", "out"}, 2, "one PATH at most"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a.rfind("out", 0) == 0 || a.rfind("existing", 0) == 0) a = path(a);
    }
    testsupport::RunResult r = keyfileTool(args);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(testsupport::fileExists("out"));
  }
  std::string content;
  ASSERT_TRUE(testsupport::readFile("existing", &content));
  EXPECT_EQ(content, "old");
}

TEST_F(KeyLoad, TextsRoundTripUnderTheFileKey) {
  ASSERT_TRUE(testsupport::writeFile(key_file_, keyText(materialFor(kKey)), 0444));
  std::string config;
  while (config.size() < 300) config += "\" OPTION_" + std::to_string(config.size()) + " value\n";
  for (const std::string& text : {std::string("a"), std::string("four"), std::string("five!"), config}) {
    SCOPED_TRACE(text.size());
    char* coded = vorn_encrypts(text.c_str());
    ASSERT_NE(coded, nullptr);
    EXPECT_TRUE(keyAreaIsZero());
    size_t cipher_bytes = 4 * ((text.size() + 3) / 4 + 1);
    EXPECT_EQ(std::strlen(coded), 4 * ((cipher_bytes + 2) / 3));

    // Encrypted under exactly the key the file holds.
    size_t len = 0;
    void* cipher = vorn_encrypt(text.data(), text.size(), kKey.data(), &len);
    char* want = base64_encode(static_cast<unsigned char*>(cipher), len);
    EXPECT_STREQ(coded, want);
    std::free(cipher);
    std::free(want);

    char* back = vorn_decrypts(coded);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(keyAreaIsZero());
    EXPECT_EQ(back, text);
    std::free(back);
    std::free(coded);
  }
}

// Whatever the outcome, the key area holds no key material afterwards.
TEST_F(KeyLoad, TextOperationsLeaveTheKeyAreaZero) {
  auto zeroAfter = [](char* got) {
    EXPECT_TRUE(keyAreaIsZero());
    return got;
  };
  EXPECT_EQ(zeroAfter(vorn_encrypts("text")), vorn_empty_text);  // no key file yet
  EXPECT_EQ(zeroAfter(vorn_decrypts("AAAAAAAAAAAA")), vorn_empty_text);
  ASSERT_TRUE(testsupport::writeFile(key_file_, keyText(materialFor(kKey)), 0444));
  EXPECT_EQ(zeroAfter(vorn_encrypts(nullptr)), nullptr);
  EXPECT_EQ(zeroAfter(vorn_encrypts("")), nullptr);
  EXPECT_EQ(zeroAfter(vorn_decrypts(nullptr)), nullptr);
  EXPECT_EQ(zeroAfter(vorn_decrypts("abc")), nullptr);   // not base64 by its length
  EXPECT_EQ(zeroAfter(vorn_decrypts("AAAA")), nullptr);  // a single word
}

}  // namespace
