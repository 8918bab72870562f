// What every test area shares: the programs of this build tree and one runner
// for each, a fixture that runs each test in a fresh folder, a folder's
// snapshot, making a key file, the test key and the other shared constants, and
// a random generator whose seed can be replayed, with the sampling built on it.
// A test area includes this header and its own module's.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "run_program.h"

namespace testsupport {

// The key of the test key files, as vorn_keyfile takes it: 32 hexadecimal
// digits without a zero byte.
inline constexpr char kTestKeyHex[] = "112233445566778899aabbccddeeff10";
// The key file that the test builds read: ".vorn_yelto" in the working folder.
inline constexpr char kTestKeyFile[] = ".vorn_yelto";
// The key file that the installed vorn_sql reads.
inline constexpr char kFixedKeyFile[] = "/usr/quordex/tirun/.vorn_yelto";
// A configuration file that a failed run must leave as it was.
inline constexpr char kOldConfig[] = "\" AUTH_KEY\n\" OLD previous file\n";

// The file vorn_sql writes with the given connection lines (top to bottom),
// written out here rather than built by the code under test.
std::string configText(const std::vector<std::string>& connection_lines);

// The path of the program name of this build, or of its test twin
// "NAME_testkey", which reads kTestKeyFile in its working folder. Every program
// of the tree's list of programs is there; an unknown name fails the test.
const char* programPath(std::string_view name);

// A committed test file: tests/fixtures/NAME.
std::string fixturePath(const std::string& name);

// HOME=dir and a plain PATH.
std::vector<std::string> baseEnv(const std::string& dir);

// vorn_sql (or its test build) with dir as working folder, and baseEnv(dir)
// unless options.env is given.
RunResult runVornSql(const std::string& dir, RunOptions options, std::string_view build = "vorn_sql");
// quordex_helper with a PATH that holds the administrator's folders.
RunResult runQuordexHelper(RunOptions options);
RunResult runVornKeyfile(RunOptions options);

// Writes a key file for the test key at path with vorn_keyfile, run after the
// commands of prefix; the tool's result tells how it went.
RunResult makeKeyFile(const std::string& path, const std::vector<std::string>& prefix = {});

// The names in folder, sorted.
std::vector<std::string> entryNames(const std::string& folder);
// What folder holds: for each name, its type and mode in octal, then a file's
// bytes or a link's target. Equal snapshots: nothing was added, removed or changed.
std::map<std::string, std::string> folderSnapshot(const std::string& folder);

// Copies the committed key file, whose key is kTestKeyHex, to dir/kTestKeyFile
// with mode 0444.
bool installTestKey(const std::string& dir);

// A generator seeded from VORN_TEST_SEED when it is set, else at random. The
// seed is printed and recorded with the test, so that a failure can be replayed.
std::mt19937 seededGenerator();

// The combinations a test runs out of 0 .. count - 1: each of always, then
// sampled others drawn with seededGenerator, none twice; a test that covers a
// large space runs its uniform cases every time and a fresh part of the rest.
std::vector<int> sampledCombinations(int count, const std::vector<int>& always, int sampled);

// Runs each test in a new empty folder under the build tree, which is the
// working folder meanwhile, and removes the folder afterwards.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::string saved_cwd_;
};

}  // namespace testsupport
