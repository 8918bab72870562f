// Replacing the configuration file, for vorn_sql and vorn_set alike: the bytes
// go into the temporary file PATH~, created exclusively with mode 0444, in one
// write forced to disk, and the temporary file is renamed over PATH and its
// folder forced to disk, so that a reader sees the old file or the new one,
// never a part. With encryption the bytes are the text's encrypted form under
// the key file's key.
#pragma once

// One replacement under way, from makeReplacement to finishReplacement.
struct Replacement {
  char* tmp_fn = nullptr;          // PATH~
  int fd = -1;                     // the temporary file, once created
  bool replaced = false;           // the temporary file has become PATH
  char* encrypted_text = nullptr;  // the bytes written when encrypting
};

// Names the temporary file for path. A failed allocation prints "malloc()" with
// the system's text and ends the process with status 1.
void makeReplacement(const char* path, Replacement* r);

// False, after saying so on standard error, when path is a device, a FIFO or a
// socket: renaming a file over it would destroy the node and leave the text
// where anything may read it. A symbolic link there is replaced, not followed.
bool targetIsReplaceable(const char* path);

// Creates the temporary file. On failure prints "Failed to create \"PATH\"
// (reason)" followed by end (vorn_sql's message ends without a newline) and
// returns false; an existing one (an interrupted run's, or a link planted
// there) is never opened.
bool createTemporary(const char* path, const char* end, Replacement* r);

// The bytes to write: text, or with encrypt its encrypted form. Null, after
// saying why, when the key cannot be loaded or the encryption fails.
const char* bytesToWrite(const char* text, bool encrypt, Replacement* r);

// Writes bytes with one write, forces them to disk and renames the temporary
// file over path. False, after "Failed to write new secret" with the system's
// text, when any step fails; path is then as it was.
bool writeAndReplace(const char* bytes, const char* path, Replacement* r);

// Removes a temporary file that did not become path, closes it, and releases
// what the replacement holds (the encrypted text wiped first).
void finishReplacement(Replacement* r);
