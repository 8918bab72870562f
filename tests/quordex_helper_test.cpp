// quordex_helper: its argument conversion as a unit, and the program end to end on
// files of the build tree's own file system, with lsattr and chattr (e2fsprogs) as
// the independent reference for the attribute bits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "text_to_int.h"

namespace {

using testsupport::RunResult;

struct ConversionCase {
  const char* text;
  int32_t want;
};
const ConversionCase kConversions[] = {
    {"0", 0},
    {"", 0},
    {"yes", 0},
    {"0x10", 0},
    {"- 5", 0},
    {"+-1", 0},
    {"-1", -1},
    {"+7", 7},
    {"007", 7},
    {" \t\n\v\f\r42", 42},
    {"12abc", 12},
    {"1e5", 1},
    {"2147483647", INT32_MAX},
    {"2147483648", INT32_MAX},
    {"-2147483648", INT32_MIN},
    {"-2147483649", INT32_MIN},
    {"4294967296", INT32_MAX},  // 2^32: zero if it were cut to 32 bits
    {"99999999999", INT32_MAX},
    {"-99999999999", INT32_MIN},
    {"99999999999999999999999", INT32_MAX},  // past the 64-bit range too
    {"-99999999999999999999999", INT32_MIN},
};

TEST(QuordexHelperArgument, ReadsBase10AndSaturatesAtThe32BitLimits) {
  for (const ConversionCase& c : kConversions) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    EXPECT_EQ(textToInt32(c.text), c.want);
  }
}

RunResult runHelper(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {},
                    const std::string& argv0 = "") {
  return testsupport::runQuordexHelper({.args = args, .argv0 = argv0, .prefix = prefix});
}

std::string shellQuoted(const std::string& path) { return "'" + path + "'"; }

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// The attribute letters lsattr shows for path ("----ia---...e---"), or "" when
// it cannot read them.
std::string attrs(const std::string& path) {
  FILE* p = popen(("lsattr -d " + shellQuoted(path) + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return "";
  std::string out;
  char chunk[256];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
  if (pclose(p) != 0) return "";
  return out.substr(0, out.find(' '));
}

bool immutable(const std::string& letters) { return letters.find('i') != std::string::npos; }

std::string withoutImmutable(std::string letters) {
  for (char& c : letters)
    if (c == 'i') c = '-';
  return letters;
}

std::string errorLine(const char* message, int error) {
  return std::string(message) + ": " + std::strerror(error) + "\n";
}

const char kSetFailed[] = "quordex_helper: Set flags failed (Operation not permitted)";
const std::vector<std::string> kWithoutPrivilege = {"setpriv", "--inh-caps=-linux_immutable",
                                                    "--bounding-set=-linux_immutable"};
const std::vector<std::string> kAsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

struct FailureCase {
  const char* name;
  std::vector<std::string> args;
  std::string want_err;
};

// These fail before any attribute could change, so they need neither root nor
// attribute support.
TEST(QuordexHelper, ReportsEachEarlyFailureWithOneLineAndStatus1) {
  const std::string usage = "Usage: my-helper <path> <1|0>\n";
  const FailureCase cases[] = {
      {"no arguments", {}, usage},
      {"one argument", {"/proc/nonexistent-quordex"}, usage},
      {"three arguments", {"/proc/nonexistent-quordex", "1", "x"}, usage},
      {"missing file", {"/proc/nonexistent-quordex", "1"}, "quordex_helper: Open failed: No such file or directory\n"},
      {"no attribute request under /proc",
       {"/proc/version", "1"},
       errorLine("quordex_helper: Get flags failed", ENOTTY)},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = runHelper(c.args, {}, "my-helper");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, c.want_err);
    EXPECT_EQ(r.out, "");
  }
}

// Runs in a fresh folder of the build tree; skips unless run as root on a file
// system whose attributes can be changed. The folder's removal clears the
// immutable and append-only bits first, even after a failure.
class QuordexHelperFiles : public testsupport::InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    if (geteuid() != 0) {
      GTEST_SKIP() << "needs root: only a privileged caller changes the immutable bit";
    }
    if (!shell("command -v chattr >/dev/null && command -v lsattr >/dev/null")) {
      GTEST_SKIP() << "chattr and lsattr (e2fsprogs) are not installed";
    }
    std::string probe = file("probe");
    if (!shell("chattr +i " + shellQuoted(probe) + " 2>/dev/null") || !immutable(attrs(probe))) {
      GTEST_SKIP() << "the file system of " << dir_ << " cannot set the immutable attribute";
    }
    ASSERT_TRUE(shell("chattr -i " + shellQuoted(probe)));
  }

  std::string file(const std::string& name) {
    EXPECT_TRUE(testsupport::writeFile(path(name), "data\n"));
    return path(name);
  }

  // Whether setpriv, which the tests use to drop privileges, is installed.
  bool haveSetpriv() { return shell("command -v setpriv >/dev/null"); }
};

TEST_F(QuordexHelperFiles, SetsAndClearsOnlyTheImmutableBit) {
  std::string f = file("f");
  ASSERT_TRUE(shell("chattr +a " + shellQuoted(f)));
  const std::string before = attrs(f);
  ASSERT_FALSE(immutable(before));

  RunResult r = runHelper({f, "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out + r.err, "");
  std::string after = attrs(f);
  EXPECT_TRUE(immutable(after)) << after;
  EXPECT_EQ(withoutImmutable(after), before);

  r = runHelper({f, "0"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(attrs(f), before);
}

TEST_F(QuordexHelperFiles, FollowsASymbolicLinkToItsTarget) {
  std::string target = file("target");
  std::string link = path("link");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(runHelper({link, "1"}).exit_code, 0);
  EXPECT_TRUE(immutable(attrs(target)));
  EXPECT_EQ(runHelper({link, "0"}).exit_code, 0);
  EXPECT_FALSE(immutable(attrs(target)));
}

// The conversion itself is checked above; these rows show that its result,
// not the text, decides.
TEST_F(QuordexHelperFiles, AnyNonZeroNumberSetsAndZeroOrNoNumberClears) {
  struct Case {
    const char* arg;
    bool set;
  };
  const Case cases[] = {
      {"2", true}, {"-1", true}, {"4294967296", true}, {"yes", false}, {"", false}, {"0", false},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("argument \"") + c.arg + "\"");
    // Each row starts from the opposite state, so that doing nothing fails it.
    std::string f = file("row" + std::to_string(row++));
    if (!c.set) {
      ASSERT_TRUE(shell("chattr +i " + shellQuoted(f)));
    }
    RunResult r = runHelper({f, c.arg});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(immutable(attrs(f)), c.set);
  }
}

TEST_F(QuordexHelperFiles, OwnerWithoutThePrivilegeCannotChangeTheBit) {
  if (!haveSetpriv()) {
    GTEST_SKIP() << "setpriv (util-linux) is not installed";
  }
  struct Case {
    const char* name;
    bool start_immutable;
    const char* arg;
  };
  const Case cases[] = {{"set", false, "1"}, {"clear", true, "0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string f = file(c.name);
    ASSERT_TRUE(shell("chattr +a " + shellQuoted(f)));
    if (c.start_immutable) {
      ASSERT_TRUE(shell("chattr +i " + shellQuoted(f)));
    }
    const std::string before = attrs(f);
    RunResult r = runHelper({f, c.arg}, kWithoutPrivilege);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, errorLine(kSetFailed, EPERM));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(attrs(f), before);
  }
}

// A caller that does not own the file may not write its attribute word even
// unchanged: this fails only because the word is written back regardless.
TEST_F(QuordexHelperFiles, WritesTheWordBackEvenWhenTheBitIsUnchanged) {
  if (!haveSetpriv()) {
    GTEST_SKIP() << "setpriv (util-linux) is not installed";
  }
  std::string f = file("f");
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  if (!shell("setpriv --reuid=65534 --regid=65534 --clear-groups test -r " + shellQuoted(f) + " -a -x " +
             shellQuoted(testsupport::programPath("quordex_helper")))) {
    GTEST_SKIP() << "user 65534 cannot read " << f << " or run the helper";
  }
  const std::string before = attrs(f);
  RunResult r = runHelper({f, "0"}, kAsNobody);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, errorLine(kSetFailed, EPERM));
  EXPECT_EQ(attrs(f), before);
}

}  // namespace
