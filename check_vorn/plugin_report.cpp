#include "plugin_report.h"

#include <strings.h>

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "display.h"

namespace {

constexpr const char* kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
// Severity of each state, by exit status.
constexpr int kGravity[] = {0, 1, 3, 2};
// The most bytes of text on the first line.
constexpr size_t kFirstLineText = 512;

// A number of a range: an optional minus sign, digits, an optional fraction.
bool parseNumber(const char* text, size_t n, double* value) {
  char copy[32];
  if (n == 0 || n >= sizeof copy) return false;
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  size_t at = copy[0] == '-' ? 1 : 0;
  size_t digits = std::strspn(copy + at, "0123456789");
  if (copy[at + digits] == '.') digits += 1 + std::strspn(copy + at + digits + 1, "0123456789");
  if (digits == 0 || at + digits != n || std::strcmp(copy + at, ".") == 0) return false;
  *value = std::strtod(copy, nullptr);
  return std::isfinite(*value);
}

// Shows text as writeReport says, at most max bytes of it.
void putText(FILE* out, const char* text, size_t max) {
  char shown[kResultTextMax];
  size_t n = std::strlen(text);
  if (n > max) n = max;
  if (n > sizeof shown) n = sizeof shown;
  std::memcpy(shown, text, n);
  for (size_t i = 0; i < n; i++) {
    if (shown[i] == '|') shown[i] = '?';
  }
  putDisplayed(out, shown, n, kDisplayQuestionMark);
}

void putPerformanceData(FILE* out, const Report& r) {
  if (!r.timed) return;
  std::fprintf(out, " | 'connect_time'=%.6fs;%s;%s;0;%u", r.seconds, r.warning->set ? r.warning->text : "",
               r.critical->set ? r.critical->text : "", r.timeout);
}

}  // namespace

const char* stateName(int state) { return kStateNames[state >= 0 && state <= 3 ? state : kStateUnknown]; }

int stateNamed(const char* name) {
  for (int state = 0; state <= 3; state++) {
    if (strcasecmp(name, kStateNames[state]) == 0) return state;
  }
  return -1;
}

int graverState(int a, int b) { return kGravity[a] >= kGravity[b] ? a : b; }

bool parseRange(const char* text, Range* r) {
  *r = Range{};
  size_t n = std::strlen(text);
  if (n == 0 || n >= sizeof r->text) return false;
  std::memcpy(r->text, text, n + 1);
  const char* at = text;
  r->inside = *at == '@';
  if (r->inside) at++;
  const char* colon = std::strchr(at, ':');
  const char* end = colon != nullptr ? colon + 1 : at;
  if (colon != nullptr) {
    r->from_minus_infinity = colon - at == 1 && *at == '~';
    if (!r->from_minus_infinity && colon != at && !parseNumber(at, static_cast<size_t>(colon - at), &r->start))
      return false;
  }
  r->to_infinity = colon != nullptr && *end == '\0';
  if (!r->to_infinity && !parseNumber(end, std::strlen(end), &r->end)) return false;
  r->set = r->from_minus_infinity || r->to_infinity || r->start <= r->end;
  return r->set;
}

bool rangeAlerts(const Range& r, double value) {
  if (!r.set) return false;
  bool outside = (!r.from_minus_infinity && value < r.start) || (!r.to_infinity && value > r.end);
  return r.inside ? !outside : outside;
}

// A C variadic function, so that the format attribute lets the compiler check
// every call's arguments against its format.
size_t addResult(Report* r, int state, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  size_t at = r->count < kMaxResults ? r->count++ : kMaxResults - 1;
  CheckResult* c = &r->results[at];
  c->state = state;
  // clang-tidy 14's analyzer, run over several files at once, loses va_start here.
  int n = std::vsnprintf(c->text, sizeof c->text, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(args);
  if (n < 0) c->text[0] = '\0';
  if (n >= static_cast<int>(sizeof c->text)) std::memcpy(c->text + sizeof c->text - 4, "...", 4);
  return at;
}

int reportState(const Report& r) {
  int state = kStateOk;
  for (size_t i = 0; i < r.count; i++) state = graverState(state, r.results[i].state);
  return state;
}

void writeReport(FILE* out, const Report& r) {
  int state = reportState(r);
  std::fprintf(out, "VORN %s - ", stateName(state));
  size_t left = kFirstLineText;
  for (size_t i = 0; i < r.count && left > 0; i++) {
    bool speaks = state == kStateOk
                      ? static_cast<int>(i) == (r.summary >= 0 ? r.summary : static_cast<int>(r.count) - 1)
                      : r.results[i].state == state;
    if (!speaks) continue;
    if (left < kFirstLineText) std::fputs("; ", out);
    putText(out, r.results[i].text, left);
    size_t used = std::strlen(r.results[i].text);
    left = used >= left ? 0 : left - used;
  }
  putPerformanceData(out, r);
  std::fputc('\n', out);
  for (size_t i = 0; i < r.count; i++) {
    std::fprintf(out, "[%s] ", stateName(r.results[i].state));
    putText(out, r.results[i].text, kResultTextMax);
    std::fputc('\n', out);
  }
  for (const char* line = r.details; *line != '\0';) {
    const char* nl = std::strchr(line, '\n');
    size_t n = nl != nullptr ? static_cast<size_t>(nl - line) : std::strlen(line);
    char one[kResultTextMax];
    std::snprintf(one, sizeof one, "%.*s", static_cast<int>(n), line);
    putText(out, one, kResultTextMax);
    std::fputc('\n', out);
    line += n + (nl != nullptr ? 1 : 0);
  }
}
