#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "test_support.h"
#include "vorncrypt.h"

namespace {

using testsupport::kOldConfig;
using testsupport::Program;

// vorn_sql -e yes end to end, through its test build, which reads the key file
// ".vorn_yelto" in its working directory: the test's directory.
class VornSqlEncrypted : public testsupport::InTempDir {
 protected:
  testsupport::RunResult run(const std::string& flag, const std::string& target, const std::string& answers,
                             Program build = Program::kVornSqlTestKey) {
    return testsupport::runVornSql(dir_, {.args = {"-e", flag, "-s", path(target)}, .input = answers}, build);
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
    size_t encrypted_chars;
  } cases[] = {
      {"minimal text", "ynnnnn", 288},
      {"every default", "yyyyyy", 408},
  };
  ASSERT_EQ(testsupport::makeKeyFile(path(testsupport::kTestKeyFile)).exit_code, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::RunResult enc = run("yes", "encrypted", c.answers);
    ASSERT_EQ(enc.exit_code, 0) << enc.err;
    testsupport::RunResult plain = run("no", "plain", c.answers);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;

    std::string coded = content("encrypted");
    EXPECT_EQ(coded.size(), c.encrypted_chars);
    EXPECT_EQ(coded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    char* back = vorn_decrypts(coded.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back, content("plain"));
    if (back != vorn_empty_text) std::free(back);
    unlink(path("encrypted").c_str());
    unlink(path("plain").c_str());
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
    testsupport::RunResult r = run("yes", "secret", "yyyyyy");
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
  testsupport::RunResult r = run("yes", "secret", "ynnnnn", Program::kVornSql);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("Cannot load the encryption key from \"") + testsupport::kFixedKeyFile + "\"\n");
  EXPECT_EQ(content("secret"), kOldConfig);
  EXPECT_FALSE(testsupport::fileExists(path("secret~")));
}

}  // namespace
