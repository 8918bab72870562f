// check_vorn's command line: the options every monitoring plugin knows (-w,
// -c, -t, -v, -V, -h), the file and its key file, how the login is made, and
// the expectations of the file checks.
#pragma once

#include <sys/types.h>

#include "db_login.h"
#include "plugin_report.h"

struct Settings {
  const char* file = nullptr;
  const char* key_file = nullptr;
  LoginSettings login = {.socket = nullptr, .timeout = 10, .allow_cleartext = false};
  Range warning{};
  Range critical{};
  int timeout_state = kStateCritical;  // what a check that outlasts its timeout gives
  int mode = -1;                       // the mode expected; -1: read-only (0444 or less)
  uid_t owner = 0;
  const char* owner_name = "root";
  bool ignore_lock = false;
  bool ignore_mode = false;
  bool ignore_owner = false;
  int verbose = 0;
};

// Parses argv into *s. Returns -1 when the checks are to run, else the exit
// status of a run that ends here: 0 after the help or the version, kStateUnknown
// after "VORN UNKNOWN - " and why on standard output, with the usage.
int parsePluginOptions(int argc, char** argv, Settings* s);
