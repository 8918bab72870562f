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

// The number decides, not the text (the conversion is checked above); only the
// immutable bit changes, the append-only bit set beside it stays; a symbolic
// link is followed to its target. Each row starts from the opposite state, so
// that doing nothing fails it.
TEST_F(QuordexHelperFiles, SetsOrClearsOnlyTheImmutableBitAsTheNumberSays) {
  struct Case {
    const char* arg;
    bool set;
    bool through_link;
  };
  const Case cases[] = {
      {"1", true, false},    {"2", true, false}, {"-1", true, false}, {"4294967296", true, false}, {"0", false, false},
      {"yes", false, false}, {"", false, false}, {"1", true, true},   {"0", false, true},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("argument \"") + c.arg + (c.through_link ? "\" through a link" : "\""));
    const std::string name = "row" + std::to_string(row++), f = file(name);
    ASSERT_TRUE(shell(std::string(c.set ? "chattr +a " : "chattr +ai ") + shellQuoted(f)));
    const std::string before = attrs(f);
    std::string given = f;
    if (c.through_link) {
      given = path(name + ".link");
      ASSERT_EQ(symlink(f.c_str(), given.c_str()), 0);
    }
    RunResult r = runHelper({given, c.arg});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out + r.err, "");
    const std::string after = attrs(f);
    EXPECT_EQ(immutable(after), c.set) << after;
    EXPECT_EQ(withoutImmutable(after), withoutImmutable(before));
  }
}

// Without the privilege the bit neither sets nor clears. A caller that does not
// own the file may not write its attribute word even unchanged: that row fails
// only because the word is written back regardless.
TEST_F(QuordexHelperFiles, CallerWithoutThePrivilegeChangesNothing) {
  if (!haveSetpriv()) {
    GTEST_SKIP() << "setpriv (util-linux) is not installed";
  }
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  const bool nobody_can_run =
      shell("setpriv --reuid=65534 --regid=65534 --clear-groups test -r " + shellQuoted(path("probe")) + " -a -x " +
            shellQuoted(testsupport::programPath("quordex_helper")));
  const struct {
    const char* name;
    const std::vector<std::string>& prefix;
    bool start_immutable;
    const char* arg;
  } cases[] = {
      {"owner sets", kWithoutPrivilege, false, "1"},
      {"owner clears", kWithoutPrivilege, true, "0"},
      {"another user leaves it clear", kAsNobody, false, "0"},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (&c.prefix == &kAsNobody && !nobody_can_run) continue;
    std::string f = file("row" + std::to_string(row++));
    ASSERT_TRUE(shell(std::string(c.start_immutable ? "chattr +ai " : "chattr +a ") + shellQuoted(f)));
    const std::string before = attrs(f);
    RunResult r = runHelper({f, c.arg}, c.prefix);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, errorLine(kSetFailed, EPERM));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(attrs(f), before);
  }
  if (!nobody_can_run) {
    GTEST_SKIP() << "user 65534 cannot read " << dir_ << "/probe or run the helper: its row did not run";
  }
}

}  // namespace
