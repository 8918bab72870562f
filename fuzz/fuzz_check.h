// The fuzz targets' assertion: reports the failed condition on descriptor 2
// (whatever the stdio stream stderr points to) and aborts, which libFuzzer and
// the replay runner both count as a failure.
#pragma once

#include <stdio.h>

#include <cstdlib>

#define FUZZ_CHECK(cond)                                                  \
  do {                                                                    \
    if (!(cond)) {                                                        \
      dprintf(2, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                       \
    }                                                                     \
  } while (0)
