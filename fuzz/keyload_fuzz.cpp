// The key loader on arbitrary key-file bytes, through its path-taking core
// getSeedKeyFromFile: the bytes are written to a file of mode 0444 in a private
// temporary directory. A file shorter than 88 bytes, or with a zero byte among
// its first 88, must be refused; every refusal leaves the key area all zero.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "vorncrypt_internal.h"

namespace {

std::string key_dir;
std::string key_file;

void removeKeyFile() {
  unlink(key_file.c_str());
  rmdir(key_dir.c_str());
}

bool keyAreaIsZero() {
  for (char c : seed_key)
    if (c != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vorn_keyload_fuzz.XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  key_dir = dir;
  key_file = dir + "/key";
  std::atexit(removeKeyFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unlink(key_file.c_str());
  int fd = open(key_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size));
  FUZZ_CHECK(fchmod(fd, 0444) == 0);
  FUZZ_CHECK(close(fd) == 0);

  // Between text operations the key area is all zero; a refusal keeps it so,
  // also after the loader has copied key text into it.
  std::memset(seed_key, 0, sizeof seed_key);
  int result = getSeedKeyFromFile(key_file.c_str());
  FUZZ_CHECK(result == 1 || result == -1);
  bool full_text = size >= kScrambledKeyChars && std::memchr(data, 0, kScrambledKeyChars) == nullptr;
  if (!full_text) FUZZ_CHECK(result == -1);
  if (result == -1) FUZZ_CHECK(keyAreaIsZero());
  return 0;
}
