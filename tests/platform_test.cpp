// The integer widths that hold on every build, checked on the programs themselves:
// the native build and the 32-bit x86 build (started through the emulator) run
// the same cases and must give the same answers.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <string>

#include "run_program.h"

namespace {

using testsupport::RunOptions;
using testsupport::RunResult;

class PortWidth : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::makeTempDir("platform");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { testsupport::removeTree(dir_); }

  // Runs vorn_sql with every connection value given, the port from the row,
  // and "y" to the update question.
  RunResult runWithPort(const std::string& port, const std::string& target) {
    RunOptions o;
    o.args = {"-H", "db1", "-u", "admin", "-p", "pw", "-d", "auth", "-P", port, "-s", target};
    o.env = {"HOME=" + dir_, "PATH=/usr/bin:/bin"};
    o.input = "y\n";
    return testsupport::runProgram(VORN_SQL_PATH, o);
  }

  std::string dir_;
};

struct PortCase {
  const char* name;
  const char* port;
  bool accepted;
};

// The conversion is signed 32-bit on every build: a wider long must not admit
// more, and a value cut down to 32 or 64 bits must not turn into a valid port.
const PortCase kPorts[] = {
    {"largest signed 32-bit value", "2147483647", true},
    {"one past the signed 32-bit range", "2147483648", false},
    {"2^32 + 3306, which is 3306 when cut to 32 bits", "4294970602", false},
    {"2^64 + 3306, which is 3306 when cut to 64 bits", "18446744073709555922", false},
};

TEST_F(PortWidth, AcceptsExactlyTheSigned32BitRange) {
  for (const PortCase& c : kPorts) {
    SCOPED_TRACE(std::string(c.name) + ": -P " + c.port);
    const std::string target = dir_ + "/conf-" + c.port;
    RunResult r = runWithPort(c.port, target);
    ASSERT_FALSE(r.timed_out);
    std::string written;
    if (c.accepted) {
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.err, "");
      ASSERT_TRUE(testsupport::readFile(target, &written));
      EXPECT_NE(written.find(std::string("\" PORTNO ") + c.port + "\n"), std::string::npos)
          << written;
    } else {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.err, "-P requires an argument\n");
      EXPECT_FALSE(testsupport::fileExists(target));
      EXPECT_FALSE(testsupport::fileExists(target + "~"));
    }
  }
}

#if VORN_CROSS_BUILD && defined(__i386__)
bool is32BitX86(const std::string& machine) {
  return machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86";
}

// A 64-bit kernel may start 32-bit programs itself, but not every machine that
// runs these tests can: the test programs, and the programs they start, must go
// through the emulator, which reports a 32-bit machine.
TEST(Emulation, TestProgramsAndTheProgramsTheyStartRunUnderTheEmulator) {
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_TRUE(is32BitX86(u.machine)) << "this test program sees " << u.machine;

  RunResult r = testsupport::runProgram(MACHINE_NAME_PATH, RunOptions{});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string started = r.out.substr(0, r.out.find('\n'));
  EXPECT_TRUE(is32BitX86(started)) << "a program it starts sees " << started;
}
#endif

}  // namespace
