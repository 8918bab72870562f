// Helpers shared by the cipher tests: hex and vector files, a seeded generator,
// and a fixture that runs each test inside a fresh directory, where the test
// build's key path ".vorn_yelto" resolves.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace ciphertest {

using Bytes = std::vector<uint8_t>;

inline Bytes fromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The lines of a vector file, comments and blank lines dropped, each split at ':'
// into trimmed fields.
inline std::vector<std::vector<std::string>> readVectors(const std::string& name) {
  std::string text;
  EXPECT_TRUE(testsupport::readFile(std::string(VORN_CIPHER_VECTORS) + "/" + name, &text)) << name;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, ':')) {
      size_t b = field.find_first_not_of(' ');
      size_t e = field.find_last_not_of(' ');
      fields.push_back(b == std::string::npos ? "" : field.substr(b, e - b + 1));
    }
    rows.push_back(fields);
  }
  return rows;
}

// A generator seeded from VORN_TEST_SEED when set, else at random; the seed is
// printed so that a failure can be replayed.
inline std::mt19937 seededGenerator() {
  const char* env = std::getenv("VORN_TEST_SEED");
  uint32_t seed = env != nullptr ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
  std::printf("random seed (VORN_TEST_SEED): %u\n", seed);
  return std::mt19937(seed);
}

inline Bytes randomBytes(std::mt19937& gen, size_t n) {
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Runs every test in a new empty directory, which is the working directory
// meanwhile.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    saved_cwd_ = cwd;
    std::free(cwd);
    dir_ = testsupport::makeTempDir("cipher");
    ASSERT_FALSE(dir_.empty());
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(saved_cwd_.c_str()), 0);
    testsupport::removeTree(dir_);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::string saved_cwd_;
};

}  // namespace ciphertest
