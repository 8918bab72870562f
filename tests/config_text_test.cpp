// Assembling the configuration text: insertion after the first line with its
// size limit, and the one-character yes/no answers. The fixed lines are checked
// byte for byte in the files that vorn_sql writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config_text.h"
#include "test_support.h"

namespace {

TEST(ConfigText, EachInsertionLandsAfterTheFirstLine) {
  char buf[64] = "\" AUTH_KEY\n\" LAST\n";
  ASSERT_EQ(addOption(buf, sizeof buf, "\" ONE 1\n"), buf);
  ASSERT_EQ(addOption(buf, sizeof buf, "\" TWO 2\n"), buf);
  EXPECT_STREQ(buf, "\" AUTH_KEY\n\" TWO 2\n\" ONE 1\n\" LAST\n");
}

// The text plus the line must leave room for the terminator; a refusal changes nothing.
TEST(ConfigText, InsertionRespectsTheAreaExactly) {
  struct Case {
    const char* name;
    size_t nbuf;
    bool fits;
  };
  const char start[] = "\" A\nrest\n";  // 9 characters
  const char line[] = "\" B x\n";       // 6 characters
  const Case cases[] = {{"one byte to spare", 17, true},
                        {"exactly full", 16, true},
                        {"one byte short", 15, false},
                        {"area smaller than the text", 5, false},
                        {"empty area", 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    std::memcpy(buf, start, sizeof start);
    char* got = addOption(buf, c.nbuf, line);
    if (c.fits) {
      EXPECT_EQ(got, buf);
      EXPECT_STREQ(buf, "\" A\n\" B x\nrest\n");
      EXPECT_EQ(buf[16], '#') << "written past the text";
    } else {
      EXPECT_EQ(got, nullptr);
      EXPECT_STREQ(buf, start);
      EXPECT_EQ(buf[sizeof start], '#');
    }
  }
}

TEST(ConfigText, InsertionNeedsANewline) {
  char buf[32] = "no newline";
  EXPECT_EQ(addOption(buf, sizeof buf, "\" X\n"), nullptr);
  EXPECT_STREQ(buf, "no newline");
}

// Standard input replaced by a file holding the answers; what was asked is captured.
class Answers : public testsupport::InTempDir {
 protected:
  void TearDown() override {
    if (std::freopen("/dev/null", "r", stdin) == nullptr) ADD_FAILURE() << "stdin not restored";
    InTempDir::TearDown();
  }
  void feed(const std::string& input) {
    ASSERT_TRUE(testsupport::writeFile(path("in"), input));
    ASSERT_NE(std::freopen(path("in").c_str(), "r", stdin), nullptr);
  }
};

TEST_F(Answers, OneCharacterDecides) {
  struct Case {
    const char* input;
    int want;
  };
  const Case cases[] = {{"y", 1}, {"Y\n", 1}, {"  \n y", 1}, {"\r\ry", 1}, {"n", 0},  {"x", 0},
                        {"", 0},  {"\ty", 0}, {"yes", 1},    {"Yes", 1},   {"no", 0}, {"  \n", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    feed(c.input);
    testing::internal::CaptureStdout();
    int got = maybe("Question?");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nQuestion? (y/n) ");
    EXPECT_EQ(got != 0, c.want != 0);
  }
}

// "yes" answers three questions: y, then e and s (both no); the newline is skipped next.
TEST_F(Answers, CharactersAfterAnAnswerAnswerTheNextQuestions) {
  feed("yes\ny");
  testing::internal::CaptureStdout();
  EXPECT_NE(maybe("a"), 0);
  EXPECT_EQ(maybe("b"), 0);
  EXPECT_EQ(maybe("c"), 0);
  EXPECT_NE(maybe("d"), 0);
  EXPECT_EQ(maybe("e"), 0) << "end of input is no";
  testing::internal::GetCapturedStdout();
}

TEST_F(Answers, MaybeAddOptionAddsOnlyOnYes) {
  feed("ny");
  char buf[64] = "\" AUTH_KEY\n";
  testing::internal::CaptureStdout();
  EXPECT_EQ(maybeAddOption("q1", buf, sizeof buf, "\" ONE\n"), buf);
  EXPECT_STREQ(buf, "\" AUTH_KEY\n");
  EXPECT_EQ(maybeAddOption("q2", buf, sizeof buf, "\" TWO\n"), buf);
  EXPECT_STREQ(buf, "\" AUTH_KEY\n\" TWO\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nq1 (y/n) \nq2 (y/n) ");
}

TEST_F(Answers, AcceptedLineThatDoesNotFitIsRefused) {
  feed("y");
  char buf[16] = "\" AUTH_KEY\n";  // 11 characters: 4 left for a line
  testing::internal::CaptureStdout();
  EXPECT_EQ(maybeAddOption("q", buf, sizeof buf, "\" LONG\n"), nullptr);
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(buf, "\" AUTH_KEY\n");
}

}  // namespace
