// Key rotation. Every configuration file must open, at every moment, under a
// key that is on the host: the key file's, or the old key kept in the old-key
// file until the last file is under the new key. The steps, each of which a
// later run recognises and finishes:
//  1. the old key and the paths of the locked files go into KEY.old-key (mode
//     0400), written as KEY.old-key~, forced to disk and renamed;
//  2. each file still under the old key gets its new encrypted text written
//     to FILE.rotate~ and forced to disk (its text stays the same, byte for
//     byte; no plain text is ever written);
//  3. the new key file is written to KEY.rotate~ and forced to disk;
//  4. the locked files are unlocked, KEY.rotate~ is renamed over the key file
//     and its folder forced to disk, then each FILE.rotate~ is renamed over its
//     file, back to back, their folders forced to disk, and the files locked
//     again;
//  5. the old-key file is removed.
// The key file is renamed before any file: a file under the new key always
// has the new key on the host, and one under the old key has the old-key file.
#include "rotate.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "chores.h"
#include "config_read.h"
#include "key_folder.h"

namespace {

constexpr size_t kKeyBytes = kCipherKeyBytes;
// Paths that the old-key file may name to be locked again: each file and the
// key file.
constexpr size_t kMaxLocked = kMaxRotatedFiles + 1;

// One configuration file of the rotation.
struct RotatedFile {
  const char* path;
  size_t len;  // bytes of text
  struct stat st;
  bool rewrite;  // under the old key: text holds its new form
  char temporary[PATH_MAX];
  char text[kConfigFileMax + 1];  // its encrypted text under the new key
};

// The paths to lock again once the files are in place, one a line in the
// old-key file after the key.
struct LockList {
  char path[kMaxLocked][PATH_MAX];
  size_t count;
};

struct Rotation {
  const char* key_path;
  int folder;            // the key file's folder
  const char* key_name;  // the key file's name in it
  char old_name[PATH_MAX], old_temporary[PATH_MAX], key_temporary[PATH_MAX];
  char old_shown[PATH_MAX], key_temporary_shown[PATH_MAX];
  uint8_t old_key[kKeyBytes];
  uint8_t new_key[kKeyBytes];
  bool had_old_file;  // a rotation was under way: the old key came from the old-key file
  bool key_is_new;    // the key file holds the new key already
  LockList locks;
};

RotatedFile files[kMaxRotatedFiles];
Rotation rotation;
// The old-key file as read: the key's text, a newline, the locked paths.
char old_file_text[kScrambledKeyChars + 1 + kMaxLocked * PATH_MAX + 1];

void say(const char* format, const char* a, const char* b = nullptr) {
  std::fputs("vorn_keyfile: ", stderr);
  if (b == nullptr) {
    std::fprintf(stderr, format, a);
  } else {
    // cppcheck follows the one-text calls' formats into this branch too.
    // cppcheck-suppress wrongPrintfScanfArgNum
    std::fprintf(stderr, format, a, b);
  }
  std::fputc('\n', stderr);
}

bool writeAll(int fd, const char* bytes, size_t len) {
  for (size_t done = 0; done < len;) {
    ssize_t n = write(fd, bytes + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Forces the folder fd to disk through a descriptor that can be.
bool syncFolder(int fd) {
  int folder = openat(fd, ".", kNewFolderFlags);
  bool synced = folder >= 0 && fsync(folder) == 0;
  int error = errno;
  if (folder >= 0) close(folder);
  errno = error;
  return synced;
}

// Removes a temporary file that an earlier run left; false unless it is gone.
bool removeLeftover(int folder, const char* name) { return unlinkat(folder, name, 0) == 0 || errno == ENOENT; }

// ---------------------------------------------------------------------------
// The immutable attribute

// Whether the file at path is locked. A file system without attributes has
// none to clear.
bool isLocked(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  int flags = 0;
  bool locked = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0;
  if (fd >= 0) close(fd);
  return locked;
}

// Sets or clears the immutable attribute of path, keeping the others; false
// with errno when it cannot.
bool setLocked(const char* path, bool locked) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool set = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (set) {
    flags = locked ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    set = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  int error = errno;
  close(fd);
  errno = error;
  return set;
}

// Adds the canonical path of path to the list unless it is there; false after
// saying why it cannot be kept.
bool addLock(LockList* locks, const char* path, bool* added) {
  char real[PATH_MAX];
  if (realpath(path, real) == nullptr) {
    say("cannot resolve \"%s\": %s", path, std::strerror(errno));
    return false;
  }
  for (size_t i = 0; i < locks->count; i++) {
    if (std::strcmp(locks->path[i], real) == 0) return true;
  }
  if (std::strchr(real, '\n') != nullptr || locks->count == kMaxLocked) {
    say("cannot keep \"%s\" in the list of files to lock again", path);
    return false;
  }
  std::memcpy(locks->path[locks->count++], real, std::strlen(real) + 1);
  *added = true;
  return true;
}

// Locks every path of the list again; a path that is gone is left out. False
// after saying which could not be locked.
bool lockAgain(const LockList* locks) {
  bool all = true;
  for (size_t i = 0; i < locks->count; i++) {
    if (!setLocked(locks->path[i], true) && errno != ENOENT) {
      say("cannot lock \"%s\" again: %s", locks->path[i], std::strerror(errno));
      all = false;
    }
  }
  return all;
}

// ---------------------------------------------------------------------------
// The old-key file

// Reads the old-key file: 1 with the old key and the paths to lock again, 0
// when there is none, -1 after saying why it cannot be used.
int readOldKeyFile(Rotation* r) {
  int fd = openat(r->folder, r->old_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return 0;
  struct stat st;
  ssize_t n = -1;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < static_cast<off_t>(sizeof old_file_text))
    n = read(fd, old_file_text, sizeof old_file_text - 1);
  int error = errno;
  if (fd >= 0) close(fd);
  if (n < 0) {
    say("cannot read the old-key file \"%s\": %s", r->old_shown,
        fd >= 0 ? "not a regular file of its size" : std::strerror(error));
    return -1;
  }
  old_file_text[n] = '\0';
  bool loaded = n > static_cast<ssize_t>(kScrambledKeyChars) && old_file_text[kScrambledKeyChars] == '\n' &&
                vorn_unscramble_key(old_file_text, r->old_key);
  wipe(old_file_text, kScrambledKeyChars);
  if (!loaded) {
    say("no key can be loaded from the old-key file \"%s\"", r->old_shown);
    return -1;
  }
  r->locks.count = 0;
  for (char* line = old_file_text + kScrambledKeyChars + 1; *line != '\0';) {
    char* end = std::strchr(line, '\n');
    size_t len = end == nullptr ? std::strlen(line) : static_cast<size_t>(end - line);
    if (len == 0 || len >= PATH_MAX || r->locks.count == kMaxLocked) {
      say("the old-key file \"%s\" is damaged", r->old_shown);
      return -1;
    }
    std::memcpy(r->locks.path[r->locks.count], line, len);
    r->locks.path[r->locks.count++][len] = '\0';
    line += end == nullptr ? len : len + 1;
  }
  return 1;
}

// Writes the old key and the paths to lock again into the old-key file,
// complete or not at all: into its temporary file, mode 0400, forced to disk,
// renamed over it and the folder forced to disk. False after saying why.
bool writeOldKeyFile(Rotation* r) {
  char scrambled[kScrambledKeyChars];
  if (!scrambledKeyText(r->old_key, scrambled)) {
    wipe(scrambled, sizeof scrambled);
    say("cannot get random bytes from \"%s\"", kRandomSource);
    return false;
  }
  int fd = -1;
  if (removeLeftover(r->folder, r->old_temporary))
    fd = openat(r->folder, r->old_temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400);
  bool ok = fd >= 0 && fchmod(fd, 0400) == 0 && writeAll(fd, scrambled, sizeof scrambled) && writeAll(fd, "\n", 1);
  wipe(scrambled, sizeof scrambled);
  for (size_t i = 0; ok && i < r->locks.count; i++)
    ok = writeAll(fd, r->locks.path[i], std::strlen(r->locks.path[i])) && writeAll(fd, "\n", 1);
  ok = ok && fsync(fd) == 0;
  int error = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  ok = ok && renameat(r->folder, r->old_temporary, r->folder, r->old_name) == 0;
  if (!ok) {
    error = fd >= 0 ? errno : error;
    if (fd >= 0) unlinkat(r->folder, r->old_temporary, 0);
    say("cannot write the old-key file \"%s\": %s", r->old_shown, std::strerror(error));
    return false;
  }
  if (!syncFolder(r->folder)) {
    say("cannot write the old-key file \"%s\": %s", r->old_shown, std::strerror(errno));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The configuration files

// Decrypts the encrypted text under key, as the product's reader does: the
// plain bytes in a new buffer and their count, or null.
char* decryptUnder(const char* text, const uint8_t key[kKeyBytes], size_t* len) {
  size_t cipher_len = 0;
  unsigned char* cipher = base64_decode(text, &cipher_len);
  if (cipher == nullptr) return nullptr;
  char* plain = static_cast<char*>(vorn_decrypt(cipher, cipher_len, key, len));
  std::free(cipher);
  return plain;
}

void releasePlain(char* plain, size_t len) {
  if (plain == nullptr) return;
  wipe(plain, len);
  std::free(plain);
}

// The plain bytes encrypted under the new key into f->text, checked by
// decrypting them back; false when that fails.
bool encryptUnderNewKey(RotatedFile* f, const char* plain, size_t len, const uint8_t key[kKeyBytes]) {
  size_t cipher_len = 0;
  void* cipher = vorn_encrypt(plain, len, key, &cipher_len);
  char* text = cipher == nullptr ? nullptr : base64_encode(static_cast<unsigned char*>(cipher), cipher_len);
  std::free(cipher);
  bool fits = text != nullptr && std::strlen(text) <= kConfigFileMax;
  if (fits) {
    f->len = std::strlen(text);
    std::memcpy(f->text, text, f->len + 1);
  }
  std::free(text);
  size_t back_len = 0;
  char* back = fits ? decryptUnder(f->text, key, &back_len) : nullptr;
  bool same = back != nullptr && back_len == len && std::memcmp(back, plain, len) == 0;
  releasePlain(back, back_len);
  return same;
}

// Reads the file into raw (kConfigFileMax + 1 bytes, terminated), refusing
// anything but a regular file of the configuration's size. False after saying
// why.
bool readRotated(RotatedFile* f, char* raw) {
  if (lstat(f->path, &f->st) != 0) {
    say("cannot read \"%s\": %s", f->path, std::strerror(errno));
    return false;
  }
  if (S_ISLNK(f->st.st_mode)) {
    say("\"%s\" is a symbolic link: give the file it names", f->path);
    return false;
  }
  if (!S_ISREG(f->st.st_mode)) {
    say("\"%s\" is not a regular file", f->path);
    return false;
  }
  int fd = open(f->path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  ssize_t n = fd < 0 ? -1 : 0;
  while (n >= 0 && static_cast<size_t>(n) <= kConfigFileMax) {
    ssize_t got = read(fd, raw + n, kConfigFileMax + 1 - static_cast<size_t>(n));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      n = got < 0 ? -1 : n;
      break;
    }
    n += got;
  }
  int error = errno;
  if (fd >= 0) close(fd);
  if (n < 0) {
    say("cannot read \"%s\": %s", f->path, std::strerror(error));
    return false;
  }
  if (static_cast<size_t>(n) > kConfigFileMax) {
    say("\"%s\" is larger than 4096 bytes", f->path);
    return false;
  }
  raw[n] = '\0';
  if (n == 0 || isPlainConfig(raw, static_cast<size_t>(n))) {
    say(n == 0 ? "\"%s\" is empty" : "\"%s\" is plain, not encrypted: there is nothing to rotate", f->path);
    return false;
  }
  if (std::memchr(raw, '\0', static_cast<size_t>(n)) != nullptr) {
    say("\"%s\" is damaged: a zero byte in its encrypted text", f->path);
    return false;
  }
  return true;
}

// Which key the file is under: decides f->rewrite and, for the old key, its
// new text. False after saying why it cannot be carried over.
bool classify(RotatedFile* f, const Rotation* r) {
  static char raw[kConfigFileMax + 1];
  if (!readRotated(f, raw)) return false;
  bool same_keys = std::memcmp(r->old_key, r->new_key, kKeyBytes) == 0;
  size_t old_len = 0;
  size_t new_len = 0;
  char* under_old = same_keys ? nullptr : decryptUnder(raw, r->old_key, &old_len);
  char* under_new = decryptUnder(raw, r->new_key, &new_len);
  wipe(raw, sizeof raw);
  if (under_old != nullptr && under_new != nullptr) {
    // A wrong key passes the length check about once in 2^30 files: what
    // decrypts to a configuration's first line tells them apart.
    bool old_plain = isPlainConfig(under_old, old_len);
    bool new_plain = isPlainConfig(under_new, new_len);
    if (old_plain == new_plain) {
      releasePlain(under_old, old_len);
      releasePlain(under_new, new_len);
      say("\"%s\" opens under both the old and the new key: which it is under cannot be told", f->path);
      return false;
    }
    releasePlain(old_plain ? under_new : under_old, old_plain ? new_len : old_len);
    (old_plain ? under_new : under_old) = nullptr;
  }
  f->rewrite = under_old != nullptr;
  bool ok = true;
  if (under_old == nullptr && under_new == nullptr) {
    say("\"%s\" opens under no key on the host, nor under the new key", f->path);
    ok = false;
  } else if (f->rewrite && !encryptUnderNewKey(f, under_old, old_len, r->new_key)) {
    say("cannot encrypt \"%s\" under the new key: %s", f->path, std::strerror(ENOMEM));
    ok = false;
  }
  releasePlain(under_old, old_len);
  releasePlain(under_new, new_len);
  return ok;
}

// Writes f's new text to its temporary file, with the owner and mode of the
// file it replaces, and forces it to disk. False after saying why.
bool writeNewText(const RotatedFile* f) {
  int fd = -1;
  if (unlink(f->temporary) == 0 || errno == ENOENT)
    fd = open(f->temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400);
  bool ok = fd >= 0;
  if (ok && (f->st.st_uid != geteuid() || f->st.st_gid != getegid())) ok = fchown(fd, f->st.st_uid, f->st.st_gid) == 0;
  ok = ok && fchmod(fd, f->st.st_mode & 07777) == 0 && writeAll(fd, f->text, f->len) && fsync(fd) == 0;
  int error = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) say("cannot write \"%s\": %s", f->temporary, std::strerror(error));
  return ok;
}

// ---------------------------------------------------------------------------
// The steps

// Loads the keys, reads the old-key file if a rotation was under way, and
// checks every file. False after saying why the rotation cannot start.
bool prepare(Rotation* r, char* const* paths, size_t count) {
  uint8_t current[kKeyBytes];
  if (!vorn_load_key(r->key_path, current)) {
    say("no key can be loaded from \"%s\"", r->key_path);
    return false;
  }
  int found = readOldKeyFile(r);
  r->had_old_file = found == 1;
  r->key_is_new = std::memcmp(current, r->new_key, kKeyBytes) == 0;
  bool known = found == 1 ? r->key_is_new || std::memcmp(current, r->old_key, kKeyBytes) == 0 : found == 0;
  if (found == 0) std::memcpy(r->old_key, current, kKeyBytes);
  wipe(current, sizeof current);
  if (found == 1 && !known)
    say("\"%s\" holds neither the new key nor the old key kept in \"%s\"", r->key_path, r->old_shown);
  if (!known) return false;
  bool all = true;
  for (size_t i = 0; i < count; i++) {
    RotatedFile* f = &files[i];
    f->path = paths[i];
    f->rewrite = false;
    bool ok = classify(f, r);
    for (size_t j = 0; ok && j < i; j++) {
      if (files[j].st.st_dev == f->st.st_dev && files[j].st.st_ino == f->st.st_ino) {
        say("\"%s\" is given twice", f->path);
        ok = false;
      }
    }
    if (ok && !formatText(f->temporary, sizeof f->temporary, "%s%s", f->path, kRotationTemporarySuffix)) {
      say("cannot name a temporary file for \"%s\": %s", f->path, std::strerror(ENAMETOOLONG));
      ok = false;
    }
    all = all && ok;
  }
  return all;
}

// Adds the files about to be replaced that are locked now to the list of
// those to lock again; *changed tells whether the list grew.
bool noteLocked(Rotation* r, size_t count, bool* changed) {
  *changed = false;
  if (!r->key_is_new && isLocked(r->key_path) && !addLock(&r->locks, r->key_path, changed)) return false;
  for (size_t i = 0; i < count; i++) {
    if (files[i].rewrite && isLocked(files[i].path) && !addLock(&r->locks, files[i].path, changed)) return false;
  }
  return true;
}

// Unlocks whatever is about to be replaced; false after saying why.
bool unlockTargets(const Rotation* r, size_t count) {
  bool ok = r->key_is_new || !isLocked(r->key_path) || setLocked(r->key_path, false);
  if (!ok) say("cannot unlock \"%s\": %s", r->key_path, std::strerror(errno));
  for (size_t i = 0; ok && i < count; i++) {
    if (files[i].rewrite && isLocked(files[i].path) && !setLocked(files[i].path, false)) {
      say("cannot unlock \"%s\": %s", files[i].path, std::strerror(errno));
      ok = false;
    }
  }
  return ok;
}

// The renames, back to back: the key file first, its folder forced to disk,
// then each file, then their folders forced to disk. False after saying which
// failed.
bool renameAll(const Rotation* r, size_t count) {
  if (!r->key_is_new) {
    if (renameat(r->folder, r->key_temporary, r->folder, r->key_name) != 0 || !syncFolder(r->folder)) {
      say("cannot put the new key file in place of \"%s\": %s", r->key_path, std::strerror(errno));
      return false;
    }
  }
  for (size_t i = 0; i < count; i++) {
    if (files[i].rewrite && rename(files[i].temporary, files[i].path) != 0) {
      say("cannot put \"%s\" in place: %s", files[i].temporary, std::strerror(errno));
      return false;
    }
  }
  for (size_t i = 0; i < count; i++) {
    if (files[i].rewrite && !syncFolderOf(files[i].path)) {
      say("cannot force the folder of \"%s\" to disk: %s", files[i].path, std::strerror(errno));
      return false;
    }
  }
  return true;
}

// Removes what this run wrote before anything was put in place, the old-key
// file too when this run made it: the host is then as it was.
void undoWrites(const Rotation* r, size_t count, bool made_old_file) {
  for (size_t i = 0; i < count; i++) {
    if (files[i].rewrite) unlink(files[i].temporary);
  }
  unlinkat(r->folder, r->key_temporary, 0);
  if (made_old_file) {
    unlinkat(r->folder, r->old_name, 0);
    syncFolder(r->folder);
  }
}

// Steps 1 to 5 once every file has been checked.
int carryOut(Rotation* r, size_t count) {
  bool changed = false;
  if (!noteLocked(r, count, &changed)) return kRotationStopped;
  if ((!r->had_old_file || changed) && !writeOldKeyFile(r)) return kRotationStopped;
  bool made_old_file = !r->had_old_file;
  bool written = true;
  for (size_t i = 0; written && i < count; i++) written = !files[i].rewrite || writeNewText(&files[i]);
  if (written && !r->key_is_new) {
    char scrambled[kScrambledKeyChars];
    bool created = false;
    int error = scrambledKeyText(r->new_key, scrambled) ? 0 : EIO;
    if (error == 0 && !removeLeftover(r->folder, r->key_temporary)) error = errno;
    if (error == 0) error = writeTemporary(r->folder, r->key_temporary, scrambled, &created);
    wipe(scrambled, sizeof scrambled);
    if (error != 0) say("cannot write \"%s\": %s", r->key_temporary_shown, std::strerror(error));
    written = error == 0;
  }
  // Until a rename, a failure leaves the host as it was.
  if (!written || !unlockTargets(r, count)) {
    lockAgain(&r->locks);
    undoWrites(r, count, made_old_file);
    return kRotationStopped;
  }
  bool placed = renameAll(r, count);
  bool locked = lockAgain(&r->locks);
  if (!placed || !locked) return kRotationStopped;
  if (unlinkat(r->folder, r->old_name, 0) != 0 || !syncFolder(r->folder)) {
    say("cannot remove the old-key file \"%s\": %s", r->old_shown, std::strerror(errno));
    return kRotationStopped;
  }
  return kRotated;
}

bool nameFiles(Rotation* r) {
  return formatText(r->old_name, sizeof r->old_name, "%s%s", r->key_name, kOldKeySuffix) &&
         formatText(r->old_temporary, sizeof r->old_temporary, "%s%s~", r->key_name, kOldKeySuffix) &&
         formatText(r->key_temporary, sizeof r->key_temporary, "%s%s", r->key_name, kRotationTemporarySuffix) &&
         formatText(r->old_shown, sizeof r->old_shown, "%s%s", r->key_path, kOldKeySuffix) &&
         formatText(r->key_temporary_shown, sizeof r->key_temporary_shown, "%s%s", r->key_path,
                    kRotationTemporarySuffix);
}

int rotateIn(Rotation* r, char* const* paths, size_t count) {
  if (!nameFiles(r)) {
    say("cannot name the old-key file of \"%s\": %s", r->key_path, std::strerror(ENAMETOOLONG));
    return kRotationRefused;
  }
  if (!prepare(r, paths, count)) {
    std::fputs("vorn_keyfile: rotation refused; nothing was changed\n", stderr);
    return kRotationRefused;
  }
  bool pending = r->had_old_file || !r->key_is_new;
  for (size_t i = 0; i < count; i++) pending = pending || files[i].rewrite;
  if (!pending) {
    std::printf("vorn_keyfile: nothing to do: \"%s\" and every file are under the new key already\n", r->key_path);
    return std::fflush(stdout) == 0 ? kRotated : kRotationStopped;
  }
  int status = carryOut(r, count);
  struct stat st;
  if (status != kRotated && fstatat(r->folder, r->old_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
    std::fputs("vorn_keyfile: the rotation is not finished; run the same command again to finish it\n", stderr);
  return status;
}

}  // namespace

int rotateKey(const char* key_path, const uint8_t new_key[kCipherKeyBytes], char* const* paths, size_t count) {
  static KeyFolder folder;
  Rotation* r = &rotation;
  r->key_path = key_path;
  std::memcpy(r->new_key, new_key, kKeyBytes);
  int status = kRotationRefused;
  if (openKeyFolder(key_path, &folder, &r->key_name)) {
    r->folder = folder.fd;
    status = rotateIn(r, paths, count);
  }
  closeKeyFolder(&folder, status == kRotationRefused);
  wipe(r->old_key, kKeyBytes);
  wipe(r->new_key, kKeyBytes);
  for (size_t i = 0; i < count; i++) wipe(files[i].text, sizeof files[i].text);
  return status;
}
