// vorn_keyfile --rotate: the key file replaced by one for a new key, and every
// encrypted configuration file given rewritten under the new key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vorncrypt.h"

// Configuration files that one rotation takes, at most.
constexpr size_t kMaxRotatedFiles = 64;

// Exit statuses of a rotation: done (or nothing to do), stopped by a failure
// of the system (what was done stays; the same command finishes it), refused
// before anything was changed.
constexpr int kRotated = 0;
constexpr int kRotationStopped = 1;
constexpr int kRotationRefused = 3;

// What the old-key file and the temporary files add to the key file's or a
// configuration file's path.
inline constexpr char kOldKeySuffix[] = ".old-key";
inline constexpr char kRotationTemporarySuffix[] = ".rotate~";

// Rotates the key file at key_path to new_key and the count configuration
// files at paths to the new key. Says what went wrong on standard error, and
// on standard output when there was nothing to do; returns one of the
// statuses above.
int rotateKey(const char* key_path, const uint8_t new_key[kCipherKeyBytes], char* const* paths, size_t count);
