// The display of untrusted text: which bytes pass to a terminal as they are, and
// the two forms of those that do not.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display.h"

namespace {

std::string displayed(const std::string& text, DisplayForm form) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  EXPECT_TRUE(putDisplayed(out, text.data(), text.size(), form));
  std::fclose(out);
  std::string result(buffer, size);
  std::free(buffer);
  return result;
}

TEST(Display, ControlsAndBytesOutsideUtf8AreReplacedEachByte) {
  const struct {
    const char* name;
    std::string text, question_marks, hex;  // both empty: the text as it is
  } cases[] = {
      {"ASCII and UTF-8 of two to four bytes, U+00A0 and U+0100 (C4 80)",
       "db-1:3306 ~ pa55 w\xc3\xb6rd \xc2\xa0\xc4\x80 \xe2\x82\xac\xf0\x9f\x98\x80", "", ""},
      {"escape sequence, bell", "\x1b]0;x\a", "?]0;x?", "\\x1b]0;x\\x07"},
      {"NUL, tab, CR, newline, DEL", std::string("a\0\t\r\n\x7f", 6), "a?????", "a\\x00\\x09\\x0d\\x0a\\x7f"},
      {"lone C1 byte (CSI)", "\x9bm", "?m", "\\x9bm"},
      {"C1 controls in UTF-8", "\xc2\x9b\xc2\x80\xc2\x9f", "??????", "\\xc2\\x9b\\xc2\\x80\\xc2\\x9f"},
      {"overlong forms", "\xc0\xaf\xc1\x9b\xe0\x80\xaf", "???????", "\\xc0\\xaf\\xc1\\x9b\\xe0\\x80\\xaf"},
      {"surrogate, beyond U+10FFFF", "\xed\xa0\x80\xf4\x90\x80\x80", "???????", "\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},
      {"sequence broken, cut at the end", "\xe2\x82x\xff\xe2\x82", "??x???", "\\xe2\\x82x\\xff\\xe2\\x82"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(displayed(c.text, kDisplayQuestionMark), c.question_marks.empty() ? c.text : c.question_marks);
    EXPECT_EQ(displayed(c.text, kDisplayHexEscape), c.hex.empty() ? c.text : c.hex);
    // A name for a message, which ends at a NUL byte, is shown the same way.
    if (c.text.find('\0') != std::string::npos) continue;
    EXPECT_EQ(shownName(c.text.c_str(), kDisplayQuestionMark).text,
              c.question_marks.empty() ? c.text : c.question_marks);
    EXPECT_EQ(shownName(c.text.c_str(), kDisplayHexEscape).text, c.hex.empty() ? c.text : c.hex);
  }
}

// The longest path is shown whole even when every byte takes four; a longer
// name is cut, with "..." at the end.
TEST(Display, ShownNamesKeepEveryPathWhole) {
  std::string longest(PATH_MAX - 1, '\x1b'), escaped;
  for (size_t i = 0; i < longest.size(); i++) escaped += "\\x1b";
  EXPECT_EQ(shownName(longest.c_str(), kDisplayHexEscape).text, escaped);
  EXPECT_EQ(shownName((longest + "\x1b").c_str(), kDisplayHexEscape).text, escaped + "...");
}

}  // namespace
