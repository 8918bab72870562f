// The option parser, call by call: results, optarg, optind, optopt, the messages on
// standard error, and the final order of the argument vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "getopt.h"
#include "getopt_internal.h"
#include "test_support.h"

namespace {

using vornopt::option;

enum Entry { kShort, kLong, kLongOnly };

// The program's own table.
const option kSql[] = {
    {"help", 0, nullptr, 'h'},     {"hostname", 1, nullptr, 'H'}, {"encrypt-flag", 1, nullptr, 'e'},
    {"username", 1, nullptr, 'u'}, {"password", 1, nullptr, 'p'}, {"dbname", 1, nullptr, 'd'},
    {"portno", 1, nullptr, 'P'},   {"secret", 1, nullptr, 's'},   {nullptr, 0, nullptr, 0},
};
const char kSqlOptions[] = "+h:H:e:u:p:d:P:s:w";

const option kHelpHost[] = {{"help", 0, nullptr, 1001}, {"hostname", 1, nullptr, 1002}, {nullptr, 0, nullptr, 0}};
const option kHostLast[] = {
    {"hostname", 1, nullptr, 11}, {"host2", 1, nullptr, 12}, {"host", 1, nullptr, 13}, {nullptr, 0, nullptr, 0}};
const option kHostFirst[] = {
    {"host", 1, nullptr, 13}, {"hostname", 1, nullptr, 11}, {"host2", 1, nullptr, 12}, {nullptr, 0, nullptr, 0}};
// Optional argument, and an argument kind the parser does not know.
const option kKinds[] = {
    {"opt", 2, nullptr, 21}, {"odd", 3, nullptr, 22}, {"name", 0, nullptr, 23}, {nullptr, 0, nullptr, 0}};

constexpr int kNoIdx = -7;

// One call and what it must leave behind.
struct Step {
  int result;
  const char* optarg = nullptr;
  int optind;
  int optopt = '?';
  int idx = kNoIdx;  // the long index, kNoIdx when never written
};

struct Case {
  const char* name;
  Entry entry = kLong;
  const char* options = kSqlOptions;
  const option* table = kSql;  // unused by kShort
  std::vector<const char*> args{};
  std::vector<Step> steps;
  std::vector<const char*> final_args{};  // empty: the vector is unchanged
  const char* err = "";                   // everything printed on standard error
};

// A process-fresh parser, with POSIXLY_CORRECT taken as absent unless said otherwise.
void resetParser(int posixly = 0) {
  vornopt::optind = 1;
  vornopt::opterr = 1;
  vornopt::optopt = '?';
  vornopt::optarg = nullptr;
  vornopt::optreset = 0;
  vornopt::place = "";
  vornopt::nonopt_start = -1;
  vornopt::nonopt_end = -1;
  vornopt::posixly_correct = posixly;
}

int call(Entry entry, int argc, char** argv, const char* options, const option* table, int* idx) {
  switch (entry) {
    case kShort:
      return vornopt::_getopt(argc, argv, options);
    case kLong:
      return vornopt::_getopt_long(argc, argv, options, table, idx);
    case kLongOnly:
      return vornopt::_getopt_long_only(argc, argv, options, table, idx);
  }
  return -99;
}

std::string show(const char* s) { return s == nullptr ? std::string("(null)") : std::string(s); }

void runCase(const Case& c) {
  SCOPED_TRACE(c.name);
  resetParser();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("prog"));
  for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  int argc = static_cast<int>(argv.size()) - 1;

  testing::internal::CaptureStderr();
  for (size_t i = 0; i < c.steps.size(); i++) {
    const Step& want = c.steps[i];
    SCOPED_TRACE("call " + std::to_string(i + 1));
    int idx = kNoIdx;
    int got = call(c.entry, argc, argv.data(), c.options, c.table, &idx);
    EXPECT_EQ(got, want.result);
    EXPECT_EQ(show(vornopt::optarg), show(want.optarg));
    EXPECT_EQ(vornopt::optind, want.optind);
    EXPECT_EQ(vornopt::optopt, want.optopt);
    EXPECT_EQ(idx, want.idx);
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, c.err);

  const std::vector<const char*>& expect = c.final_args.empty() ? c.args : c.final_args;
  ASSERT_EQ(expect.size() + 1, static_cast<size_t>(argc));
  for (size_t i = 0; i < expect.size(); i++) EXPECT_STREQ(argv[i + 1], expect[i]) << "element " << i + 1;
}

// One row per case, its fields packed.
// clang-format off
const Case kProgramCases[] = {
    {.name = "unique prefix with =value", .args = {"--host=db1"},
     .steps = {{.result = 'H', .optarg = "db1", .optind = 2, .idx = 1}, {.result = -1, .optind = 2}}},
    {.name = "prefix takes the next element", .args = {"--pass", "x"},
     .steps = {{.result = 'p', .optarg = "x", .optind = 3, .idx = 4}}},
    {.name = "one-letter unique prefix", .args = {"--e", "yes"},
     .steps = {{.result = 'e', .optarg = "yes", .optind = 3, .idx = 2}}},
    {.name = "ambiguous prefix p", .args = {"--p", "x"}, .steps = {{.result = '?', .optind = 2, .optopt = 0}},
     .err = "ambiguous option -- p"},
    {.name = "ambiguous prefix h", .args = {"--h"}, .steps = {{.result = '?', .optind = 2, .optopt = 0}},
     .err = "ambiguous option -- h"},
    {.name = "ambiguous prefix with =value", .args = {"--pa=x"},
     .steps = {{.result = 'p', .optarg = "x", .optind = 2, .idx = 4}}},
    {.name = "value given to help", .args = {"--help=x"}, .steps = {{.result = '?', .optind = 2, .optopt = 'h'}},
     .err = "option doesn't take an argument -- help"},
    {.name = "required argument missing at the end", .args = {"--hostname"},
     .steps = {{.result = '?', .optind = 2, .optopt = 'H'}}, .err = "option requires an argument -- hostname"},
    {.name = "required argument taken whatever it is", .args = {"--hostname", "--username=u"},
     .steps = {{.result = 'H', .optarg = "--username=u", .optind = 3, .idx = 1}, {.result = -1, .optind = 3}}},
    {.name = "empty =value is an argument", .args = {"--hostname="},
     .steps = {{.result = 'H', .optarg = "", .optind = 2, .idx = 1}}},
    {.name = "short option missing its argument", .args = {"-H"},
     .steps = {{.result = '?', .optind = 2, .optopt = 'H'}}, .err = "option requires an argument -- H"},
    {.name = "short option takes a dash element", .args = {"-H", "-u"},
     .steps = {{.result = 'H', .optarg = "-u", .optind = 3}}},
    {.name = "attached short argument", .args = {"-Hdb1"}, .steps = {{.result = 'H', .optarg = "db1", .optind = 2}}},
    {.name = "cluster with an unknown letter", .args = {"-wx"},
     .steps = {{.result = 'w', .optind = 1}, {.result = '?', .optind = 2, .optopt = 'x'},
               {.result = -1, .optind = 2, .optopt = 'x'}},
     .err = "unknown option -- x"},
    {.name = "unknown letter first in a cluster", .args = {"-xw"},
     .steps = {{.result = '?', .optind = 1, .optopt = 'x'}, {.result = 'w', .optind = 2, .optopt = 'x'}},
     .err = "unknown option -- x"},
    {.name = "operand first stops the scan", .args = {"x", "-w"}, .steps = {{.result = -1, .optind = 1}}},
    {.name = "unknown long option keeps its =value", .args = {"--zz=1"},
     .steps = {{.result = '?', .optind = 2, .optopt = 0}}, .err = "unknown option -- zz=1"},
    {.name = "empty long name is ambiguous", .args = {"--=x"}, .steps = {{.result = '?', .optind = 2, .optopt = 0}},
     .err = "ambiguous option -- "},
    {.name = "trailing dash in a cluster is a long option", .args = {"-w-"},
     .steps = {{.result = 'w', .optind = 1}, {.result = '?', .optind = 2, .optopt = 0}}, .err = "ambiguous option -- "},
    {.name = "no options at all", .args = {"a", "b"}, .steps = {{.result = -1, .optind = 1}}},
    {.name = "empty vector", .steps = {{.result = -1, .optind = 1}}},
    {.name = "two dashes end the options", .args = {"-w", "--", "-H"},
     .steps = {{.result = 'w', .optind = 2}, {.result = -1, .optind = 3}}},
    {.name = "exact name beats later prefixes", .args = {"--help"}, .steps = {{.result = 'h', .optind = 2, .idx = 0}}},
    {.name = "help takes an argument as a short option", .args = {"-hx"},
     .steps = {{.result = 'h', .optarg = "x", .optind = 2}}},
    {.name = "lone dash is an operand", .args = {"-"}, .steps = {{.result = -1, .optind = 1}}},
    {.name = "colon is never an option", .args = {"-:"}, .steps = {{.result = '?', .optind = 2, .optopt = ':'}},
     .err = "unknown option -- :"},
};
// clang-format on

TEST(OptionParser, ProgramOptionString) {
  for (const Case& c : kProgramCases) runCase(c);
}

const option kW[] = {{"hostname", 1, nullptr, 'H'}, {"help", 0, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
int flag_target = 0;
// An entry whose match returns -1, what the end of the scan returns.
const option kMinusOne[] = {{"", 0, nullptr, -1}, {nullptr, 0, nullptr, 0}};
const option kFlag[] = {{"alpha", 0, nullptr, 'a'},
                        {"beta", 0, &flag_target, 77},
                        {"gamma", 1, &flag_target, 78},
                        {nullptr, 0, nullptr, 0}};

// One row per case, its fields packed.
// clang-format off
const Case kModeCases[] = {
    {.name = "permute moves operands behind options", .options = "xy", .args = {"one", "-x", "two", "-y", "three"},
     .steps = {{.result = 'x', .optind = 3}, {.result = 'y', .optind = 5}, {.result = -1, .optind = 3}},
     .final_args = {"-x", "-y", "one", "two", "three"}},
    {.name = "permute stops at two dashes", .options = "xy", .args = {"one", "-x", "two", "--", "-y", "three"},
     .steps = {{.result = 'x', .optind = 3}, {.result = -1, .optind = 3}},
     .final_args = {"-x", "--", "one", "two", "-y", "three"}},
    {.name = "permute with operands only", .options = "xy", .args = {"one", "two"},
     .steps = {{.result = -1, .optind = 1}}},
    {.name = "permute with trailing operands", .options = "xy", .args = {"-x", "one", "two"},
     .steps = {{.result = 'x', .optind = 2}, {.result = -1, .optind = 2}}},
    {.name = "permute moves an option argument with its option", .options = "a:", .args = {"one", "-a", "v", "two"},
     .steps = {{.result = 'a', .optarg = "v", .optind = 4}, {.result = -1, .optind = 3}},
     .final_args = {"-a", "v", "one", "two"}},
    {.name = "permute unequal blocks", .options = "abc", .args = {"o1", "o2", "o3", "-a", "-b", "o4", "-c"},
     .steps = {{.result = 'a', .optind = 5}, {.result = 'b', .optind = 6}, {.result = 'c', .optind = 8},
               {.result = -1, .optind = 4}},
     .final_args = {"-a", "-b", "-c", "o1", "o2", "o3", "o4"}},
    {.name = "in order returns operands as code 1", .options = "-xy", .args = {"one", "-x", "two", "-y", "three"},
     .steps = {{.result = 1, .optarg = "one", .optind = 2}, {.result = 'x', .optind = 3},
               {.result = 1, .optarg = "two", .optind = 4}, {.result = 'y', .optind = 5},
               {.result = 1, .optarg = "three", .optind = 6}, {.result = -1, .optind = 6}}},
    {.name = "short entry does not permute", .entry = kShort, .options = "xy", .args = {"one", "-x"},
     .steps = {{.result = -1, .optind = 1}}},
    {.name = "short entry in order", .entry = kShort, .options = "-x", .args = {"one", "-x"},
     .steps = {{.result = 1, .optarg = "one", .optind = 2}, {.result = 'x', .optind = 3}}},
    {.name = "lone dash moves behind the options", .options = "x", .args = {"-", "-x"},
     .steps = {{.result = 'x', .optind = 3}, {.result = -1, .optind = 2}}, .final_args = {"-x", "-"}},
    {.name = "lone dash as an option", .options = "x-", .args = {"-", "-x"},
     .steps = {{.result = '-', .optind = 2}, {.result = 'x', .optind = 3}}},
    {.name = "trailing dash that is no option ends the scan", .entry = kShort, .options = "a", .args = {"-a-"},
     .steps = {{.result = 'a', .optind = 1}, {.result = -1, .optind = 1}}},
    {.name = "silent missing argument", .entry = kShort, .options = ":x:", .args = {"-x"},
     .steps = {{.result = ':', .optind = 2, .optopt = 'x'}}},
    {.name = "silent unknown option", .entry = kShort, .options = ":x:", .args = {"-q"},
     .steps = {{.result = '?', .optind = 2, .optopt = 'q'}}},
    {.name = "silent behind a mode prefix", .options = "+:x:", .args = {"-x"},
     .steps = {{.result = ':', .optind = 2, .optopt = 'x'}}},
    {.name = "colon after a mode prefix only", .entry = kShort, .options = ":+x:", .args = {"-+"},
     .steps = {{.result = '+', .optind = 2}}},
    {.name = "optional argument attached", .entry = kShort, .options = "x::", .args = {"-xv"},
     .steps = {{.result = 'x', .optarg = "v", .optind = 2}}},
    {.name = "optional argument not taken from the next element", .entry = kShort, .options = "x::",
     .args = {"-x", "v"}, .steps = {{.result = 'x', .optind = 2}, {.result = -1, .optind = 2}}},
    {.name = "W escape, separate element", .options = "W;", .table = kW, .args = {"-W", "hostname=a"},
     .steps = {{.result = 'H', .optarg = "a", .optind = 3, .idx = 0}}},
    {.name = "W escape, attached prefix", .options = "W;", .table = kW, .args = {"-Whost=b"},
     .steps = {{.result = 'H', .optarg = "b", .optind = 2, .idx = 0}}},
    {.name = "W escape takes the next element as argument", .options = "W;", .table = kW, .args = {"-Whostname", "v"},
     .steps = {{.result = 'H', .optarg = "v", .optind = 3, .idx = 0}}},
    {.name = "W escape at the end", .options = "W;", .table = kW, .args = {"-W"},
     .steps = {{.result = '?', .optind = 2, .optopt = 'W'}}, .err = "option requires an argument -- W"},
    {.name = "W escape at the end, silent", .options = ":W;", .table = kW, .args = {"-W"},
     .steps = {{.result = ':', .optind = 2, .optopt = 'W'}}},
    {.name = "W without a table is a plain option", .entry = kShort, .options = "W;", .args = {"-W", "x"},
     .steps = {{.result = 'W', .optind = 2}}},
    {.name = "semicolon is an option character", .entry = kShort, .options = "W;", .args = {"-;"},
     .steps = {{.result = ';', .optind = 2}}},
    {.name = "long only: one letter defers to the short option", .entry = kLongOnly, .options = "h", .table = kHelpHost,
     .args = {"-h"}, .steps = {{.result = 'h', .optind = 2}}},
    {.name = "long only: prefix", .entry = kLongOnly, .options = "h", .table = kHelpHost, .args = {"-ho", "x"},
     .steps = {{.result = 1002, .optarg = "x", .optind = 3, .idx = 1}}},
    {.name = "long only: whole name", .entry = kLongOnly, .options = "h", .table = kHelpHost, .args = {"-help"},
     .steps = {{.result = 1001, .optind = 2, .idx = 0}}},
    {.name = "long only: unknown name", .entry = kLongOnly, .options = "h", .table = kHelpHost, .args = {"-zz"},
     .steps = {{.result = '?', .optind = 2, .optopt = 0}}, .err = "unknown option -- zz"},
    {.name = "long only: two-letter prefix", .entry = kLongOnly, .options = "h", .table = kHelpHost, .args = {"-he"},
     .steps = {{.result = 1001, .optind = 2, .idx = 0}}},
    {.name = "long only: one letter that is no short option", .entry = kLongOnly, .options = "x", .table = kHelpHost,
     .args = {"-h"}, .steps = {{.result = '?', .optind = 2, .optopt = 0}}, .err = "ambiguous option -- h"},
    {.name = "long only: unmatched short cluster read as short options", .entry = kLongOnly, .options = "xy",
     .table = kHelpHost, .args = {"-xy"}, .steps = {{.result = 'x', .optind = 1}, {.result = 'y', .optind = 2}}},
    {.name = "long name after a short option in a cluster", .options = "a", .table = kKinds, .args = {"-a-name"},
     .steps = {{.result = 'a', .optind = 1}, {.result = 23, .optind = 2, .idx = 2}}},
    {.name = "entry returning -1 ends its element", .options = "a", .table = kMinusOne, .args = {"-a-"},
     .steps = {{.result = 'a', .optind = 1}, {.result = -1, .optind = 2, .idx = 0}}},
    {.name = "two prefix matches hide a later exact one", .options = "", .table = kHostLast, .args = {"--host=a"},
     .steps = {{.result = '?', .optind = 2, .optopt = 0}}, .err = "ambiguous option -- host"},
    {.name = "exact match first", .options = "", .table = kHostFirst, .args = {"--host=a"},
     .steps = {{.result = 13, .optarg = "a", .optind = 2, .idx = 0}}},
    {.name = "flag entry stores val and returns 0", .options = "", .table = kFlag, .args = {"--beta"},
     .steps = {{.result = 0, .optind = 2, .idx = 1}}},
    {.name = "flag entry: =value refused with optopt 0", .options = "", .table = kFlag, .args = {"--beta=1"},
     .steps = {{.result = '?', .optind = 2, .optopt = 0}}, .err = "option doesn't take an argument -- beta"},
    {.name = "flag entry: missing argument with optopt 0", .options = ":", .table = kFlag, .args = {"--gamma"},
     .steps = {{.result = ':', .optind = 2, .optopt = 0}}},
    {.name = "silent =value refusal", .options = ":", .table = kFlag, .args = {"--alpha=1"},
     .steps = {{.result = ':', .optind = 2, .optopt = 'a'}}},
    {.name = "silent ambiguity is still 63", .options = ":", .table = kHostLast, .args = {"--ho"},
     .steps = {{.result = '?', .optind = 2, .optopt = 0}}},
    {.name = "optional long argument", .options = "", .table = kKinds, .args = {"--opt", "v", "--opt=w"},
     .steps = {{.result = 21, .optind = 2, .idx = 0}, {.result = 21, .optarg = "w", .optind = 4, .idx = 0},
               {.result = -1, .optind = 3}},
     .final_args = {"--opt", "--opt=w", "v"}},
    {.name = "unknown argument kind ignores =value", .options = "", .table = kKinds, .args = {"--odd=v"},
     .steps = {{.result = 22, .optind = 2, .idx = 1}}},
    {.name = "signed option characters", .entry = kShort, .options = "\xe9", .args = {"-\xe9\xfa"},
     .steps = {{.result = -23, .optind = 1}, {.result = '?', .optind = 2, .optopt = -6}},
     .err = "unknown option -- \xfa"},
};
// clang-format on

TEST(OptionParser, Modes) {
  for (const Case& c : kModeCases) runCase(c);
}

TEST(OptionParser, OptErrZeroSilencesEveryMessage) {
  resetParser();
  vornopt::opterr = 0;
  char* argv[] = {const_cast<char*>("prog"), const_cast<char*>("-x"), const_cast<char*>("--p"), const_cast<char*>("-H"),
                  nullptr};
  testing::internal::CaptureStderr();
  EXPECT_EQ(vornopt::_getopt_long(4, argv, kSqlOptions, kSql, nullptr), '?');
  EXPECT_EQ(vornopt::_getopt_long(4, argv, kSqlOptions, kSql, nullptr), '?');
  EXPECT_EQ(vornopt::_getopt_long(4, argv, kSqlOptions, kSql, nullptr), '?');
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(OptionParser, NullOptionStringChangesNothing) {
  resetParser();
  char arg[] = "v";
  vornopt::optarg = arg;
  vornopt::optind = 3;
  char* argv[] = {const_cast<char*>("prog"), const_cast<char*>("-x"), nullptr};
  EXPECT_EQ(vornopt::_getopt(1, argv, nullptr), -1);
  EXPECT_EQ(vornopt::optarg, arg);
  EXPECT_EQ(vornopt::optind, 3);
  EXPECT_EQ(vornopt::posixly_correct, 0);
}

TEST(OptionParser, ResetDropsTheClusterInProgress) {
  char* argv[] = {const_cast<char*>("prog"), const_cast<char*>("-ab"), const_cast<char*>("-c"), nullptr};
  for (bool by_zero : {false, true}) {
    SCOPED_TRACE(by_zero ? "optind 0" : "optreset 1");
    resetParser();
    EXPECT_EQ(vornopt::_getopt(3, argv, "abc"), 'a');
    if (by_zero) {
      vornopt::optind = 0;
    } else {
      vornopt::optreset = 1;
      vornopt::optind = 1;
    }
    EXPECT_EQ(vornopt::_getopt(3, argv, "abc"), 'a');
    EXPECT_EQ(vornopt::optreset, 0);
    EXPECT_EQ(vornopt::_getopt(3, argv, "abc"), 'b');
    EXPECT_EQ(vornopt::_getopt(3, argv, "abc"), 'c');
    EXPECT_EQ(vornopt::_getopt(3, argv, "abc"), -1);
  }
}

TEST(OptionParser, ResetClearsPendingOperands) {
  resetParser();
  char* argv[] = {const_cast<char*>("prog"), const_cast<char*>("one"), const_cast<char*>("-x"), nullptr};
  EXPECT_EQ(vornopt::_getopt_long(3, argv, "x", kSql, nullptr), 'x');
  EXPECT_EQ(vornopt::nonopt_start, 1);
  vornopt::optind = 0;
  EXPECT_EQ(vornopt::_getopt_long(1, argv, "x", kSql, nullptr), -1);
  EXPECT_EQ(vornopt::nonopt_start, -1);
  EXPECT_EQ(vornopt::nonopt_end, -1);
  EXPECT_EQ(vornopt::optind, 1);
}

TEST(OptionParser, PosixlyCorrectIsLookedUpOncePerProcess) {
  char* argv[] = {const_cast<char*>("prog"), const_cast<char*>("one"), const_cast<char*>("-x"), nullptr};
  resetParser(-1);
  setenv("POSIXLY_CORRECT", "", 1);
  EXPECT_EQ(vornopt::_getopt_long(3, argv, "x", kSql, nullptr), -1) << "permute is off";
  EXPECT_EQ(vornopt::optind, 1);
  EXPECT_EQ(vornopt::posixly_correct, 1);
  // A leading '-' no longer asks for operands in order; the prefix is still stepped over.
  vornopt::optind = 0;
  EXPECT_EQ(vornopt::_getopt_long(3, argv, "-x", kSql, nullptr), -1);
  unsetenv("POSIXLY_CORRECT");
  vornopt::optind = 0;
  EXPECT_EQ(vornopt::_getopt_long(3, argv, "x", kSql, nullptr), -1) << "not looked up again";

  resetParser(-1);
  EXPECT_EQ(vornopt::_getopt_long(3, argv, "x", kSql, nullptr), 'x');
  EXPECT_EQ(vornopt::posixly_correct, 0);
  setenv("POSIXLY_CORRECT", "1", 1);
  vornopt::optind = 0;
  EXPECT_EQ(vornopt::_getopt_long(3, argv, "x", kSql, nullptr), 'x') << "not looked up again";
  unsetenv("POSIXLY_CORRECT");
}

// The rotation against the obvious model, for every block size up to 9 + 9.
TEST(OptionParser, RotationMatchesTheModel) {
  for (int nonopts = 1; nonopts <= 9; nonopts++) {
    for (int opts = 1; opts <= 9; opts++) {
      SCOPED_TRACE(std::to_string(nonopts) + " operands, " + std::to_string(opts) + " options");
      std::vector<std::string> text;
      for (int i = 0; i < 2 + nonopts + opts; i++) text.push_back("e" + std::to_string(i));
      std::vector<char*> v;
      for (std::string& t : text) v.push_back(t.data());
      std::vector<char*> want = v;
      std::rotate(want.begin() + 1, want.begin() + 1 + nonopts, want.begin() + 1 + nonopts + opts);
      vornopt::_permute_args(1, 1 + nonopts, 1 + nonopts + opts, v.data());
      EXPECT_EQ(v, want);
    }
  }
}

}  // namespace
