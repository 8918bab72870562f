#include "config_check.h"

#include <cstring>

namespace {

// The places a line can take in a valid text, in file order: AUTH_KEY, the
// connection lines (each optional), then the other fixed lines.
constexpr size_t kPlaces = kFixedLineCount + kConnectionLineCount;
constexpr size_t kFirstConnection = 1;
constexpr size_t kFirstFixedAfter = kFirstConnection + kConnectionLineCount;

// The fixed line at place p, or null for a connection line.
const SettingLine* fixedAt(size_t p) {
  if (p < kFirstConnection) return &kFixedLines[p];
  if (p < kFirstFixedAfter) return nullptr;
  return &kFixedLines[p - kConnectionLineCount];
}

const char* keyAt(size_t p) {
  const SettingLine* fixed = fixedAt(p);
  return fixed != nullptr ? fixed->key : kConnectionLines[p - kFirstConnection].key;
}

// The place of the key of klen bytes at key, or kPlaces when it has none.
size_t placeOf(const char* key, size_t klen) {
  for (size_t p = 0; p < kPlaces; p++) {
    const char* k = keyAt(p);
    if (std::strlen(k) == klen && std::memcmp(k, key, klen) == 0) return p;
  }
  return kPlaces;
}

bool isKeyChar(char c) { return (c >= 'A' && c <= 'Z') || c == '_'; }

bool isBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// A port that the writers accept, as formatPort writes it: readPort's rule,
// and digits alone without a leading zero.
bool isPortNumber(const char* v, size_t n) {
  char text[12];
  char written[12];
  int port = 0;
  if (n >= sizeof text) return false;
  std::memcpy(text, v, n);
  text[n] = '\0';
  return readPort(text, &port) && std::strlen(formatPort(port, written)) == n && std::memcmp(written, v, n) == 0;
}

struct Checker {
  const char* name;
  const char* text;
  size_t len;
  FILE* out;
  int faults;
  ConnectionValues* values;
  size_t seen_on[kPlaces];     // the line of each place's first line, 0 when none yet
  size_t belongs_on[kPlaces];  // for a place passed over, the line where it belongs
  size_t next;                 // the first place that may still follow in order
};

// Counts one fault and starts its line: "NAME:LINE: ", or "NAME: " when line is
// 0. Returns the stream on which the caller ends the line, or null when faults
// are only counted.
FILE* fault(Checker* c, size_t line) {
  c->faults++;
  if (c->out == nullptr) return nullptr;
  if (line == 0) {
    std::fprintf(c->out, "%s: ", c->name);
  } else {
    std::fprintf(c->out, "%s:%zu: ", c->name, line);
  }
  return c->out;
}

// One line of the text, split into its parts.
struct Line {
  size_t number;
  const char* start;
  const char* stop;  // the newline, or the end of the text
  size_t length;     // newline included
  bool ends_line;    // ends with a newline
  const char* key;
  size_t klen;
  const char* value;  // null when the line has none
  size_t vlen;
};

// Checks the value of a connection line by its field's rule.
void checkConnectionValue(Checker* c, const Line& l, const ConnectionLine& field) {
  if (l.value == nullptr) {
    if (FILE* f = fault(c, l.number)) std::fprintf(f, "%s has no value\n", field.key);
  } else if (field.rule == kPortValue && !isPortNumber(l.value, l.vlen)) {
    if (FILE* f = fault(c, l.number))
      std::fprintf(f, "%s value is not a port number from %d to %d\n", field.key, kMinPort, kMaxPort);
  }
}

bool isSecureKey(const char* value, size_t vlen) {
  if (value == nullptr || vlen != 32) return false;
  for (size_t i = 0; i < vlen; i++) {
    if (!isBase64Char(value[i])) return false;
  }
  return true;
}

// Checks the value of the fixed line at place p.
void checkFixedValue(Checker* c, const Line& l, size_t p, const SettingLine& fixed) {
  if (fixed.value == nullptr) {
    if (l.value != nullptr) {
      if (FILE* f = fault(c, l.number)) std::fprintf(f, "%s takes no value\n", fixed.key);
    }
  } else if (p - kConnectionLineCount == kSecureKeyLine) {
    if (!isSecureKey(l.value, l.vlen)) {
      if (FILE* f = fault(c, l.number))
        std::fprintf(f, "SECURE_KEY value is not 32 characters of the base64 alphabet\n");
    }
  } else if (l.value == nullptr || l.vlen != std::strlen(fixed.value) ||
             std::memcmp(l.value, fixed.value, l.vlen) != 0) {
    if (FILE* f = fault(c, l.number)) std::fprintf(f, "%s value is not \"%s\"\n", fixed.key, fixed.value);
  }
}

// Splits a line into its key and value. False, after reporting why, when it is
// no option line at all.
bool splitLine(Checker* c, Line* l) {
  const char* here = l->start;
  const char* stop = l->stop;
  if (stop - here < 3 || here[0] != '"' || here[1] != ' ' || !isKeyChar(here[2])) {
    if (FILE* f = fault(c, l->number)) std::fprintf(f, "not an option line (a double quote, a space and a key)\n");
    return false;
  }
  l->key = here + 2;
  const char* k = l->key;
  while (k < stop && isKeyChar(*k)) k++;
  l->klen = static_cast<size_t>(k - l->key);
  l->value = nullptr;
  l->vlen = 0;
  if (k == stop) return true;
  if (*k != ' ') {
    if (FILE* f = fault(c, l->number))
      std::fprintf(f, "the key is not upper-case letters and underscores followed by a space or the end of the line\n");
    return false;
  }
  l->value = k + 1;
  l->vlen = static_cast<size_t>(stop - l->value);
  if (l->vlen == 0) {
    if (FILE* f = fault(c, l->number)) std::fprintf(f, "a space but no value after the key\n");
    l->value = nullptr;
  }
  return true;
}

// Takes the line's place in the order of the text. False, after reporting it,
// for a repeated line, which is not checked further.
bool takePlace(Checker* c, const Line& l, size_t place) {
  if (c->seen_on[place] != 0) {
    if (FILE* f = fault(c, l.number))
      std::fprintf(f, "%s repeated (first on line %zu)\n", keyAt(place), c->seen_on[place]);
    return false;
  }
  c->seen_on[place] = l.number;
  if (place < c->next) {
    if (FILE* f = fault(c, l.number))
      std::fprintf(f, "%s out of place: it belongs before %s (line %zu)\n", keyAt(place), keyAt(c->next - 1),
                   c->seen_on[c->next - 1]);
    return true;
  }
  for (size_t q = c->next; q < place; q++) c->belongs_on[q] = l.number;
  c->next = place + 1;
  if (place == 0 && l.number != 1) {
    if (FILE* f = fault(c, l.number)) std::fprintf(f, "AUTH_KEY is not the first line\n");
  }
  return true;
}

// A connection line: its value, its length against the scratch line, and where
// its value lies.
void checkConnectionLine(Checker* c, const Line& l, size_t place) {
  size_t i = place - kFirstConnection;
  checkConnectionValue(c, l, kConnectionLines[i]);
  if (l.length > kLineSize - 1) {
    if (FILE* f = fault(c, l.number))
      std::fprintf(f, "%s line longer than %zu characters (%zu)\n", keyAt(place), kLineSize - 1, l.length);
  }
  if (c->values != nullptr) {
    c->values->value[i] = l.value != nullptr ? l.value : l.key + l.klen;
    c->values->length[i] = l.vlen;
  }
}

// Whether a line after the first is an AUTH_KEY line, by its key.
bool authKeyLater(const char* text, size_t len) {
  constexpr char kLine[] = "\n\" AUTH_KEY";
  constexpr size_t kLineLength = sizeof kLine - 1;
  for (size_t at = 0; at + kLineLength <= len; at++) {
    if (std::memcmp(text + at, kLine, kLineLength) != 0) continue;
    size_t after = at + kLineLength;
    if (after == len || text[after] == '\n' || text[after] == ' ') return true;
  }
  return false;
}

// Checks one line: its form, its key's place and its value.
void checkLine(Checker* c, Line* l) {
  if (!l->ends_line) {
    if (FILE* f = fault(c, l->number)) std::fprintf(f, "the last line does not end with a newline\n");
  }
  if (std::memchr(l->start, '\0', static_cast<size_t>(l->stop - l->start)) != nullptr) {
    if (FILE* f = fault(c, l->number)) std::fprintf(f, "NUL byte\n");
  }
  if (!splitLine(c, l)) return;
  size_t place = placeOf(l->key, l->klen);
  if (place == kPlaces) {
    if (FILE* f = fault(c, l->number)) std::fprintf(f, "unknown key %.*s\n", static_cast<int>(l->klen), l->key);
    return;
  }
  // A first line that is another key, with AUTH_KEY further down, is where the
  // text first breaks the format: reported before the line out of place.
  if (l->number == 1 && place != 0 && authKeyLater(c->text, c->len)) {
    if (FILE* f = fault(c, 1)) std::fprintf(f, "the first line is not AUTH_KEY\n");
  }
  if (!takePlace(c, *l, place)) return;
  const SettingLine* fixed = fixedAt(place);
  if (fixed == nullptr) {
    checkConnectionLine(c, *l, place);
  } else {
    checkFixedValue(c, *l, place, *fixed);
  }
}

}  // namespace

int checkConfigText(const char* name, const char* text, size_t len, ConnectionValues* values, FILE* faults) {
  Checker c = {.name = name,
               .text = text,
               .len = len,
               .out = faults,
               .faults = 0,
               .values = values,
               .seen_on = {},
               .belongs_on = {},
               .next = 0};
  if (values != nullptr) *values = ConnectionValues{};
  if (len == 0) {
    if (FILE* f = fault(&c, 0)) std::fprintf(f, "empty text\n");
    return c.faults;
  }
  if (len > kSecretSize - 1) {
    if (FILE* f = fault(&c, 0)) std::fprintf(f, "longer than %zu characters (%zu)\n", kSecretSize - 1, len);
  }

  size_t number = 0;
  const char* end = text + len;
  for (const char* p = text; p < end;) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    Line l = {};
    l.number = ++number;
    l.start = p;
    l.stop = nl != nullptr ? nl : end;
    l.ends_line = nl != nullptr;
    l.length = static_cast<size_t>(l.stop - p) + (l.ends_line ? 1 : 0);
    checkLine(&c, &l);
    p = l.stop + 1;
  }

  // Each fixed line missing is reported where it belongs.
  for (size_t q = 0; q < kPlaces; q++) {
    if (c.seen_on[q] != 0 || fixedAt(q) == nullptr) continue;
    if (FILE* f = fault(&c, c.belongs_on[q] != 0 ? c.belongs_on[q] : number + 1))
      std::fprintf(f, "%s line missing\n", keyAt(q));
  }
  return c.faults;
}
