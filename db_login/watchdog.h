// The watchdog that bounds a whole check, wherever it waits (a name lookup, a
// server that trickles its answer): when its time is up it writes a message
// prepared beforehand, wipes the secret it guards, and ends the process.
#pragma once

#include <cstddef>
#include <cstdio>

// A stream into the spare message buffer, to be handed to watchdogSetMessage;
// null when it cannot be opened. The message holds at most kWatchdogMessageMax
// bytes; a longer one is cut.
constexpr size_t kWatchdogMessageMax = 2 * 4096 + 511;
FILE* watchdogMessage();

// Closes m and makes its text the message, ending it with a newline (a cut
// message still ends its line). The message that was in force stays so until
// then, so that an alarm in between writes a whole one. False when m is empty;
// the old message then stays.
bool watchdogSetMessage(FILE* m);

// The secret of size bytes at secret that the watchdog wipes before it writes;
// null for none.
void watchdogWipes(char* secret, size_t size);

// Arms the watchdog to fire seconds from now: write the message to fd and end
// the process with status. A signal mask inherited from the caller is lifted
// for its signal. False when it cannot be armed.
bool watchdogArm(unsigned seconds, int fd, int status);

// Disarms it.
void watchdogDisarm();
