// vorn_keyfile --rotate from outside: killed before and after each of its
// system calls in turn (support/syscall_kill.c), every file must still open
// under a key on the host, to the text the test wrote, and the same command
// run again must finish the rotation; and what it refuses changes nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base64.h"
#include "cipher_test_support.h"
#include "test_support.h"
#include "vorncrypt.h"

namespace {

using testsupport::kTestKeyHex;

const char kNewKeyHex[] = "0102030405060708090a0b0c0d0e0f11";
const char kThirdKeyHex[] = "a1a2a3a4a5a6a7a8a9aaabacadaeafb0";
// The stops a run is killed at: each, but in the sanitizer build, whose
// runtime makes hundreds more stops and slows each run, every third.
#ifdef VORN_SANITIZER_BUILD
constexpr long kStopStep = 3;
#else
constexpr long kStopStep = 1;
#endif
// The folders of a host: the key file's and the configuration files'.
const char* const kFolders[] = {"/key", "/etc", "/var"};
// The files of a host: path under the host folder, whether it is locked, and
// whether it is under the new key before the run.
struct HostFile {
  const char* path;
  bool locked;
  bool under_new;
};

std::string encrypted(const std::string& plain, const char* hex) {
  ciphertest::Bytes key = ciphertest::fromHex(hex);
  size_t len = 0;
  void* cipher = vorn_encrypt(plain.data(), plain.size(), key.data(), &len);
  char* text = base64_encode(static_cast<unsigned char*>(cipher), len);
  std::string out = text;
  std::free(cipher);
  std::free(text);
  return out;
}

// Whether path is locked; with unlock, unlocks it.
bool isLocked(const std::string& path, bool unlock = false) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  bool locked = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0;
  flags &= ~FS_IMMUTABLE_FL;
  if (locked && unlock) ioctl(fd, FS_IOC_SETFLAGS, &flags);
  if (fd >= 0) close(fd);
  return locked;
}

class RotateKey : public testsupport::InTempDir {
 protected:
  // On tmpfs where there is one: a kill test forces hundreds of files to disk.
  std::string host() const { return host_; }
  std::string keyFile() const { return host() + "/key/.vorn_yelto"; }
  std::string oldKeyFile() const { return keyFile() + ".old-key"; }
  std::string at(const char* name) const { return host() + "/" + name; }
  // The text of each file, as written before the run.
  std::string plain(const char* name) const {
    return testsupport::configText({"\" HOSTNAME " + std::string(name) + "\n"});
  }

  // A key file for hex, its bytes kept for the hosts to come.
  std::string keyFileBytes(const char* hex) {
    std::string bytes, at = path(std::string("k") + hex);
    testsupport::RunResult r = testsupport::runVornKeyfile({.args = {std::string("--key=") + hex, at}});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(testsupport::readFile(at, &bytes));
    return bytes;
  }

  // A host whose key file holds key_hex, with the old-key file of a rotation
  // under way when old_hex is given, and the files.
  void makeHost(const char* key_hex, const char* old_hex, const std::vector<HostFile>& files) {
    // Emptied in process: hundreds of hosts are made in turn.
    for (const char* folder : kFolders) {
      for (const std::string& name : testsupport::entryNames(host() + folder)) {
        isLocked(host() + folder + "/" + name, true);
        unlink((host() + folder + "/" + name).c_str());
      }
      mkdir(host().c_str(), 0755);
      mkdir((host() + folder).c_str(), 0755);
    }
    ASSERT_TRUE(testsupport::writeFile(keyFile(), key_bytes_[key_hex], 0444));
    if (old_hex != nullptr) {
      ASSERT_TRUE(testsupport::writeFile(oldKeyFile(), key_bytes_[old_hex] + "\n", 0400));
    }
    for (const HostFile& f : files) {
      ASSERT_TRUE(
          testsupport::writeFile(at(f.path), encrypted(plain(f.path), f.under_new ? kNewKeyHex : kTestKeyHex), 0444));
      if (f.locked && can_lock_) {
        ASSERT_EQ(testsupport::runQuordexHelper({.args = {at(f.path), "1"}}).exit_code, 0);
      }
    }
  }

  // Runs the rotation over the files, under the tracer when kill_at is set.
  testsupport::RunResult rotate(const std::vector<HostFile>& files, long kill_at = 0) {
    testsupport::RunOptions o = {.args = {"--rotate", "--key-stdin", "--key-file=" + keyFile()},
                                 .input = std::string(kNewKeyHex) + "\n"};
    for (const HostFile& f : files) o.args.push_back(at(f.path));
    if (kill_at == 0) return testsupport::runVornKeyfile(o);
    // The sanitizer build's leak check needs ptrace of its own, which a traced
    // program cannot have; the run that nothing traces keeps it.
    o.env = {"ASAN_OPTIONS=detect_leaks=0"};
    o.args.insert(o.args.begin(), {std::to_string(kill_at), testsupport::programPath("vorn_keyfile")});
    return testsupport::runProgram(SYSCALL_KILL_PATH, o);
  }

  // Whether the file opens, to its text, under the key file at key_path.
  bool opensUnder(const char* name, const std::string& key_path) {
    std::string bytes;
    size_t len = 0;
    char* text =
        testsupport::readFile(at(name), &bytes) ? vorn_decrypts_from(bytes.c_str(), key_path.c_str(), &len) : nullptr;
    bool opens = text != nullptr && text != vorn_empty_text && std::string(text, len) == plain(name);
    if (text != vorn_empty_text) std::free(text);
    return opens;
  }

  // Every file opens under the key file or the old key kept beside it, and no
  // plain text is on disk.
  void expectEveryFileOpens(const std::vector<HostFile>& files) {
    std::string old_key, copy = path("old-key-copy");
    unlink(copy.c_str());
    if (testsupport::readFile(oldKeyFile(), &old_key)) {
      ASSERT_TRUE(testsupport::writeFile(copy, old_key, 0444));
    }
    for (const HostFile& f : files) EXPECT_TRUE(opensUnder(f.path, keyFile()) || opensUnder(f.path, copy)) << f.path;
    for (const char* folder : kFolders) {
      for (const auto& [name, content] : testsupport::folderSnapshot(host() + folder))
        EXPECT_EQ(content.find("HOSTNAME"), std::string::npos) << name;
    }
  }

  // The rotation is complete: the new key in the key file, every file under
  // it (those that were, byte for byte as they were), locked as before, and
  // nothing else left.
  void expectComplete(const std::vector<HostFile>& files, const std::map<std::string, std::string>& before) {
    uint8_t key[kCipherKeyBytes];
    ASSERT_TRUE(vorn_load_key(keyFile().c_str(), key));
    EXPECT_EQ(ciphertest::Bytes(key, key + kCipherKeyBytes), ciphertest::fromHex(kNewKeyHex));
    EXPECT_EQ(testsupport::entryNames(host() + "/key"), std::vector<std::string>{".vorn_yelto"});
    for (const HostFile& f : files) {
      struct stat st;
      EXPECT_TRUE(opensUnder(f.path, keyFile())) << f.path;
      EXPECT_TRUE(stat(at(f.path).c_str(), &st) == 0 && (st.st_mode & 07777) == 0444) << f.path;
      EXPECT_EQ(isLocked(at(f.path)), f.locked && can_lock_) << f.path;
      std::string now;
      if (f.under_new) {
        EXPECT_TRUE(testsupport::readFile(at(f.path), &now) && now == before.at(f.path)) << f.path;
      }
    }
    EXPECT_EQ(testsupport::entryNames(host() + "/etc").size() + testsupport::entryNames(host() + "/var").size(),
              files.size());
  }

  std::map<std::string, std::string> hostSnapshot() {
    std::map<std::string, std::string> all;
    for (const char* folder : kFolders) {
      for (const auto& [name, what] : testsupport::folderSnapshot(host() + folder))
        all[folder + ("/" + name)] = what + (isLocked(host() + folder + "/" + name) ? " locked" : "");
    }
    return all;
  }

  void SetUp() override {
    InTempDir::SetUp();
    char shm[] = "/dev/shm/vorn_rotate.XXXXXX";
    host_ = mkdtemp(shm) != nullptr ? std::string(shm) + "/h" : path("h");
    // quordex_helper needs root and a file system with the attribute.
    can_lock_ = geteuid() == 0 && testsupport::writeFile(path("probe"), "", 0644) &&
                testsupport::runQuordexHelper({.args = {path("probe"), "1"}}).exit_code == 0;
    for (const char* hex : {kTestKeyHex, kNewKeyHex, kThirdKeyHex}) key_bytes_[hex] = keyFileBytes(hex);
  }

  void TearDown() override {
    if (host_.rfind("/dev/shm/", 0) == 0) testsupport::removeTree(host_.substr(0, host_.size() - 2));
    InTempDir::TearDown();
  }

  std::string host_;
  std::map<std::string, std::string> key_bytes_;
  bool can_lock_ = false;
};

// Killed at every system-call stop in turn, on a host that starts the
// rotation and on one where a killed rotation had put the new key file in
// place and carried one file over.
TEST_F(RotateKey, KilledAtEveryStopNoFileIsLockedOutAndARerunFinishes) {
  const struct {
    const char* name;
    const char* key;
    const char* old_key;
    std::vector<HostFile> files;
  } hosts[] = {
      {"starting", kTestKeyHex, nullptr, {{"etc/a", false, false}, {"etc/b", true, false}, {"var/c", false, false}}},
      {"resumed", kNewKeyHex, kTestKeyHex, {{"etc/a", false, false}, {"etc/b", true, false}, {"var/c", false, true}}},
  };
  for (const auto& h : hosts) {
    SCOPED_TRACE(h.name);
    long stop = 1;
    bool fresh = false;  // the host is as makeHost left it
    std::map<std::string, std::string> before, host_before;
    for (; stop < 5000; stop += kStopStep) {
      SCOPED_TRACE("killed at stop " + std::to_string(stop));
      if (!fresh) {
        makeHost(h.key, h.old_key, h.files);
        for (const HostFile& f : h.files) ASSERT_TRUE(testsupport::readFile(at(f.path), &before[f.path]));
        host_before = hostSnapshot();
      }
      testsupport::RunResult r = rotate(h.files, stop);
      if (r.exit_code == 77) GTEST_SKIP() << "ptrace is not permitted here";
      expectEveryFileOpens(h.files);
      bool untouched = r.exit_code != 137;
      // A kill that left the host as it was needs no rerun (the last run, which
      // nothing kills, starts from that state), nor a new host.
      fresh = !untouched && hostSnapshot() == host_before;
      if (fresh) continue;
      if (!untouched) r = rotate(h.files);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.err, "");
      expectComplete(h.files, before);
      if (untouched || HasFailure()) break;
    }
    std::printf("%s: killed at %ld of %ld stops\n", h.name, (stop - 1) / kStopStep, stop - 1);
    EXPECT_GT(stop, 100);
  }
}

// What the rotation refuses changes nothing; run again once done, it says
// there is nothing to do.
TEST_F(RotateKey, RefusesWhatItCannotCarryOverAndChangesNothing) {
  const std::string plain_file = testsupport::configText({});
  const struct {
    const char* key;
    std::vector<HostFile> files;
    std::string extra_bytes;  // etc/x, when given
    int status;
    std::string err;
    std::string out;
  } cases[] = {
      {kTestKeyHex,
       {{"etc/a", false, false}},
       plain_file,
       3,
       "vorn_keyfile: \"" + at("etc/x") + "\" is plain, not encrypted",
       ""},
      {kTestKeyHex,
       {{"etc/a", true, false}},
       encrypted(plain_file, kThirdKeyHex),
       3,
       "vorn_keyfile: \"" + at("etc/x") + "\" opens under no key on the host, nor under the new key",
       ""},
      {kNewKeyHex,
       {{"etc/a", true, true}},
       "",
       0,
       "",
       "vorn_keyfile: nothing to do: \"" + keyFile() + "\" and every file are under the new key already\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err + c.out);
    makeHost(c.key, nullptr, c.files);
    std::vector<HostFile> files = c.files;
    if (!c.extra_bytes.empty()) {
      ASSERT_TRUE(testsupport::writeFile(at("etc/x"), c.extra_bytes, 0444));
      files.push_back({"etc/x", false, false});
    }
    std::map<std::string, std::string> before[std::size(kFolders)];
    for (size_t i = 0; i < std::size(kFolders); i++) before[i] = testsupport::folderSnapshot(host() + kFolders[i]);
    testsupport::RunResult r = rotate(files);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(r.out, c.out);
    for (size_t i = 0; i < std::size(kFolders); i++)
      EXPECT_EQ(testsupport::folderSnapshot(host() + kFolders[i]), before[i]);
  }
}

}  // namespace
