// Option parser. One option per call; the state lives in process-wide variables
// so that a caller can go on after a failure or reset the scan.
#include "getopt.h"

#include "getopt_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vornopt {

namespace {

// The empty text place points at when no element is being read.
const char kEmptyText[] = "";

const char illoptchar[] = "unknown option -- %c";
const char recargchar[] = "option requires an argument -- %c";
const char ambig[] = "ambiguous option -- %.*s";
const char noarg[] = "option doesn't take an argument -- %.*s";
const char recargstring[] = "option requires an argument -- %s";
const char illoptstring[] = "unknown option -- %s";

// Messages are printed unless opterr is 0 or the option string (behind its mode
// prefix) starts with ':'.
bool printError(const char* options) { return opterr != 0 && *options != ':'; }

// Result for a missing argument: ':' in silent mode, '?' otherwise.
int badArg(const char* options) { return *options == ':' ? ':' : '?'; }

// Result for an unknown or ambiguous option.
constexpr int kBadChar = '?';

constexpr int kNoMatch = -1;
constexpr int kAmbiguous = -2;

// The entry named by the first len characters of name: the entry of that exact
// name, else the only entry whose name starts with them; kAmbiguous as soon as
// a second one does.
int findLongOption(const char* name, size_t len, const option* long_options, int short_too) {
  int match = kNoMatch;
  for (int i = 0; long_options[i].name != nullptr; i++) {
    if (std::strncmp(name, long_options[i].name, len) != 0) continue;
    if (std::strlen(long_options[i].name) == len) return i;
    // A one-character prefix that is also a short option never matches a longer name.
    if (short_too && len == 1) continue;
    if (match != kNoMatch) return kAmbiguous;
    match = i;
  }
  return match;
}

// Takes the argument of the matched entry o: the text after '=' (has_equal, or
// null), else for a required argument the next element. Returns 0 when the
// option is complete, or the call's failure result.
int longArgument(char** nargv, const char* options, const option& o, const char* name, size_t name_len,
                 const char* has_equal) {
  if (o.has_arg == no_argument && has_equal != nullptr) {
    if (printError(options)) std::fprintf(stderr, noarg, static_cast<int>(name_len), name);
    optopt = o.flag == nullptr ? o.val : 0;
    return badArg(options);
  }
  if (o.has_arg == required_argument || o.has_arg == optional_argument) {
    if (has_equal != nullptr) {
      optarg = const_cast<char*>(has_equal);
    } else if (o.has_arg == required_argument) {
      // The next element, unchecked: past the last one this is the vector's null entry.
      optarg = nargv[optind++];
    }
  }
  if (o.has_arg == required_argument && optarg == nullptr) {
    if (printError(options)) std::fprintf(stderr, recargstring, name);
    optopt = o.flag == nullptr ? o.val : 0;
    optind--;
    return badArg(options);
  }
  return 0;
}

// Reads place as a long option name, with its argument. When short_too is set
// and no name matches, the element is handed back to be read as short options:
// *handed_back is then true and the result means nothing.
int _parse_long_options(char** nargv, const char* options, const option* long_options, int* idx, int short_too,
                        bool* handed_back) {
  *handed_back = false;
  const char* current_argv = place;
  const char* has_equal = std::strchr(current_argv, '=');
  size_t current_argv_len;
  if (has_equal != nullptr) {
    current_argv_len = static_cast<size_t>(has_equal - current_argv);
    has_equal++;
  } else {
    current_argv_len = std::strlen(current_argv);
  }
  optind++;

  int match = findLongOption(current_argv, current_argv_len, long_options, short_too);
  if (match == kAmbiguous) {
    if (printError(options)) std::fprintf(stderr, ambig, static_cast<int>(current_argv_len), current_argv);
    optopt = 0;
    return kBadChar;
  }
  if (match == kNoMatch) {
    if (short_too) {
      optind--;
      *handed_back = true;
      return -1;
    }
    if (printError(options)) std::fprintf(stderr, illoptstring, current_argv);
    optopt = 0;
    return kBadChar;
  }

  const option& o = long_options[match];
  int failed = longArgument(nargv, options, o, current_argv, current_argv_len, has_equal);
  if (failed != 0) return failed;
  if (idx != nullptr) *idx = match;
  if (o.flag != nullptr) {
    *o.flag = o.val;
    return 0;
  }
  return o.val;
}

}  // namespace

int optind = 1;
int opterr = 1;
int optopt = '?';
char* optarg = nullptr;
int optreset = 0;

const char* place = kEmptyText;
int nonopt_start = -1;
int nonopt_end = -1;
int posixly_correct = -1;

int _gcd(int a, int b) {
  int c = a % b;
  while (c != 0) {
    a = b;
    b = c;
    c = a % b;
  }
  return b;
}

void _permute_args(int panonopt_start, int panonopt_end, int opt_end, char** nargv) {
  // Both blocks must be non-empty; anything else has nothing to move.
  if (!(panonopt_start < panonopt_end && panonopt_end < opt_end)) return;
  int nnonopts = panonopt_end - panonopt_start;
  int nopts = opt_end - panonopt_end;
  int ncycle = _gcd(nnonopts, nopts);
  int cyclelen = (opt_end - panonopt_start) / ncycle;

  for (int i = 0; i < ncycle; i++) {
    int cstart = panonopt_end + i;
    int pos = cstart;
    for (int j = 0; j < cyclelen; j++) {
      if (pos >= panonopt_end) {
        pos -= nnonopts;
      } else {
        pos += nopts;
      }
      char* swap = nargv[pos];
      nargv[pos] = nargv[cstart];
      nargv[cstart] = swap;
    }
  }
}

namespace {

// The option string's mode prefix and the environment decide what happens to
// operands: returns the option string behind its prefix.
const char* scanMode(const char* options, int* flags) {
  // Looked up once in the life of the process, never again.
  if (posixly_correct == -1) posixly_correct = std::getenv("POSIXLY_CORRECT") != nullptr ? 1 : 0;

  if (posixly_correct == 1) {
    *flags &= ~OPT_PERMUTE;
    if (*options == '+' || *options == '-') options++;
  } else if (*options == '+') {
    *flags &= ~OPT_PERMUTE;
    options++;
  } else if (*options == '-') {
    *flags |= OPT_IN_ORDER;
    options++;
  }
  return options;
}

// Ends the scan: operands skipped before the last options move behind them, and
// optind is left at the first operand.
int endScan(char** nargv) {
  place = kEmptyText;
  if (nonopt_end != -1) {
    // Operands were skipped and options followed: move the operands behind them.
    _permute_args(nonopt_start, nonopt_end, optind, nargv);
    optind -= nonopt_end - nonopt_start;
  } else if (nonopt_start != -1) {
    // Only operands were skipped: optind goes back to the first of them.
    optind = nonopt_start;
  }
  nonopt_start = nonopt_end = -1;
  return -1;
}

// Steps over the operand at optind. Operands skipped earlier and the options that
// followed them are rotated first, so the skipped operands stay one block.
void skipOperand(char** nargv) {
  if (nonopt_start == -1) {
    nonopt_start = optind;
  } else if (nonopt_end != -1) {
    _permute_args(nonopt_start, nonopt_end, optind, nargv);
    nonopt_start = optind - (nonopt_end - nonopt_start);
    nonopt_end = -1;
  }
  optind++;
}

// Finds the next option element. Returns true with place at its first option
// character; returns false with the call's *result otherwise: -1 at the end of
// the options, 1 for an operand returned in order.
bool nextOptionElement(int nargc, char** nargv, const char* options, int flags, int* result) {
  for (;;) {
    if (optind >= nargc) {
      *result = endScan(nargv);
      return false;
    }
    place = nargv[optind];
    // A lone "-" is an operand, unless the option string names '-'.
    bool operand = *place != '-' || (place[1] == '\0' && std::strchr(options, '-') == nullptr);
    if (!operand) break;
    place = kEmptyText;
    if (flags & OPT_IN_ORDER) {
      optarg = nargv[optind++];
      *result = 1;
      return false;
    }
    if (!(flags & OPT_PERMUTE)) {
      *result = -1;
      return false;
    }
    skipOperand(nargv);
  }
  if (nonopt_start != -1 && nonopt_end == -1) nonopt_end = optind;

  if (place[1] != '\0') {
    place++;
    if (place[0] == '-' && place[1] == '\0') {
      // "--" ends the options.
      optind++;
      *result = endScan(nargv);
      return false;
    }
  }
  return true;
}

// Long options, tried at every call: in the middle of a cluster too. Returns
// true with the call's *result when the element was read as a long option, false
// when it is to be read as short options.
bool longOption(char** nargv, const char* options, const option* long_options, int* idx, int flags, int* result) {
  if (long_options == nullptr || place == nargv[optind] || (*place != '-' && !(flags & OPT_LONG_ONLY))) {
    return false;
  }
  int short_too = 0;
  if (*place == '-') {
    place++;
  } else if (*place != ':' && std::strchr(options, *place) != nullptr) {
    short_too = 1;
  }
  bool handed_back = false;
  *result = _parse_long_options(nargv, options, long_options, idx, short_too, &handed_back);
  if (handed_back) return false;
  // A match ends the element, whatever its entry returns: -1 included.
  place = kEmptyText;
  return true;
}

// The failure for an option whose argument is missing.
int missingArgument(const char* options, int optchar) {
  place = kEmptyText;
  if (printError(options)) std::fprintf(stderr, recargchar, optchar);
  optopt = optchar;
  return badArg(options);
}

// -W name and -Wname stand for --name.
int wordOption(int nargc, char** nargv, const char* options, const option* long_options, int* idx) {
  if (*place == '\0') {
    if (++optind >= nargc) return missingArgument(options, 'W');
    place = nargv[optind];
  }
  bool handed_back = false;
  int result = _parse_long_options(nargv, options, long_options, idx, 0, &handed_back);
  place = kEmptyText;
  return result;
}

// The argument of optchar: the rest of the element, else (when required) the
// next element whatever it begins with.
int shortArgument(int nargc, char** nargv, const char* options, int optchar, bool optional) {
  optarg = nullptr;
  if (*place != '\0') {
    optarg = const_cast<char*>(place);
  } else if (!optional) {
    if (++optind >= nargc) return missingArgument(options, optchar);
    optarg = nargv[optind];
  }
  place = kEmptyText;
  ++optind;
  return optchar;
}

// One short option, at place.
int shortOption(int nargc, char** nargv, const char* options, const option* long_options, int* idx) {
  // The character is taken as a signed 8-bit value: bytes from 0x80 up are
  // returned, and stored in optopt, as negative numbers.
  int optchar = static_cast<signed char>(*place++);  // NOLINT(bugprone-signed-char-misuse,cert-str34-c)
  const char* oli = nullptr;
  if (optchar == ':' || (optchar == '-' && *place != '\0') || (oli = std::strchr(options, optchar)) == nullptr) {
    // A trailing '-' that is no option character ends the scan here.
    if (optchar == '-' && *place == '\0') return -1;
    if (*place == '\0') ++optind;
    if (printError(options)) std::fprintf(stderr, illoptchar, optchar);
    optopt = optchar;
    return kBadChar;
  }
  if (long_options != nullptr && optchar == 'W' && oli[1] == ';') {
    return wordOption(nargc, nargv, options, long_options, idx);
  }
  if (oli[1] != ':') {
    // Takes no argument.
    if (*place == '\0') ++optind;
    return optchar;
  }
  return shortArgument(nargc, nargv, options, optchar, oli[2] == ':');
}

}  // namespace

int _getopt_internal(int nargc, char** nargv, const char* options, const option* long_options, int* idx, int flags) {
  if (options == nullptr) return -1;
  options = scanMode(options, &flags);

  if (optind == 0) optind = optreset = 1;
  optarg = nullptr;
  if (optreset) nonopt_start = nonopt_end = -1;

  int result;
  if (optreset || *place == '\0') {
    optreset = 0;
    if (!nextOptionElement(nargc, nargv, options, flags, &result)) return result;
  }
  if (longOption(nargv, options, long_options, idx, flags, &result)) return result;
  return shortOption(nargc, nargv, options, long_options, idx);
}

int _getopt(int nargc, char** nargv, const char* options) {
  return _getopt_internal(nargc, nargv, options, nullptr, nullptr, 0);
}

int _getopt_long(int nargc, char** nargv, const char* options, const option* long_options, int* idx) {
  return _getopt_internal(nargc, nargv, options, long_options, idx, OPT_PERMUTE);
}

int _getopt_long_only(int nargc, char** nargv, const char* options, const option* long_options, int* idx) {
  return _getopt_internal(nargc, nargv, options, long_options, idx, OPT_PERMUTE | OPT_LONG_ONLY);
}

}  // namespace vornopt
