// vorn_sql and vorn_set under injected failures (the preloaded fault_inject
// library): each allocation of a run in turn, and each call that the
// replacement of the file depends on. Whatever fails, the program must not
// crash; it either ends with status 1 and its message for that failure, leaving
// the old file byte for byte and no temporary file, or, where the failure is
// harmless, writes the complete correct file. vorn_keyfile likewise for each
// call on the way to a new key file; and every program that holds a secret runs
// with core dumps off.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testsupport::kOldConfig;

const char kAllocationFailed[] = "malloc(): Cannot allocate memory\n";
const char kNoKey[] = "Cannot load the encryption key from \".vorn_yelto\"\n";
const char kNoCipher[] = "Failed to encrypt the configuration with the key from \".vorn_yelto\"\n";

struct Variant {
  const char* name;
  std::string_view build;
  std::vector<std::string> args;
  std::string input;
  // The messages that allocation failures must produce, each at least once;
  // none when a run allocates nothing.
  std::set<std::string> allocation_messages;
  const char* create_end;  // what ends the message of a failed creation
};

const char kSetInput[] = "hostname=db1\nusername=admin\npassword=pw\ndbname=auth\nportno=3306\n";
const std::vector<std::string> kSqlPlain = {"-H", "db1", "-u", "admin", "-p", "pw", "-d", "auth", "-P", "3306"};
const std::vector<std::string> kSqlEncrypted = {"-e", "yes", "-H", "db1",  "-u", "admin",
                                                "-p", "pw",  "-d", "auth", "-P", "3306"};

const Variant kVariants[] = {
    {"vorn_sql plain", "vorn_sql", kSqlPlain, "y", {kAllocationFailed}, ""},
    {"vorn_sql encrypted", "vorn_sql_testkey", kSqlEncrypted, "y", {kAllocationFailed, kNoKey, kNoCipher}, ""},
    {"vorn_set plain", "vorn_set", {}, kSetInput, {kAllocationFailed}, "\n"},
    {"vorn_set encrypted", "vorn_set_testkey", {"-e", "yes"}, kSetInput, {kAllocationFailed, kNoKey, kNoCipher}, "\n"},
};

class FaultInjection : public testsupport::InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    ASSERT_EQ(testsupport::makeKeyFile(path(testsupport::kTestKeyFile)).exit_code, 0);
  }

  // Runs the variant on a fresh copy of the old file, with the given fault
  // settings in the environment.
  testsupport::RunResult run(const Variant& v, const std::vector<std::string>& faults) {
    EXPECT_TRUE(testsupport::writeFile(target(), kOldConfig, 0444));
    std::vector<std::string> env = testsupport::baseEnv(dir_);
    env.insert(env.end(), faults.begin(), faults.end());
    testsupport::RunOptions o = {
        .args = v.args, .env = env, .input = v.input, .cwd = dir_, .preload = FAULT_INJECT_PATH};
    return testsupport::runProgram(testsupport::programPath(v.build), o);
  }

  // The file as an undisturbed run writes it, and the number of allocations
  // that run makes.
  void reference(const Variant& v, std::string* content, long* allocations) {
    std::string count_file = path("count");
    testsupport::RunResult r = run(v, {"VORN_ALLOC_COUNT=" + count_file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_TRUE(testsupport::readFile(target(), content));
    ASSERT_NE(*content, kOldConfig);
    std::string count;
    ASSERT_TRUE(testsupport::readFile(count_file, &count));
    *allocations = std::strtol(count.c_str(), nullptr, 10);
    EXPECT_EQ(*allocations > 0, !v.allocation_messages.empty()) << *allocations;
  }

  // A run ended either with the complete new file or with status 1, the old
  // file and no temporary file.
  void expectCompleteOrUntouched(const testsupport::RunResult& r, const std::string& want) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    std::string now;
    EXPECT_TRUE(testsupport::readFile(target(), &now));
    if (r.exit_code == 0) {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(now, want);
    } else {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(now, kOldConfig);
    }
    EXPECT_FALSE(testsupport::fileExists(target() + "~"));
  }

  std::string target() const { return path(".vorn_sql"); }
};

TEST_F(FaultInjection, EveryAllocationOfARunFailsInTurn) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    std::string want;
    long allocations = 0;
    reference(v, &want, &allocations);
    std::set<std::string> seen;
    int harmless = 0;
    for (long n = 1; n <= allocations; n++) {
      SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(allocations));
      testsupport::RunResult r = run(v, {"VORN_FAIL_ALLOC=" + std::to_string(n)});
      expectCompleteOrUntouched(r, want);
      if (r.exit_code == 0) {
        harmless++;
      } else {
        EXPECT_EQ(v.allocation_messages.count(r.err), 1u) << r.err;
        seen.insert(r.err);
      }
    }
    // Every kind of allocation failure was met.
    EXPECT_EQ(seen, v.allocation_messages);
    std::printf("%s: %ld allocations, %d of them harmless to fail\n", v.name, allocations, harmless);
  }
}

TEST_F(FaultInjection, FileCallsFail) {
  const struct {
    const char* call;
    int status;
    std::string err;  // the whole message, or its start when the status is 1 and errno is not the call's
    bool exact;
  } cases[] = {
      {"open", 1, "Failed to create \"" + target() + "\" (Read-only file system)", true},
      {"write", 1, "Failed to write new secret: No space left on device\n", true},
      {"short_write", 1, "Failed to write new secret: ", false},
      {"fsync", 1, "Failed to write new secret: Input/output error\n", true},
      {"rename", 1, "Failed to write new secret: Permission denied\n", true},
      // The directory is synchronised after the rename, on a best-effort basis.
      {"fsync_dir", 0, "", true},
  };
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    std::string want;
    long allocations = 0;
    reference(v, &want, &allocations);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.call);
      testsupport::RunResult r = run(v, {std::string("VORN_FAIL_CALL=") + c.call});
      expectCompleteOrUntouched(r, want);
      EXPECT_EQ(r.exit_code, c.status);
      if (c.exact) {
        EXPECT_EQ(r.err, c.call == std::string("open") ? c.err + v.create_end : c.err);
      } else {
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
      }
    }
  }
}

// Whatever fails, a key file is complete or absent, and so are the folders made
// for it (which would still hold a leftover temporary file).
TEST_F(FaultInjection, KeyFileIsCompleteOrAbsent) {
  // The call that fails, and the message after "vorn_keyfile: " (none when the
  // failure is harmless).
  const std::pair<const char*, std::string> cases[] = {
      {"write", "cannot write \"new/sub/key\": No space left on device"},
      {"short_write", ""},
      {"fsync", "cannot write \"new/sub/key\": Input/output error"},
      {"fsync_dir", "cannot write \"new/sub/key\": Input/output error"},
      {"link", "cannot create \"new/sub/key\": Operation not permitted"},
      {"mkdirat", "cannot create the folders of \"new/sub/key\": No space left on device"},
      // Not the interposer: a file size limit of 0, which kills a process that
      // writes past it unless SIGXFSZ is ignored.
      {"fsize", "cannot write \"new/sub/key\": File too large"},
  };
  for (const auto& [call, err] : cases) {
    SCOPED_TRACE(call);
    testsupport::RunOptions run{.input = testsupport::kTestKeyHex, .cwd = dir_, .preload = FAULT_INJECT_PATH};
    run.args = {"--key-stdin", "new/sub/key"};
    run.env = {std::string("VORN_FAIL_CALL=") + call};
    if (call == std::string("fsize")) run.prefix = {"sh", "-c", "ulimit -f 0 && exec \"$@\"", "sh"};
    testsupport::RunResult r = testsupport::runVornKeyfile(run);
    std::string key;
    EXPECT_EQ(r.exit_code, err.empty() ? 0 : 1);
    EXPECT_EQ(r.err, err.empty() ? "" : "vorn_keyfile: " + err + "\n");
    EXPECT_EQ(testsupport::readFile(path("new/sub/key"), &key) ? key.size() : 0, err.empty() ? 88u : 0u);
    EXPECT_EQ(testsupport::fileExists(path("new")), err.empty());
    testsupport::removeTree(path("new"));
  }
}

// A rotation stopped by a failing call before its first rename leaves the
// host as it was; one stopped later leaves it for the same command run again,
// which finishes it.
TEST_F(FaultInjection, RotationStoppedByAFailure) {
  const struct {
    const char* call;
    std::string err;  // after "vorn_keyfile: "
    bool left_for_rerun;
  } cases[] = {
      {"write", "cannot write the old-key file \".vorn_yelto.old-key\": No space left on device", false},
      {"fsync", "cannot write the old-key file \".vorn_yelto.old-key\": Input/output error", false},
      {"open", "cannot write \".vorn_sql.rotate~\": Read-only file system", false},
      {"fsync_dir", "cannot write the old-key file \".vorn_yelto.old-key\": Input/output error", true},
      {"rename", "cannot put \".vorn_sql.rotate~\" in place: Permission denied", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    unlink(path(testsupport::kTestKeyFile).c_str());
    ASSERT_EQ(testsupport::makeKeyFile(path(testsupport::kTestKeyFile)).exit_code, 0);
    ASSERT_EQ(run(kVariants[1], {}).exit_code, 0);
    const std::map<std::string, std::string> before = testsupport::folderSnapshot(dir_);
    testsupport::RunOptions o = {.args = {"--rotate", "--key-stdin", "--key-file=.vorn_yelto", ".vorn_sql"},
                                 .env = {std::string("VORN_FAIL_CALL=") + c.call},
                                 .input = "0102030405060708090a0b0c0d0e0f11\n",
                                 .cwd = dir_,
                                 .preload = FAULT_INJECT_PATH};
    testsupport::RunResult r = testsupport::runVornKeyfile(o);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("vorn_keyfile: " + c.err + "\n", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("run the same command again") != std::string::npos, c.left_for_rerun) << r.err;
    if (!c.left_for_rerun) {
      EXPECT_EQ(testsupport::folderSnapshot(dir_), before);
    }
    o.env.clear();
    o.preload.clear();
    r = testsupport::runVornKeyfile(o);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(testsupport::entryNames(dir_), (std::vector<std::string>{".vorn_sql", ".vorn_yelto"}));
  }
}

// Core dumps are off from the start: the interposer reports the program's
// dumpable flag as it ends.
TEST_F(FaultInjection, ProgramsThatHoldSecretsCannotDumpThem) {
  std::vector<std::vector<std::string>> runs = {{"vorn_sql", "-p", "pw", "-s", "conf"},
                                                {"vorn_set", "-s", "conf"},
                                                {"vorn_show", "conf"},
                                                {"vorn_keyfile", "--check", "--key-stdin", "conf"}};
  if (VORN_DBCHECK_BUILT) runs.push_back({"vorn_dbcheck", "conf"});
  for (const auto& run : runs) {
    SCOPED_TRACE(run[0]);
    testsupport::RunOptions options{.input = "password=pw\n", .cwd = dir_, .preload = FAULT_INJECT_PATH};
    options.args.assign(run.begin() + 1, run.end());
    options.env = {"HOME=" + dir_, "VORN_DUMPABLE=1", "VORN_ALLOC_COUNT=" + path("dumpable")};
    testsupport::runProgram(testsupport::programPath(run[0]), options);
    std::string dumpable;
    EXPECT_EQ(testsupport::readFile(path("dumpable"), &dumpable) ? dumpable : "(not reported)", "0");
    unlink(path("dumpable").c_str());
  }
}

}  // namespace
