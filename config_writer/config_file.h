// Replacing the configuration file, the one way vorn_sql and vorn_set write it.
#pragma once

// "PATH~", the temporary file of a replacement of path, in a new buffer that the
// caller releases with free. A failed allocation prints "malloc()" with the
// system's text and ends the process with status 1.
char* temporaryPath(const char* path);

// The bytes written for text: text itself, or with encrypt its encrypted form
// under the key file's key in a new buffer that *held keeps until
// releaseConfigBytes. Null, after saying why on standard error, when the key
// cannot be loaded ("Cannot load the encryption key from \"KEY FILE\"") or the
// encryption fails ("Failed to encrypt the configuration with the key from
// \"KEY FILE\"").
const char* configBytes(const char* text, bool encrypt, char** held);

// Wipes and releases what configBytes kept in held (null: nothing).
void releaseConfigBytes(char* held);

// Replaces the file at path with the bytes of configBytes(text, encrypt) through
// the temporary file tmp_path (temporaryPath): created exclusively with mode
// 0444, the bytes in one write forced to disk, then renamed over path and its
// folder forced to disk, so that a reader sees the old file or the new one,
// never a part. Returns true once path holds the new bytes. Otherwise it prints
// one message on standard error and returns false, path as it was and no
// temporary file of this run left:
//   "Refusing to replace \"PATH\": it is a FIFO, not a configuration file" (a
//     device, a FIFO or a socket: renaming over it would destroy the node and
//     leave the text where anything may read it; a symbolic link is replaced,
//     not followed);
//   "Failed to create \"PATH\" (reason)" and create_end (vorn_sql's message
//     ends without a newline): an existing PATH~, an interrupted run's or a link
//     planted there, is never opened;
//   configBytes' messages;
//   "Failed to write new secret: reason" when the write, its sync or the rename
//     fails.
bool replaceConfigFile(const char* path, const char* tmp_path, const char* text, bool encrypt, const char* create_end);
