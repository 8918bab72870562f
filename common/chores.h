// Small chores that the programs share: the default configuration path, the
// usage error of the tools, forcing a folder to disk, the kernel's random
// source, wiping secrets and formatting into fixed buffers.
#pragma once

#include <cstddef>
#include <cstdio>

// The exit status of a tool's usage error (vorn_show, vorn_keyfile, vorn_dbcheck,
// vorn_set). vorn_sql keeps its own statuses, 0 and 1.
constexpr int kUsageStatus = 2;

// Prints usage on standard error and returns kUsageStatus.
int usageError(const char* usage);

// Prints usage on standard output for --help. Returns 0, or failed_status when
// standard output cannot take it.
int printHelp(const char* usage, int failed_status);

// The home directory from HOME when it is an absolute path; else prints "Cannot
// determine home directory" on standard error and returns null.
const char* homeDirectory();

// What the default configuration path adds to the home directory.
inline constexpr char kConfigFileName[] = "/.vorn_sql";

// The longest HOME a program can be given: the kernel passes no environment
// string ("HOME=", the value and its terminator) longer than 32 pages.
constexpr size_t kLongestHome = size_t{32} * 4096 - sizeof "HOME=";

// Writes "$HOME/.vorn_sql" into path (size bytes) and returns true. Returns
// false after saying why on standard error: HOME unset or relative, or the path
// does not fit.
bool defaultConfigPath(char* path, size_t size);

// Forces the folder that holds path to disk, so that a new or renamed entry in it
// survives a crash. False, with errno set, when it cannot be opened or synced.
bool syncFolderOf(const char* path);

// The kernel's random source, opened read-only; -1 with errno on failure.
int openRandomSource();
// Its path, for messages.
inline constexpr char kRandomSource[] = "/dev/urandom";

// Overwrites bytes of buffer with zeros through volatile stores, which the
// compiler may neither drop as dead nor hand to libc's memset.
void wipe(void* buffer, size_t bytes);

// snprintf into buf (size bytes) that says whether the whole text fitted: false
// on an output error or truncation (buf then holds a cut, terminated text).
bool formatText(char* buf, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
