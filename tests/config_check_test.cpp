// The checker in-process: each broken text with the exact report it gives, line
// by line, and where a valid text's connection values lie.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config_check.h"
#include "test_support.h"

namespace {

const std::string kDefaults =
    testsupport::configText({"\" HOSTNAME localhost\n", "\" USERNAME yelto\n", "\" PASSWORD mekvisa\n",
                             "\" DBNAME quordexDB\n", "\" PORTNO 3306\n"});
const std::string kMinimal = testsupport::configText({});

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The faults that checking text as "conf" reports, and their count.
std::string faultsOf(const std::string& text, int* count, ConnectionValues* values = nullptr) {
  char* out = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&out, &size);
  *count = checkConfigText("conf", text.data(), text.size(), values, f);
  std::fclose(f);
  std::string report(out, size);
  std::free(out);
  return report;
}

TEST(ConfigCheck, ReportsEachFaultWithItsLine) {
  const std::string host67 = "\" HOSTNAME " + std::string(67, 'h') + "\n";
  const struct {
    const char* name;
    std::string text;
    const char* report;
  } cases[] = {
      {"every default", kDefaults, ""},
      {"fixed lines only", kMinimal, ""},
      {"79-character host line", replaced(kMinimal, "Y\n", "Y\n" + host67), ""},
      {"80-character host line", replaced(kMinimal, "Y\n", "Y\n\" HOSTNAME " + std::string(68, 'h') + "\n"),
       "conf:2: HOSTNAME line longer than 79 characters (80)\n"},
      {"longer than 315", replaced(kDefaults, "mekvisa", "mekvisa" + std::string(16, 'x')),
       "conf: longer than 315 characters (316)\n"},
      {"empty", "", "conf: empty text\n"},
      {"no newline at the end", kDefaults.substr(0, kDefaults.size() - 1),
       "conf:15: the last line does not end with a newline\n"},
      {"NUL byte in a value", replaced(kDefaults, "mekvisa", std::string("mek\0isa", 7)), "conf:4: NUL byte\n"},
      {"blank line", replaced(kDefaults, "\" ACL_TYPE", "\n\" ACL_TYPE"),
       "conf:11: not an option line (a double quote, a space and a key)\n"},
      {"lower-case key", replaced(kDefaults, "USERNAME", "username"),
       "conf:3: not an option line (a double quote, a space and a key)\n"},
      {"key followed by neither a space nor the end", replaced(kDefaults, "ACL_TYPE deny", "ACL_TYPE!deny"),
       "conf:11: the key is not upper-case letters and underscores followed by a space or the end of the line\n"
       "conf:12: ACL_TYPE line missing\n"},
      {"space without a value", replaced(kDefaults, "quordexDB", ""),
       "conf:5: a space but no value after the key\nconf:5: DBNAME has no value\n"},
      {"connection line without a value", replaced(kDefaults, "USERNAME yelto", "USERNAME"),
       "conf:3: USERNAME has no value\n"},
      {"value on AUTH_KEY", replaced(kDefaults, "AUTH_KEY", "AUTH_KEY x"), "conf:1: AUTH_KEY takes no value\n"},
      {"unknown key", replaced(kDefaults, "\" ACL_TYPE", "\" COLOR red\n\" ACL_TYPE"), "conf:11: unknown key COLOR\n"},
      {"repeated line", replaced(kDefaults, "\" USERNAME", "\" HOSTNAME x\n\" USERNAME"),
       "conf:3: HOSTNAME repeated (first on line 2)\n"},
      {"line moved to the end", replaced(kDefaults, "\" HOSTNAME localhost\n", "") + "\" HOSTNAME localhost\n",
       "conf:15: HOSTNAME out of place: it belongs before DETECT_YN (line 14)\n"},
      // The first line that vorn_sql cannot have written is reported first.
      {"AUTH_KEY second",
       replaced(kDefaults, "\" AUTH_KEY\n\" HOSTNAME localhost\n", "\" HOSTNAME localhost\n\" AUTH_KEY\n"),
       "conf:1: the first line is not AUTH_KEY\n"
       "conf:2: AUTH_KEY out of place: it belongs before HOSTNAME (line 1)\n"},
      {"AUTH_KEY after a line that is none", "x\n" + kMinimal,
       "conf:1: not an option line (a double quote, a space and a key)\nconf:2: AUTH_KEY is not the first line\n"},
      {"AUTH_KEY missing", kMinimal.substr(11), "conf:1: AUTH_KEY line missing\n"},
      {"port below 3306", replaced(kDefaults, "3306", "3305"),
       "conf:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      {"port with a leading zero", replaced(kDefaults, "3306", "03306"),
       "conf:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      {"port with a sign", replaced(kDefaults, "3306", "+3306"),
       "conf:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      {"port after a tab", replaced(kDefaults, "3306", "\t3306"),
       "conf:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      {"port beyond 2147483647", replaced(kDefaults, "3306", "2147483648"),
       "conf:6: PORTNO value is not a port number from 3306 to 2147483647\n"},
      {"largest port", replaced(kDefaults, "3306", "2147483647"), ""},
      {"fixed line with another value", replaced(kDefaults, "3 30", "3 31"),
       "conf:7: RATE_LIMIT value is not \"3 30\"\n"},
      {"fixed line without its value", replaced(kDefaults, "DETECT_YN n", "DETECT_YN"),
       "conf:15: DETECT_YN value is not \"n\"\n"},
      {"secure key outside base64", replaced(kDefaults, "Vq7Z", "Vq7!"),
       "conf:10: SECURE_KEY value is not 32 characters of the base64 alphabet\n"},
      {"secure key of 31 characters", replaced(kDefaults, "Vq7Z", "Vq7"),
       "conf:10: SECURE_KEY value is not 32 characters of the base64 alphabet\n"},
      {"another secure key", replaced(kDefaults, "Vq7Z", "ABCD"), ""},
      {"missing fixed line", replaced(kDefaults, "\" CYCLE_TIME 30\n", ""), "conf:9: CYCLE_TIME line missing\n"},
      {"missing last line", replaced(kDefaults, "\" DETECT_YN n\n", ""), "conf:15: DETECT_YN line missing\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int count = -1;
    std::string report = faultsOf(c.text, &count);
    EXPECT_EQ(report, c.report);
    int lines = 0;
    for (char ch : report) lines += ch == '\n';
    EXPECT_EQ(count, lines);
  }
}

TEST(ConfigCheck, FindsTheConnectionValues) {
  int count = -1;
  ConnectionValues values;
  const std::string text = replaced(kDefaults, "\" DBNAME quordexDB\n", "");
  ASSERT_EQ(faultsOf(text, &count, &values), "");
  const char* want[kConnectionLineCount] = {"localhost", "yelto", "mekvisa", nullptr, "3306"};
  for (size_t i = 0; i < kConnectionLineCount; i++) {
    SCOPED_TRACE(kConnectionLines[i].key);
    if (want[i] == nullptr) {
      EXPECT_EQ(values.value[i], nullptr);
    } else {
      ASSERT_NE(values.value[i], nullptr);
      EXPECT_EQ(std::string(values.value[i], values.length[i]), want[i]);
    }
  }
}

}  // namespace
