// The configuration text: a NUL-terminated run of option lines ("\" KEY value\n")
// held in a fixed area, the tables that say which lines it holds, and the
// operations that assemble it. The writer builds its text from these tables and
// a reader checks a text against the same ones.
#pragma once

#include <climits>
#include <cstddef>
#include <string_view>

// Size of the configuration text area, terminator included.
constexpr size_t kSecretSize = 316;
// Size of the scratch area in which one connection line is formatted.
constexpr size_t kLineSize = 80;
// Length of the ten fixed lines every text starts with.
constexpr size_t kFixedSettingsLength = 210;

// One line of the text: "\" KEY\n" when value is null, else "\" KEY value\n".
struct SettingLine {
  const char* key;
  const char* value;
};

// The fixed lines in file order. The connection lines go between the first of
// them (AUTH_KEY) and the second.
constexpr size_t kFixedLineCount = 10;
extern const SettingLine kFixedLines[kFixedLineCount];
// The index of the fixed line whose value is the product's secure key: 32
// characters of the base64 alphabet.
constexpr size_t kSecureKeyLine = 4;

// How a connection value is checked.
enum ValueRule : unsigned char {
  kTextValue,  // not empty, on one line, its line fitting a kLineSize scratch line
  kPortValue,  // readPort's rule
};

// One connection field, all that the writers, the checker and vorn_dbcheck know
// of it.
struct ConnectionLine {
  const char* key;            // its line's key
  const char* name;           // vorn_sql's long option, vorn_set's name, the word of vorn_sql's messages
  const char* question;       // asked when its value is not given
  const char* default_value;  // written when the answer is yes
  char letter;                // vorn_sql's option letter
  ValueRule rule;             // the rule of its value
};

// The connection fields, in file order: each indexes kConnectionLines.
enum ConnectionField : size_t { kHostField, kUserField, kPasswordField, kDbField, kPortField };
constexpr size_t kConnectionLineCount = 5;

// The connection lines in file order (HOSTNAME first, PORTNO last). Each is
// inserted directly after the first line, so they are added in reverse order.
inline constexpr ConnectionLine kConnectionLines[kConnectionLineCount] = {
    {.key = "HOSTNAME",
     .name = "hostname",
     .question = "If you do not specify Hostname or IP address, MariaDB server will not work properly.",
     .default_value = "localhost",
     .letter = 'H',
     .rule = kTextValue},
    {.key = "USERNAME",
     .name = "username",
     .question = "If you do not specify username, MariaDB server will not work properly.",
     .default_value = "yelto",
     .letter = 'u',
     .rule = kTextValue},
    {.key = "PASSWORD",
     .name = "password",
     .question = "If you do not specify passwd, MariaDB server will not work properly.",
     .default_value = "mekvisa",
     .letter = 'p',
     .rule = kTextValue},
    {.key = "DBNAME",
     .name = "dbname",
     .question = "If you do not specify dbname, MariaDB server will not work properly.",
     .default_value = "quordexDB",
     .letter = 'd',
     .rule = kTextValue},
    {.key = "PORTNO",
     .name = "portno",
     .question = "If you do not specify portno, MariaDB server will not work properly.",
     .default_value = "3306",
     .letter = 'P',
     .rule = kPortValue},
};

// The field called name; kConnectionLineCount for none.
constexpr size_t connectionFieldNamed(std::string_view name) {
  size_t i = 0;
  while (i < kConnectionLineCount && kConnectionLines[i].name != name) i++;
  return i;
}

// The field of vorn_sql's option letter; kConnectionLineCount for none.
constexpr size_t connectionFieldWithLetter(int letter) {
  size_t i = 0;
  while (i < kConnectionLineCount && kConnectionLines[i].letter != letter) i++;
  return i;
}

// Each field is the table's entry that its name says.
static_assert(connectionFieldNamed("hostname") == kHostField && connectionFieldNamed("username") == kUserField &&
              connectionFieldNamed("password") == kPasswordField && connectionFieldNamed("dbname") == kDbField &&
              connectionFieldNamed("portno") == kPortField);

// Writes the ten fixed lines into secret (at least kSecretSize bytes), replacing
// whatever it held.
void buildFixedSettings(char* secret);

// Writes "\" KEY value\n" into line (size bytes) and returns true; returns false
// when the line and its terminator do not fit.
bool formatLine(char* line, size_t size, const char* key, const char* value);

// Inserts the line option directly after the first newline of buf and returns buf.
// Returns null and leaves buf unchanged when the result and its terminator would
// not fit in nbuf bytes, or when buf holds no newline.
char* addOption(char* buf, size_t nbuf, const char* option);

// Asks msg as a yes/no question on standard output and reads the answer, one
// character, from standard input: non-zero for yes, 0 for no.
int maybe(const char* msg);

// Asks msg and, on yes, inserts option as addOption does. Returns buf, or null
// when a line that was accepted does not fit (buf is then unchanged).
char* maybeAddOption(const char* msg, char* buf, size_t nbuf, const char* option);

// Reads one answer from standard input: spaces, carriage returns and newlines are
// skipped, and the first other character decides ('y' or 'Y' is yes; anything
// else, end of input included, is no).
bool readAnswer();

// The ports a PORTNO line may hold.
constexpr int kMinPort = 3306;
constexpr int kMaxPort = INT_MAX;

// Reads text as the standard base-10 conversion into a signed 32-bit value does:
// leading white space (of the C locale) and a sign are allowed, at least one
// digit must follow and nothing after the digits. False when it does not read
// or the value is outside the 32-bit range; *port is then untouched.
bool parsePort(const char* text, int* port);

// The port rule of every writer and of the checker: text reads as parsePort
// reads it, from kMinPort to kMaxPort. False otherwise; *port is then
// untouched. (A file holds the port as formatPort writes it.)
bool readPort(const char* text, int* port);

// Writes value (positive) as "%d" would into port (at least 12 bytes); returns port.
const char* formatPort(int value, char* port);

// What becomes of a connection line whose value was not given: maybeAddOption
// asks its question; a caller that decides without asking passes its own.
// Returns buf, or null when a line that was to go in does not fit.
using DefaultOffer = char* (*)(const char* question, char* buf, size_t nbuf, const char* option);

// Adds the connection lines to secret (kSecretSize bytes): entry i of values
// (file order, as kConnectionLines) formatted into its line when given, else its
// default line handed to offer. Returns kConnectionLineCount when every line
// went in, else the index of the first that did not fit (the text then holds
// the lines added before it).
size_t addConnectionLines(char* secret, const char* const values[kConnectionLineCount], DefaultOffer offer);
