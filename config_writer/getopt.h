// The program's own option parser: short options, long options and long-only
// options, with operands permuted behind the options in place. It is separate from
// the C library's getopt family, whose names it shares; the program never uses those.
#pragma once

namespace vornopt {

// A long option. A table of them ends at the first entry whose name is null.
// The fields are the system's, in its order, padding included.
struct option {      // NOLINT(clang-analyzer-optin.performance.Padding)
  const char* name;  // without the dashes
  int has_arg;       // no_argument, required_argument or optional_argument
  int* flag;         // null: a match returns val; else val is stored here and 0 returned
  int val;
};

enum { no_argument = 0, required_argument = 1, optional_argument = 2 };

extern int optind;    // next element to examine; after -1, the first operand
extern int opterr;    // 0 silences every message
extern int optopt;    // the offending option character (or val, or 0) after a failure
extern char* optarg;  // the argument of the option returned, or null
extern int optreset;  // set to 1 to start a new scan

// Each returns the option character, the long option's val (or 0 when it has a
// flag), 1 for an in-order operand, -1 at the end of the options, or 63 ('?') /
// 58 (':') on failure. The vector's pointers may be reordered; the texts never change.
int _getopt(int nargc, char** nargv, const char* options);
int _getopt_long(int nargc, char** nargv, const char* options, const option* long_options, int* idx);
int _getopt_long_only(int nargc, char** nargv, const char* options, const option* long_options, int* idx);

}  // namespace vornopt
