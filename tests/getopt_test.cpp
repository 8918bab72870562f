// The option parser, call by call: results, optarg, optind, optopt, the messages on
// standard error, and the final order of the argument vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "getopt.h"
#include "getopt_internal.h"

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
const option kKinds[] = {{"opt", 2, nullptr, 21}, {"odd", 3, nullptr, 22}, {"name", 0, nullptr, 23},
                         {nullptr, 0, nullptr, 0}};

struct Step {
  int result;
  const char* optarg;  // expected optarg; nullptr means null
  int optind;
  int optopt;  // expected optopt after the call
  int idx;     // expected long index after the call (-7 when never written)
};

constexpr int kNoIdx = -7;

struct Case {
  const char* name;
  Entry entry;
  const char* options;
  const option* table;
  std::vector<const char*> args;
  std::vector<Step> steps;
  std::vector<const char*> final_args;  // empty: the vector is unchanged
  const char* err;
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

const char* N = nullptr;
constexpr int Q = '?';

const Case kProgramCases[] = {
    {"unique prefix with =value", kLong, kSqlOptions, kSql, {"--host=db1"}, {{'H', "db1", 2, Q, 1}, {-1, N, 2, Q, kNoIdx}}, {}, ""},
    {"prefix takes the next element", kLong, kSqlOptions, kSql, {"--pass", "x"}, {{'p', "x", 3, Q, 4}}, {}, ""},
    {"one-letter unique prefix", kLong, kSqlOptions, kSql, {"--e", "yes"}, {{'e', "yes", 3, Q, 2}}, {}, ""},
    {"ambiguous prefix p", kLong, kSqlOptions, kSql, {"--p", "x"}, {{'?', N, 2, 0, kNoIdx}}, {}, "ambiguous option -- p"},
    {"ambiguous prefix h", kLong, kSqlOptions, kSql, {"--h"}, {{'?', N, 2, 0, kNoIdx}}, {}, "ambiguous option -- h"},
    {"ambiguous prefix with =value", kLong, kSqlOptions, kSql, {"--pa=x"}, {{'p', "x", 2, Q, 4}}, {}, ""},
    {"value given to help", kLong, kSqlOptions, kSql, {"--help=x"}, {{'?', N, 2, 'h', kNoIdx}}, {},
     "option doesn't take an argument -- help"},
    {"required argument missing at the end", kLong, kSqlOptions, kSql, {"--hostname"}, {{'?', N, 2, 'H', kNoIdx}}, {},
     "option requires an argument -- hostname"},
    {"required argument taken whatever it is", kLong, kSqlOptions, kSql, {"--hostname", "--username=u"},
     {{'H', "--username=u", 3, Q, 1}, {-1, N, 3, Q, kNoIdx}}, {}, ""},
    {"empty =value is an argument", kLong, kSqlOptions, kSql, {"--hostname="}, {{'H', "", 2, Q, 1}}, {}, ""},
    {"short option missing its argument", kLong, kSqlOptions, kSql, {"-H"}, {{'?', N, 2, 'H', kNoIdx}}, {},
     "option requires an argument -- H"},
    {"short option takes a dash element", kLong, kSqlOptions, kSql, {"-H", "-u"}, {{'H', "-u", 3, Q, kNoIdx}}, {}, ""},
    {"attached short argument", kLong, kSqlOptions, kSql, {"-Hdb1"}, {{'H', "db1", 2, Q, kNoIdx}}, {}, ""},
    {"cluster with an unknown letter", kLong, kSqlOptions, kSql, {"-wx"},
     {{'w', N, 1, Q, kNoIdx}, {'?', N, 2, 'x', kNoIdx}, {-1, N, 2, 'x', kNoIdx}}, {}, "unknown option -- x"},
    {"unknown letter first in a cluster", kLong, kSqlOptions, kSql, {"-xw"},
     {{'?', N, 1, 'x', kNoIdx}, {'w', N, 2, 'x', kNoIdx}}, {}, "unknown option -- x"},
    {"operand first stops the scan", kLong, kSqlOptions, kSql, {"x", "-w"}, {{-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"unknown long option keeps its =value", kLong, kSqlOptions, kSql, {"--zz=1"}, {{'?', N, 2, 0, kNoIdx}}, {},
     "unknown option -- zz=1"},
    {"empty long name is ambiguous", kLong, kSqlOptions, kSql, {"--=x"}, {{'?', N, 2, 0, kNoIdx}}, {},
     "ambiguous option -- "},
    {"trailing dash in a cluster is a long option", kLong, kSqlOptions, kSql, {"-w-"},
     {{'w', N, 1, Q, kNoIdx}, {'?', N, 2, 0, kNoIdx}}, {}, "ambiguous option -- "},
    {"no options at all", kLong, kSqlOptions, kSql, {"a", "b"}, {{-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"empty vector", kLong, kSqlOptions, kSql, {}, {{-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"two dashes end the options", kLong, kSqlOptions, kSql, {"-w", "--", "-H"},
     {{'w', N, 2, Q, kNoIdx}, {-1, N, 3, Q, kNoIdx}}, {}, ""},
    {"exact name beats later prefixes", kLong, kSqlOptions, kSql, {"--help"}, {{'h', N, 2, Q, 0}}, {}, ""},
    {"help takes an argument as a short option", kLong, kSqlOptions, kSql, {"-hx"}, {{'h', "x", 2, Q, kNoIdx}}, {}, ""},
    {"lone dash is an operand", kLong, kSqlOptions, kSql, {"-"}, {{-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"colon is never an option", kLong, kSqlOptions, kSql, {"-:"}, {{'?', N, 2, ':', kNoIdx}}, {}, "unknown option -- :"},
};

TEST(OptionParser, ProgramOptionString) {
  for (const Case& c : kProgramCases) runCase(c);
}

const option kW[] = {{"hostname", 1, nullptr, 'H'}, {"help", 0, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
int flag_target = 0;
const option kFlag[] = {{"alpha", 0, nullptr, 'a'}, {"beta", 0, &flag_target, 77}, {"gamma", 1, &flag_target, 78},
                        {nullptr, 0, nullptr, 0}};

const Case kModeCases[] = {
    {"permute moves operands behind options", kLong, "xy", kSql, {"one", "-x", "two", "-y", "three"},
     {{'x', N, 3, Q, kNoIdx}, {'y', N, 5, Q, kNoIdx}, {-1, N, 3, Q, kNoIdx}}, {"-x", "-y", "one", "two", "three"}, ""},
    {"permute stops at two dashes", kLong, "xy", kSql, {"one", "-x", "two", "--", "-y", "three"},
     {{'x', N, 3, Q, kNoIdx}, {-1, N, 3, Q, kNoIdx}}, {"-x", "--", "one", "two", "-y", "three"}, ""},
    {"permute with operands only", kLong, "xy", kSql, {"one", "two"}, {{-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"permute with trailing operands", kLong, "xy", kSql, {"-x", "one", "two"},
     {{'x', N, 2, Q, kNoIdx}, {-1, N, 2, Q, kNoIdx}}, {}, ""},
    {"permute moves an option argument with its option", kLong, "a:", kSql, {"one", "-a", "v", "two"},
     {{'a', "v", 4, Q, kNoIdx}, {-1, N, 3, Q, kNoIdx}}, {"-a", "v", "one", "two"}, ""},
    {"permute unequal blocks", kLong, "abc", kSql, {"o1", "o2", "o3", "-a", "-b", "o4", "-c"},
     {{'a', N, 5, Q, kNoIdx}, {'b', N, 6, Q, kNoIdx}, {'c', N, 8, Q, kNoIdx}, {-1, N, 4, Q, kNoIdx}},
     {"-a", "-b", "-c", "o1", "o2", "o3", "o4"}, ""},
    {"in order returns operands as code 1", kLong, "-xy", kSql, {"one", "-x", "two", "-y", "three"},
     {{1, "one", 2, Q, kNoIdx}, {'x', N, 3, Q, kNoIdx}, {1, "two", 4, Q, kNoIdx}, {'y', N, 5, Q, kNoIdx},
      {1, "three", 6, Q, kNoIdx}, {-1, N, 6, Q, kNoIdx}}, {}, ""},
    {"short entry does not permute", kShort, "xy", nullptr, {"one", "-x"}, {{-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"short entry in order", kShort, "-x", nullptr, {"one", "-x"}, {{1, "one", 2, Q, kNoIdx}, {'x', N, 3, Q, kNoIdx}},
     {}, ""},
    {"lone dash moves behind the options", kLong, "x", kSql, {"-", "-x"}, {{'x', N, 3, Q, kNoIdx}, {-1, N, 2, Q, kNoIdx}},
     {"-x", "-"}, ""},
    {"lone dash as an option", kLong, "x-", kSql, {"-", "-x"}, {{'-', N, 2, Q, kNoIdx}, {'x', N, 3, Q, kNoIdx}}, {}, ""},
    {"trailing dash that is no option ends the scan", kShort, "a", nullptr, {"-a-"},
     {{'a', N, 1, Q, kNoIdx}, {-1, N, 1, Q, kNoIdx}}, {}, ""},
    {"silent missing argument", kShort, ":x:", nullptr, {"-x"}, {{':', N, 2, 'x', kNoIdx}}, {}, ""},
    {"silent unknown option", kShort, ":x:", nullptr, {"-q"}, {{'?', N, 2, 'q', kNoIdx}}, {}, ""},
    {"silent behind a mode prefix", kLong, "+:x:", kSql, {"-x"}, {{':', N, 2, 'x', kNoIdx}}, {}, ""},
    {"colon after a mode prefix only", kShort, ":+x:", nullptr, {"-+"}, {{'+', N, 2, Q, kNoIdx}}, {}, ""},
    {"optional argument attached", kShort, "x::", nullptr, {"-xv"}, {{'x', "v", 2, Q, kNoIdx}}, {}, ""},
    {"optional argument not taken from the next element", kShort, "x::", nullptr, {"-x", "v"},
     {{'x', N, 2, Q, kNoIdx}, {-1, N, 2, Q, kNoIdx}}, {}, ""},
    {"W escape, separate element", kLong, "W;", kW, {"-W", "hostname=a"}, {{'H', "a", 3, Q, 0}}, {}, ""},
    {"W escape, attached prefix", kLong, "W;", kW, {"-Whost=b"}, {{'H', "b", 2, Q, 0}}, {}, ""},
    {"W escape takes the next element as argument", kLong, "W;", kW, {"-Whostname", "v"}, {{'H', "v", 3, Q, 0}}, {}, ""},
    {"W escape at the end", kLong, "W;", kW, {"-W"}, {{'?', N, 2, 'W', kNoIdx}}, {}, "option requires an argument -- W"},
    {"W escape at the end, silent", kLong, ":W;", kW, {"-W"}, {{':', N, 2, 'W', kNoIdx}}, {}, ""},
    {"W without a table is a plain option", kShort, "W;", nullptr, {"-W", "x"}, {{'W', N, 2, Q, kNoIdx}}, {}, ""},
    {"semicolon is an option character", kShort, "W;", nullptr, {"-;"}, {{';', N, 2, Q, kNoIdx}}, {}, ""},
    {"long only: one letter defers to the short option", kLongOnly, "h", kHelpHost, {"-h"}, {{'h', N, 2, Q, kNoIdx}},
     {}, ""},
    {"long only: prefix", kLongOnly, "h", kHelpHost, {"-ho", "x"}, {{1002, "x", 3, Q, 1}}, {}, ""},
    {"long only: whole name", kLongOnly, "h", kHelpHost, {"-help"}, {{1001, N, 2, Q, 0}}, {}, ""},
    {"long only: unknown name", kLongOnly, "h", kHelpHost, {"-zz"}, {{'?', N, 2, 0, kNoIdx}}, {}, "unknown option -- zz"},
    {"long only: two-letter prefix", kLongOnly, "h", kHelpHost, {"-he"}, {{1001, N, 2, Q, 0}}, {}, ""},
    {"long only: one letter that is no short option", kLongOnly, "x", kHelpHost, {"-h"}, {{'?', N, 2, 0, kNoIdx}}, {},
     "ambiguous option -- h"},
    {"long only: unmatched short cluster read as short options", kLongOnly, "xy", kHelpHost, {"-xy"},
     {{'x', N, 1, Q, kNoIdx}, {'y', N, 2, Q, kNoIdx}}, {}, ""},
    {"long name after a short option in a cluster", kLong, "a", kKinds, {"-a-name"},
     {{'a', N, 1, Q, kNoIdx}, {23, N, 2, Q, 2}}, {}, ""},
    {"two prefix matches hide a later exact one", kLong, "", kHostLast, {"--host=a"}, {{'?', N, 2, 0, kNoIdx}}, {},
     "ambiguous option -- host"},
    {"exact match first", kLong, "", kHostFirst, {"--host=a"}, {{13, "a", 2, Q, 0}}, {}, ""},
    {"flag entry stores val and returns 0", kLong, "", kFlag, {"--beta"}, {{0, N, 2, Q, 1}}, {}, ""},
    {"flag entry: =value refused with optopt 0", kLong, "", kFlag, {"--beta=1"}, {{'?', N, 2, 0, kNoIdx}}, {},
     "option doesn't take an argument -- beta"},
    {"flag entry: missing argument with optopt 0", kLong, ":", kFlag, {"--gamma"}, {{':', N, 2, 0, kNoIdx}}, {}, ""},
    {"silent =value refusal", kLong, ":", kFlag, {"--alpha=1"}, {{':', N, 2, 'a', kNoIdx}}, {}, ""},
    {"silent ambiguity is still 63", kLong, ":", kHostLast, {"--ho"}, {{'?', N, 2, 0, kNoIdx}}, {}, ""},
    {"optional long argument", kLong, "", kKinds, {"--opt", "v", "--opt=w"},
     {{21, N, 2, Q, 0}, {21, "w", 4, Q, 0}, {-1, N, 3, Q, kNoIdx}}, {"--opt", "--opt=w", "v"}, ""},
    {"unknown argument kind ignores =value", kLong, "", kKinds, {"--odd=v"}, {{22, N, 2, Q, 1}}, {}, ""},
    {"signed option characters", kShort, "\xe9", nullptr, {"-\xe9\xfa"},
     {{-23, N, 1, Q, kNoIdx}, {'?', N, 2, -6, kNoIdx}}, {}, "unknown option -- \xfa"},
};

TEST(OptionParser, Modes) {
  for (const Case& c : kModeCases) runCase(c);
}

TEST(OptionParser, OptErrZeroSilencesEveryMessage) {
  resetParser();
  vornopt::opterr = 0;
  char* argv[] = {const_cast<char*>("prog"), const_cast<char*>("-x"), const_cast<char*>("--p"),
                  const_cast<char*>("-H"), nullptr};
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

TEST(OptionParser, GcdByEuclid) {
  const int cases[][3] = {{1, 1, 1}, {4, 6, 2}, {6, 4, 2}, {9, 3, 3}, {3, 9, 3}, {7, 5, 1}, {12, 18, 6}};
  for (const auto& c : cases) EXPECT_EQ(vornopt::_gcd(c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

// Random vectors from a small alphabet of elements through the three entry points:
// the scan ends, optind stays in range, the vector stays a permutation of itself,
// and optarg is null after every failure.
TEST(OptionParser, RandomVectorsKeepTheInvariants) {
  const char* pieces[] = {"-a", "-b", "-bv", "-c", "-cv", "-ab", "-x", "--", "-", "op1", "op2", "--alpha",
                          "--beta=v", "--beta", "--gam", "--g", "--zeta", "-W", "-Walpha", "--alpha=1", "-a-b",
                          "---", "-:", "-=", "--=", "-\xff"};
  const char* strings[] = {"ab:c::W;", "+ab:c::", "-ab:c::", ":ab:c::-", "+:b:", "", "W;-"};
  const option table[] = {{"alpha", 0, nullptr, 'A'}, {"beta", 1, nullptr, 'B'}, {"gamma", 2, nullptr, 'G'},
                          {"gam2", 1, &flag_target, 9}, {nullptr, 0, nullptr, 0}};
  unsigned seed = static_cast<unsigned>(std::random_device{}());
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  testing::internal::CaptureStderr();
  for (int round = 0; round < 3000; round++) {
    int n = static_cast<int>(rng() % 8);
    std::vector<char*> argv{const_cast<char*>("prog")};
    for (int i = 0; i < n; i++) argv.push_back(const_cast<char*>(pieces[rng() % std::size(pieces)]));
    argv.push_back(nullptr);
    std::vector<char*> before = argv;
    const char* opts = strings[rng() % std::size(strings)];
    Entry entry = static_cast<Entry>(rng() % 3);
    resetParser(static_cast<int>(rng() % 2));
    int argc = n + 1;
    // Each call consumes at least one character or element.
    int bound = argc + 2;
    for (int i = 1; i < argc; i++) bound += static_cast<int>(std::strlen(argv[i]));
    for (int calls = 0;; calls++) {
      if (calls >= bound) {
        std::string v;
        for (int i = 1; i < argc; i++) v += std::string(" ") + before[i];
        FAIL() << "the scan does not end: entry " << entry << " options '" << opts << "' vector" << v;
      }
      int idx = -1;
      int r = call(entry, argc, argv.data(), opts, table, &idx);
      ASSERT_GE(vornopt::optind, 1);
      ASSERT_LE(vornopt::optind, argc);
      if (r == '?' || r == ':') {
        ASSERT_EQ(vornopt::optarg, nullptr);
      }
      if (r == -1) break;
    }
    ASSERT_EQ(argv[0], before[0]);
    ASSERT_EQ(argv[argc], nullptr);
    std::vector<char*> a(argv.begin(), argv.end()), b(before.begin(), before.end());
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    ASSERT_EQ(a, b) << "not a permutation";
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace
