#include "config_check.h"

#include <cstdarg>
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

// A port as "%d" prints it: digits without a sign or leading zero, from 3306 to
// 2147483647.
bool isPortNumber(const char* v, size_t n) {
  if (n == 0 || n > 10 || v[0] == '0') return false;
  unsigned long long port = 0;
  for (size_t i = 0; i < n; i++) {
    if (v[i] < '0' || v[i] > '9') return false;
    port = port * 10 + static_cast<unsigned>(v[i] - '0');
  }
  return port >= 3306 && port <= 2147483647ULL;
}

struct Checker {
  const char* name;
  FILE* out;
  int faults;
};

// Reports one fault: "NAME:LINE: message", or "NAME: message" when line is 0.
__attribute__((format(printf, 3, 4))) void fault(Checker* c, size_t line, const char* format, ...) {
  c->faults++;
  if (c->out == nullptr) return;
  if (line == 0) {
    std::fprintf(c->out, "%s: ", c->name);
  } else {
    std::fprintf(c->out, "%s:%zu: ", c->name, line);
  }
  va_list args;
  va_start(args, format);
  std::vfprintf(c->out, format, args);
  va_end(args);
  std::fputc('\n', c->out);
}

// Checks the value (null when the line has none) of the line at place p.
void checkValue(Checker* c, size_t line, size_t p, const char* value, size_t vlen) {
  const char* key = keyAt(p);
  const SettingLine* fixed = fixedAt(p);
  if (fixed == nullptr) {
    if (value == nullptr) {
      fault(c, line, "%s has no value", key);
    } else if (std::strcmp(key, "PORTNO") == 0 && !isPortNumber(value, vlen)) {
      fault(c, line, "PORTNO value is not a port number from 3306 to 2147483647");
    }
  } else if (fixed->value == nullptr) {
    if (value != nullptr) fault(c, line, "%s takes no value", key);
  } else if (p - kConnectionLineCount == kSecureKeyLine) {
    bool base64 = value != nullptr && vlen == 32;
    for (size_t i = 0; base64 && i < vlen; i++) base64 = isBase64Char(value[i]);
    if (!base64) fault(c, line, "SECURE_KEY value is not 32 characters of the base64 alphabet");
  } else if (value == nullptr || vlen != std::strlen(fixed->value) || std::memcmp(value, fixed->value, vlen) != 0) {
    fault(c, line, "%s value is not \"%s\"", key, fixed->value);
  }
}

}  // namespace

int checkConfigText(const char* name, const char* text, size_t len, ConnectionValues* values, FILE* faults) {
  Checker c = {.name = name, .out = faults, .faults = 0};
  if (values != nullptr) *values = ConnectionValues{};
  if (len == 0) {
    fault(&c, 0, "empty text");
    return c.faults;
  }
  if (len > kSecretSize - 1) fault(&c, 0, "longer than %zu characters (%zu)", kSecretSize - 1, len);

  size_t seen_on[kPlaces] = {};   // the line of each place's first line, 0 when none yet
  size_t belongs_on[kPlaces] = {};  // for a place passed over, the line where it belongs
  size_t next = 0;               // the first place that may still follow in order
  size_t line = 0;
  const char* end = text + len;
  for (const char* p = text; p < end;) {
    line++;
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = nl != nullptr ? nl : end;
    size_t line_len = static_cast<size_t>(stop - p) + (nl != nullptr ? 1 : 0);
    const char* here = p;
    p = stop + 1;

    if (nl == nullptr) fault(&c, line, "the last line does not end with a newline");
    if (std::memchr(here, '\0', static_cast<size_t>(stop - here)) != nullptr) fault(&c, line, "NUL byte");
    if (stop - here < 3 || here[0] != '"' || here[1] != ' ' || !isKeyChar(here[2])) {
      fault(&c, line, "not an option line (a double quote, a space and a key)");
      continue;
    }
    const char* key = here + 2;
    const char* k = key;
    while (k < stop && isKeyChar(*k)) k++;
    size_t klen = static_cast<size_t>(k - key);
    const char* value = nullptr;
    size_t vlen = 0;
    if (k < stop) {
      if (*k != ' ') {
        fault(&c, line, "the key is not upper-case letters and underscores followed by a space or the end of the line");
        continue;
      }
      value = k + 1;
      vlen = static_cast<size_t>(stop - value);
      if (vlen == 0) {
        fault(&c, line, "a space but no value after the key");
        value = nullptr;
      }
    }

    size_t place = placeOf(key, klen);
    if (place == kPlaces) {
      fault(&c, line, "unknown key %.*s", static_cast<int>(klen), key);
      continue;
    }
    if (seen_on[place] != 0) {
      fault(&c, line, "%s repeated (first on line %zu)", keyAt(place), seen_on[place]);
      continue;
    }
    seen_on[place] = line;
    if (place < next) {
      fault(&c, line, "%s out of place: it belongs before %s (line %zu)", keyAt(place), keyAt(next - 1),
            seen_on[next - 1]);
    } else {
      for (size_t q = next; q < place; q++) belongs_on[q] = line;
      next = place + 1;
      if (place == 0 && line != 1) fault(&c, line, "AUTH_KEY is not the first line");
    }
    checkValue(&c, line, place, value, vlen);
    if (fixedAt(place) == nullptr) {
      if (line_len > kLineSize - 1) {
        fault(&c, line, "%s line longer than %zu characters (%zu)", keyAt(place), kLineSize - 1, line_len);
      }
      if (values != nullptr) {
        size_t i = place - kFirstConnection;
        values->value[i] = value != nullptr ? value : k;
        values->length[i] = vlen;
      }
    }
  }

  for (size_t q = 0; q < kPlaces; q++) {
    if (seen_on[q] != 0 || fixedAt(q) == nullptr) continue;
    fault(&c, belongs_on[q] != 0 ? belongs_on[q] : line + 1, "%s line missing", keyAt(q));
  }
  return c.faults;
}
