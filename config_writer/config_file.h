// Replacing the configuration file, the one way vorn_sql and vorn_set write it.
#pragma once

// Replaces the file at path with text, or with encrypt with its encrypted form
// under the key file's key. The bytes go into the temporary file PATH~, created
// exclusively with mode 0444, in one write forced to disk; the temporary file is
// then renamed over path and its folder forced to disk, so that a reader sees
// the old file or the new one, never a part. Returns true once path holds the
// new bytes. Otherwise it prints one message on standard error and returns
// false, path as it was and no temporary file of this run left:
//   "Refusing to replace \"PATH\": it is a FIFO, not a configuration file" (a
//     device, a FIFO or a socket: renaming over it would destroy the node and
//     leave the text where anything may read it; a symbolic link is replaced,
//     not followed);
//   "Failed to create \"PATH\" (reason)" and create_end (vorn_sql's message
//     ends without a newline): an existing PATH~, an interrupted run's or a link
//     planted there, is never opened;
//   "Cannot load the encryption key from \"KEY FILE\"", or "Failed to encrypt
//     the configuration with the key from \"KEY FILE\"";
//   "Failed to write new secret: reason" when the write, its sync or the rename
//     fails.
bool replaceConfigFile(const char* path, const char* text, bool encrypt, const char* create_end);
