#include "test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace testsupport {

std::string configText(const std::vector<std::string>& connection_lines) {
  std::string text = "\" AUTH_KEY\n";
  for (const std::string& line : connection_lines) text += line;
  // The fixed settings that follow the connection lines: 199 characters, 210
  // with the first line.
  return text +
         "\" RATE_LIMIT 3 30\n"
         "\" KEY_METHOD app512\n"
         "\" CYCLE_TIME 30\n"
         "\" SECURE_KEY Vq7Zr2KxP9mWb4TnL8cYs1GdHf3Je6Ua\n"
         "\" ACL_TYPE deny\n"
         "\" MIDDLE_TYPE DISALLOW_REUSE\n"
         "\" MIDDLE_TIME 58014762\n"
         "\" ENV_TYPE share\n"
         "\" DETECT_YN n\n";
}

namespace {

struct ProgramPath {
  const char* name;
  const char* path;
};

const ProgramPath kProgramPaths[] = {
#include "program_paths.inc"
};

}  // namespace

const char* programPath(std::string_view name) {
  for (const ProgramPath& p : kProgramPaths) {
    if (name == p.name) return p.path;
  }
  ADD_FAILURE() << "no program " << name << " in this build";
  return "/nonexistent";
}

std::string fixturePath(const std::string& name) { return std::string(VORN_FIXTURES) + "/" + name; }

std::vector<std::string> baseEnv(const std::string& dir) { return {"HOME=" + dir, "PATH=/usr/bin:/bin"}; }

RunResult runVornSql(const std::string& dir, RunOptions options, std::string_view build) {
  if (options.env.empty()) options.env = baseEnv(dir);
  options.cwd = dir;
  return runProgram(programPath(build), options);
}

RunResult runQuordexHelper(RunOptions options) {
  if (options.env.empty()) options.env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin"};
  return runProgram(programPath("quordex_helper"), options);
}

RunResult runVornKeyfile(RunOptions options) { return runProgram(programPath("vorn_keyfile"), options); }

RunResult makeKeyFile(const std::string& path, const std::vector<std::string>& prefix) {
  RunOptions options;
  options.args = {std::string("--key=") + kTestKeyHex, path};
  options.prefix = prefix;
  return runVornKeyfile(options);
}

std::vector<std::string> entryNames(const std::string& folder) {
  std::vector<std::string> all;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") all.push_back(n);
    }
    closedir(d);
  }
  std::sort(all.begin(), all.end());
  return all;
}

std::map<std::string, std::string> folderSnapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const std::string& name : entryNames(folder)) {
    std::string at = folder + "/" + name, what;
    struct stat st;
    if (lstat(at.c_str(), &st) != 0) continue;
    char link[256] = "";
    if (S_ISLNK(st.st_mode) && readlink(at.c_str(), link, sizeof link - 1) < 0) link[0] = '\0';
    if (S_ISREG(st.st_mode)) readFile(at, &what);
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o ", static_cast<unsigned>(st.st_mode));
    entries[name] = mode + what + link;
  }
  return entries;
}

bool installTestKey(const std::string& dir) {
  std::string key;
  return readFile(fixturePath("test.vorn_yelto"), &key) && writeFile(dir + "/" + kTestKeyFile, key, 0444);
}

std::mt19937 seededGenerator() {
  const char* env = std::getenv("VORN_TEST_SEED");
  uint32_t seed = env != nullptr ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
  std::printf("random seed: %u (replay with VORN_TEST_SEED=%u)\n", seed, seed);
  ::testing::Test::RecordProperty("random_seed", std::to_string(seed));
  return std::mt19937(seed);
}

std::vector<int> sampledCombinations(int count, const std::vector<int>& always, int sampled) {
  std::vector<int> rest;
  for (int c = 0; c < count; c++) {
    if (std::find(always.begin(), always.end(), c) == always.end()) rest.push_back(c);
  }
  std::mt19937 random = seededGenerator();
  std::shuffle(rest.begin(), rest.end(), random);
  std::vector<int> chosen = always;
  chosen.insert(chosen.end(), rest.begin(), rest.begin() + std::min(sampled, static_cast<int>(rest.size())));
  return chosen;
}

void InTempDir::SetUp() {
  char* cwd = getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  saved_cwd_ = cwd;
  std::free(cwd);
  dir_ = makeTempDir(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name());
  ASSERT_FALSE(dir_.empty());
  ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void InTempDir::TearDown() {
  EXPECT_EQ(chdir(saved_cwd_.c_str()), 0);
  if (dir_.empty()) return;
  removeTree(dir_);
  EXPECT_FALSE(fileExists(dir_)) << dir_ << " could not be removed";
}

}  // namespace testsupport
