// Option parser. One option per call; the state lives in process-wide variables
// so that a caller can go on after a failure or reset the scan.
#include "getopt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vornopt {

namespace {

const char EMSG[] = "";

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

constexpr int BADCH = '?';

int _parse_long_options(char** nargv, const char* options, const option* long_options, int* idx,
                        int short_too) {
  const char* current_argv = place;
  const char* has_equal = std::strchr(current_argv, '=');
  size_t current_argv_len;
  int match = -1;

  optind++;
  if (has_equal != nullptr) {
    current_argv_len = static_cast<size_t>(has_equal - current_argv);
    has_equal++;
  } else {
    current_argv_len = std::strlen(current_argv);
  }

  for (int i = 0; long_options[i].name != nullptr; i++) {
    if (std::strncmp(current_argv, long_options[i].name, current_argv_len) != 0) continue;
    if (std::strlen(long_options[i].name) == current_argv_len) {
      match = i;
      break;
    }
    // A one-character prefix that is also a short option never matches a longer name.
    if (short_too && current_argv_len == 1) continue;
    if (match == -1) {
      match = i;
    } else {
      if (printError(options)) std::fprintf(stderr, ambig, static_cast<int>(current_argv_len), current_argv);
      optopt = 0;
      return BADCH;
    }
  }

  if (match == -1) {
    if (short_too) {
      // Handed back to be read as short options.
      optind--;
      return -1;
    }
    if (printError(options)) std::fprintf(stderr, illoptstring, current_argv);
    optopt = 0;
    return BADCH;
  }

  const option& o = long_options[match];
  if (o.has_arg == no_argument && has_equal != nullptr) {
    if (printError(options)) std::fprintf(stderr, noarg, static_cast<int>(current_argv_len), current_argv);
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
    if (printError(options)) std::fprintf(stderr, recargstring, current_argv);
    optopt = o.flag == nullptr ? o.val : 0;
    optind--;
    return badArg(options);
  }

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

const char* place = EMSG;
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

int _getopt_internal(int nargc, char** nargv, const char* options, const option* long_options, int* idx,
                     int flags) {
  if (options == nullptr) return -1;

  // Looked up once in the life of the process, never again.
  if (posixly_correct == -1) posixly_correct = std::getenv("POSIXLY_CORRECT") != nullptr ? 1 : 0;

  if (posixly_correct == 1) {
    flags &= ~OPT_PERMUTE;
    if (*options == '+' || *options == '-') options++;
  } else if (*options == '+') {
    flags &= ~OPT_PERMUTE;
    options++;
  } else if (*options == '-') {
    flags |= OPT_IN_ORDER;
    options++;
  }

  if (optind == 0) optind = optreset = 1;
  optarg = nullptr;
  if (optreset) nonopt_start = nonopt_end = -1;

  if (optreset || *place == '\0') {
    optreset = 0;
    for (;;) {
      if (optind >= nargc) {
        place = EMSG;
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
      place = nargv[optind];
      if (*place != '-' || (place[1] == '\0' && std::strchr(options, '-') == nullptr)) {
        place = EMSG;
        if (flags & OPT_IN_ORDER) {
          optarg = nargv[optind++];
          return 1;
        }
        if (!(flags & OPT_PERMUTE)) return -1;
        if (nonopt_start == -1) {
          nonopt_start = optind;
        } else if (nonopt_end != -1) {
          _permute_args(nonopt_start, nonopt_end, optind, nargv);
          nonopt_start = optind - (nonopt_end - nonopt_start);
          nonopt_end = -1;
        }
        optind++;
        continue;
      }
      break;
    }
    if (nonopt_start != -1 && nonopt_end == -1) nonopt_end = optind;

    if (place[1] != '\0') {
      place++;
      if (place[0] == '-' && place[1] == '\0') {
        // "--" ends the options.
        optind++;
        place = EMSG;
        if (nonopt_end != -1) {
          _permute_args(nonopt_start, nonopt_end, optind, nargv);
          optind -= nonopt_end - nonopt_start;
        }
        nonopt_start = nonopt_end = -1;
        return -1;
      }
    }
  }

  // Long options, tried at every call: in the middle of a cluster too.
  if (long_options != nullptr && place != nargv[optind] && (*place == '-' || (flags & OPT_LONG_ONLY))) {
    int short_too = 0;
    if (*place == '-') {
      place++;
    } else if (*place != ':' && std::strchr(options, *place) != nullptr) {
      short_too = 1;
    }
    int result = _parse_long_options(nargv, options, long_options, idx, short_too);
    if (result != -1) {
      place = EMSG;
      return result;
    }
  }

  // Short options. The character is taken as a signed 8-bit value: bytes from
  // 0x80 up are returned, and stored in optopt, as negative numbers.
  int optchar = static_cast<signed char>(*place++);  // NOLINT(bugprone-signed-char-misuse,cert-str34-c)
  const char* oli = nullptr;
  if (optchar == ':' || (optchar == '-' && *place != '\0') || (oli = std::strchr(options, optchar)) == nullptr) {
    // A trailing '-' that is no option character ends the scan here.
    if (optchar == '-' && *place == '\0') return -1;
    if (*place == '\0') ++optind;
    if (printError(options)) std::fprintf(stderr, illoptchar, optchar);
    optopt = optchar;
    return BADCH;
  }

  if (long_options != nullptr && optchar == 'W' && oli[1] == ';') {
    // -W name and -Wname stand for --name.
    if (*place == '\0') {
      if (++optind >= nargc) {
        place = EMSG;
        if (printError(options)) std::fprintf(stderr, recargchar, optchar);
        optopt = optchar;
        return badArg(options);
      }
      place = nargv[optind];
    }
    int result = _parse_long_options(nargv, options, long_options, idx, 0);
    place = EMSG;
    return result;
  }

  if (oli[1] != ':') {
    // Takes no argument.
    if (*place == '\0') ++optind;
    return optchar;
  }

  optarg = nullptr;
  if (*place != '\0') {
    optarg = const_cast<char*>(place);
  } else if (oli[2] != ':') {
    // A required argument in the next element, whatever it begins with.
    if (++optind >= nargc) {
      place = EMSG;
      if (printError(options)) std::fprintf(stderr, recargchar, optchar);
      optopt = optchar;
      return badArg(options);
    }
    optarg = nargv[optind];
  }
  place = EMSG;
  ++optind;
  return optchar;
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
