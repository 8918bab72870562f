#include "tool_options.h"

#include <cstdio>

#include "chores.h"

int parseToolOptions(int argc, char** argv, const ToolCommandLine& line, TakeOption take, void* context) {
  for (;;) {
    int c = vornopt::_getopt_long(argc, argv, line.short_options, line.long_options, nullptr);
    if (c == -1) return -1;
    if (c == 'h') return printHelp(line.usage, line.help_failed_status);
    if (c == '?' || c == ':') {
      // The parser's message ends without a newline.
      std::fputs("\n", stderr);
      return usageError(line.usage);
    }
    if (!take(c, vornopt::optarg, context)) return usageError(line.usage);
  }
}
