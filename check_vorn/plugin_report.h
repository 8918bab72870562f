// What check_vorn tells its monitoring engine, in the form that Nagios,
// Icinga, Naemon, Checkmk and Zabbix read from every monitoring plugin: a
// state, one line "VORN STATE - text | performance data", one further line per
// check made, and the state as the exit status.
#pragma once

#include <cstddef>
#include <cstdio>

// The states and their exit statuses.
enum PluginState { kStateOk = 0, kStateWarning = 1, kStateCritical = 2, kStateUnknown = 3 };

// "OK", "WARNING", "CRITICAL" or "UNKNOWN".
const char* stateName(int state);

// The state named name (ok, warning, critical or unknown, in any case); -1 for
// none.
int stateNamed(const char* name);

// The graver of two states: CRITICAL, then UNKNOWN, then WARNING, then OK.
int graverState(int a, int b);

// A threshold range: alert when the value lies outside start..end (both
// included), or inside it with '@'. "10" is 0..10, "10:" 10 to infinity, "~:10"
// minus infinity to 10, "10:20", "@10:20".
struct Range {
  bool set;
  bool inside;  // '@'
  bool from_minus_infinity;
  bool to_infinity;
  double start;
  double end;
  char text[32];  // as given, for the performance data
};

// Parses text into *r; false when it is no range (or is longer than 31 bytes).
bool parseRange(const char* text, Range* r);

// Whether value is to raise the range's alert; false for a range not set.
bool rangeAlerts(const Range& r, double value);

// One check's result: its state and what it found, as raw text (a file's
// name, a server's words): writeReport shows it safely.
constexpr size_t kResultTextMax = 1024;
struct CheckResult {
  int state;
  char text[kResultTextMax];
};

constexpr size_t kMaxResults = 8;
constexpr size_t kDetailsMax = 2048;
struct Report {
  CheckResult results[kMaxResults];
  size_t count;
  int summary;  // the result that speaks for an OK report; -1: the last
  // The connection time measured, for the performance data.
  bool timed;
  double seconds;
  const Range* warning;
  const Range* critical;
  unsigned timeout;
  // Further lines (-v), raw, each ending with a newline.
  char details[kDetailsMax];
};

// Adds a result (its text formatted as printf does, cut to fit) and returns
// its index; a report that is full keeps its last place for the new one.
size_t addResult(Report* r, int state, const char* format, ...) __attribute__((format(printf, 3, 4)));

// The state of the report: the gravest of its results.
int reportState(const Report& r);

// Writes the report: "VORN STATE - " and the texts of the results in that
// state (OK: the summary result's), cut to one line of at most 512 bytes of
// text, then " | " and the performance data; then a line "[STATE] text" for
// each result, and the details. Every byte of a text that is a control
// character, outside UTF-8, or '|' (which starts the performance data) is
// shown as '?'.
void writeReport(FILE* out, const Report& r);
