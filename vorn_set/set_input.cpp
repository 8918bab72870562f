#include "set_input.h"

#include <cstring>

#include "chores.h"

namespace {

// Puts a fixed reason and refuses.
bool refuse(char reason[kReasonSize], const char* why) {
  formatText(reason, kReasonSize, "%s", why);
  return false;
}

// One line of the input (without its newline, terminated in place): skipped,
// or one value taken. False with the reason.
bool takeLine(char* line, size_t len, size_t number, SetValues* values, char reason[kReasonSize]) {
  if (len == 0 || line[0] == '#') return true;
  if (std::memchr(line, '\0', len) != nullptr) return refuse(reason, "NUL byte");
  char* equals = static_cast<char*>(std::memchr(line, '=', len));
  if (equals == nullptr) return refuse(reason, "no \"=\" (NAME=VALUE expected)");
  size_t name_len = static_cast<size_t>(equals - line);
  size_t i = connectionFieldNamed(std::string_view(line, name_len));
  if (i == kConnectionLineCount) {
    // The name goes into a message for a terminal: no byte of it may steer one.
    char shown[33];
    size_t n = 0;
    for (; n < name_len && n < sizeof shown - 1; n++) {
      unsigned char b = static_cast<unsigned char>(line[n]);
      shown[n] = b < 0x20 || b >= 0x7f ? '?' : line[n];
    }
    shown[n] = '\0';
    formatText(reason, kReasonSize, "unknown name \"%s\" (hostname, portno, dbname, username or password)", shown);
    return false;
  }
  if (values->value[i] != nullptr) {
    formatText(reason, kReasonSize, "%s given twice (first on line %zu)", kConnectionLines[i].name, values->line[i]);
    return false;
  }
  values->line[i] = number;
  return takeSetValue(i, equals + 1, values, reason);
}

}  // namespace

bool takeSetValue(size_t i, const char* value, SetValues* values, char reason[kReasonSize]) {
  const ConnectionLine& field = kConnectionLines[i];
  if (field.rule == kPortValue) {
    int port = 0;
    if (!readPort(value, &port)) {
      formatText(reason, kReasonSize, "%s is not a port number from %d to %d", field.name, kMinPort, kMaxPort);
      return false;
    }
    values->value[i] = formatPort(port, values->port);
    return true;
  }
  char line[kLineSize];
  if (value[0] == '\0') {
    formatText(reason, kReasonSize, "%s is empty", field.name);
    return false;
  }
  if (!formatLine(line, sizeof line, field.key, value)) {
    formatText(reason, kReasonSize, "%s is too long (its line holds at most %zu characters)", field.name,
               kLineSize - 1);
    wipe(line, sizeof line);
    return false;
  }
  wipe(line, sizeof line);
  values->value[i] = value;
  return true;
}

bool parseSetInput(char* text, size_t len, SetValues* values, size_t* bad_line, char reason[kReasonSize]) {
  *values = SetValues{};
  size_t number = 0;
  for (size_t at = 0; at < len;) {
    char* nl = static_cast<char*>(std::memchr(text + at, '\n', len - at));
    size_t end = nl != nullptr ? static_cast<size_t>(nl - text) : len;
    number++;
    // The newline becomes the value's terminator; a last line without one
    // needs the byte after the input, which the caller provides.
    text[end] = '\0';
    if (!takeLine(text + at, end - at, number, values, reason)) {
      *bad_line = number;
      return false;
    }
    at = end + 1;
  }
  return true;
}
