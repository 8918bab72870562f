#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "cipher_test_support.h"
#include "run_program.h"
#include "vorncrypt.h"

namespace {

const char kFixedKeyPath[] = "/usr/quordex/tirun/.vorn_yelto";
const char kOldContent[] = "old configuration\n";

// vorn_sql -e yes end to end, through its test build, which reads the key file
// ".vorn_yelto" in its working directory: the test's directory.
class VornSqlEncrypted : public ciphertest::InTempDir {
 protected:
  testsupport::RunResult run(const char* program, const std::string& flag, const std::string& target,
                             const std::string& answers) {
    testsupport::RunOptions options;
    options.args = {"-e", flag, "-s", path(target)};
    options.env = {"HOME=" + dir_, "PATH=/usr/bin:/bin"};
    options.input = answers;
    options.cwd = dir_;
    options.timeout_seconds = 30;
    return testsupport::runProgram(program, options);
  }
  testsupport::RunResult runTestBuild(const std::string& flag, const std::string& target, const std::string& answers) {
    return run(VORN_SQL_TESTKEY_PATH, flag, target, answers);
  }
  void makeKeyFile() {
    testsupport::RunOptions options;
    options.args = {"--key=112233445566778899aabbccddeeff10", path(".vorn_yelto")};
    ASSERT_EQ(testsupport::runProgram(VORN_KEYFILE_PATH, options).exit_code, 0);
  }
  std::string content(const std::string& name) {
    std::string text;
    EXPECT_TRUE(testsupport::readFile(path(name), &text)) << name;
    return text;
  }
};

TEST_F(VornSqlEncrypted, WritesTheBase64CipherOfThePlainText) {
  const struct {
    const char* name;
    const char* answers;  // update, then port, database, password, user, host
    size_t plain_chars;
    size_t encrypted_chars;
  } cases[] = {
      {"minimal text", "ynnnnn", 210, 288},
      {"every default", "yyyyyy", 300, 408},
  };
  makeKeyFile();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::RunResult enc = runTestBuild("yes", "encrypted", c.answers);
    ASSERT_EQ(enc.exit_code, 0) << enc.err;
    testsupport::RunResult plain = runTestBuild("no", "plain", c.answers);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;

    std::string coded = content("encrypted");
    EXPECT_EQ(coded.size(), c.encrypted_chars);
    EXPECT_EQ(coded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    std::string text = content("plain");
    EXPECT_EQ(text.size(), c.plain_chars);
    char* back = vorn_decrypts(coded.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back, text);
    if (back != vorn_empty_text) std::free(back);
    unlink(path("encrypted").c_str());
    unlink(path("plain").c_str());
  }
}

TEST_F(VornSqlEncrypted, UnusableKeyLeavesTheOldFile) {
  const std::string key = ".vorn_yelto";
  const struct {
    const char* name;
    void (*prepare)(const std::string& key);
  } cases[] = {
      {"no key file", [](const std::string& k) { ASSERT_EQ(unlink(k.c_str()), 0); }},
      {"key file writable by others", [](const std::string& k) { ASSERT_EQ(chmod(k.c_str(), 0666), 0); }},
      {"FIFO at the key path", [](const std::string& k) {
         ASSERT_EQ(unlink(k.c_str()), 0);
         ASSERT_EQ(mkfifo(k.c_str(), 0444), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unlink(key.c_str());
    makeKeyFile();
    c.prepare(key);
    ASSERT_TRUE(testsupport::writeFile(path("secret"), kOldContent, 0444));
    testsupport::RunResult r = runTestBuild("yes", "secret", "yyyyyy");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Cannot load the encryption key from \".vorn_yelto\"\n");
    EXPECT_EQ(content("secret"), kOldContent);
    EXPECT_FALSE(testsupport::fileExists(path("secret~")));
  }
}

// The deliverable differs from the test build in its key path only: without a
// key file at the fixed path, it names that path and writes nothing.
TEST_F(VornSqlEncrypted, DeliverableReadsTheFixedKeyPath) {
  struct stat st;
  if (lstat(kFixedKeyPath, &st) == 0) GTEST_SKIP() << "a key file is installed at " << kFixedKeyPath;
  makeKeyFile();  // in the working directory, where the deliverable must not look
  ASSERT_TRUE(testsupport::writeFile(path("secret"), kOldContent, 0444));
  testsupport::RunResult r = run(VORN_SQL_PATH_DELIVERABLE, "yes", "secret", "ynnnnn");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("Cannot load the encryption key from \"") + kFixedKeyPath + "\"\n");
  EXPECT_EQ(content("secret"), kOldContent);
}

}  // namespace
