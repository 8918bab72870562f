// The option parser's core and its scan bookkeeping: what the parser keeps
// between calls and the steps the public entry points share. Callers use
// getopt.h; this header is for the parser itself and for its tests, which
// inspect the bookkeeping and start a process-fresh scan.
#pragma once

#include "getopt.h"

namespace vornopt {

// Flag bits of the core.
enum { OPT_PERMUTE = 1, OPT_IN_ORDER = 2, OPT_LONG_ONLY = 4 };

// Scan bookkeeping, kept between calls.
extern const char* place;    // the next option character of the current element
extern int nonopt_start;     // the first skipped operand, or -1
extern int nonopt_end;       // the element after the skipped operands, or -1
extern int posixly_correct;  // POSIXLY_CORRECT set: 1, not set: 0, not looked up yet: -1

int _getopt_internal(int nargc, char** nargv, const char* options, const option* long_options, int* idx, int flags);

// Moves the operands [panonopt_start, panonopt_end) behind the options
// [panonopt_end, opt_end), keeping each block's order, with opt_end - panonopt_start swaps.
void _permute_args(int panonopt_start, int panonopt_end, int opt_end, char** nargv);
int _gcd(int a, int b);

}  // namespace vornopt
