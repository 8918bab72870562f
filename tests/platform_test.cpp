// On the 32-bit x86 build, started through the emulator: a 64-bit kernel may
// start 32-bit programs itself, but not every machine that runs these tests
// can, so the test programs and the programs they start must go through the
// emulator, which reports a 32-bit machine.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <string>

#include "test_support.h"

namespace {

bool is32BitX86(const std::string& machine) {
  return machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86";
}

TEST(Emulation, TestProgramsAndTheProgramsTheyStartRunUnderTheEmulator) {
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_TRUE(is32BitX86(u.machine)) << "this test program sees " << u.machine;

  testsupport::RunResult r = testsupport::runProgram(MACHINE_NAME_PATH, {});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string started = r.out.substr(0, r.out.find('\n'));
  EXPECT_TRUE(is32BitX86(started)) << "a program it starts sees " << started;
}

}  // namespace
