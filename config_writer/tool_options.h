// The option loop of the tools (vorn_show, vorn_keyfile, vorn_dbcheck): the
// project's option parser over a long table, -h/--help printing the usage, and
// a usage error for any option the parser or the tool refuses.
#pragma once

#include "getopt.h"

struct ToolCommandLine {
  const char* short_options;
  const vornopt::option* long_options;  // each entry returns its short letter
  const char* usage;
  int help_failed_status;  // the status when --help cannot be printed
};

// Takes one option: c is its letter, arg its argument or null. Prints why and
// returns false to refuse it.
using TakeOption = bool (*)(int c, const char* arg, void* context);

// Parses argv, calling take for every option but 'h'. Returns -1 when all were
// taken (operands start at vornopt::optind), else the status to end with: 0
// after the usage was printed for 'h', kUsageStatus after the usage was printed
// on standard error for a refused option.
int parseToolOptions(int argc, char** argv, const ToolCommandLine& line, TakeOption take, void* context);
