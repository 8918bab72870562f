// The parts of writing a key file that the rotation shares: the key file's
// folder reached safely, random non-zero bytes, and a key file's text written
// under a new name and forced to disk.
#pragma once

#include <fcntl.h>
#include <limits.h>

#include <cstddef>
#include <cstdint>

#include "vorncrypt.h"

// Folders that may be created for the key file's path, at most.
constexpr size_t kMaxNewFolders = 64;

// The key file's folder, reached one folder at a time from "/" or the working
// folder without following a link, and the folders made on the way, which are
// removed again when the key file is not written.
struct KeyFolder {
  char path[PATH_MAX];              // the key file's path, cut at a folder's end while it is opened
  int fd;                           // the folder reached
  int parent[kMaxNewFolders];       // the folder that holds each new folder, kept open
  size_t name[kMaxNewFolders];      // where each new folder's name starts in path
  size_t name_end[kMaxNewFolders];  // and where it ends
  size_t made;
};

// A folder on the way is only passed through, which needs no right to read it
// (O_PATH); a new one is opened to set its mode, and a folder is opened this
// way to force it to disk.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kNewFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Fills out with random bytes other than zero; false when the random source
// fails.
bool randomNonZero(uint8_t* out, size_t count);

// The 88 scrambled characters for key among random filler, or false when the
// filler or the encoding cannot be had.
bool scrambledKeyText(const uint8_t key[kCipherKeyBytes], char scrambled[kScrambledKeyChars]);

// Opens the folder of the key file path in k, making the missing ones, and
// sets *name to the file's name in path. False after saying why it cannot.
bool openKeyFolder(const char* path, KeyFolder* k, const char** name);

// Closes the folders, removing those made first when remove is set.
void closeKeyFolder(KeyFolder* k, bool remove);

// Writes the scrambled text to a new file name in the folder fd, mode 0444
// whatever the umask, and forces it to disk. Returns 0, else the error number;
// *created says whether the file was made.
int writeTemporary(int fd, const char* name, const char scrambled[kScrambledKeyChars], bool* created);
