// What every program that holds a password or key does with it: keep it out of
// core dumps and away from other users' debuggers, and read it from a terminal
// without echo.
#pragma once

// Turns core dumps off for this process (its core size limit too), which also
// keeps debuggers of other users from attaching. Called at the start of main,
// before any secret is read; it changes nothing the program prints or writes.
void keepSecretsOutOfDumps();

// Turns echo off on the terminal fd until restoreEcho. Meanwhile SIGINT,
// SIGTERM, SIGHUP and SIGQUIT restore the terminal and then take their own
// action; SIGTSTP restores it and stops the process, and when it is continued
// echo goes off again. False when fd is not a terminal or its modes cannot be
// set: echo is then as it was.
bool echoOff(int fd);

// The terminal's modes and the signal actions as echoOff found them; nothing
// when echo is not off.
void restoreEcho();
