#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

namespace {

using testsupport::kOldConfig;

// vorn_sql -e yes end to end, through its test build, which reads the key file
// ".vorn_yelto" in its working directory: the test's directory.
class VornSqlEncrypted : public testsupport::InTempDir {
 protected:
  testsupport::RunResult run(const std::string& flag, const std::string& target, const std::string& answers,
                             std::string_view build = "vorn_sql_testkey") {
    return testsupport::runVornSql(dir_, {.args = {"-e", flag, "-s", path(target)}, .input = answers}, build);
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
    testsupport::RunResult enc = run("yes", "encrypted", c.answers);
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
  testsupport::RunResult r = run("yes", "secret", "ynnnnn", "vorn_sql");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string("Cannot load the encryption key from \"") + testsupport::kFixedKeyFile + "\"\n");
  EXPECT_EQ(content("secret"), kOldConfig);
  EXPECT_FALSE(testsupport::fileExists(path("secret~")));
}

}  // namespace
