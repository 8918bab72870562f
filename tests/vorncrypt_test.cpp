#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base64.h"
#include "cipher_test_support.h"
#include "vorncrypt.h"
#include "test_support.h"
#include "vorncrypt_internal.h"

namespace {

using ciphertest::Bytes;
using ciphertest::fromHex;

constexpr size_t kUntouched = 0xC0FFEE;

std::vector<uint32_t> words(const std::string& field) {
  std::vector<uint32_t> out;
  std::istringstream in(field);
  std::string w;
  while (in >> w) out.push_back(static_cast<uint32_t>(std::stoul(w, nullptr, 16)));
  return out;
}

// Runs one public operation; false when there is no result, checking that
// out_len was then left alone and otherwise that a zero byte follows the bytes.
bool crypt(bool encrypt, const Bytes& in, const void* key, Bytes* out) {
  size_t len = kUntouched;
  void* got = encrypt ? vorn_encrypt(in.data(), in.size(), key, &len) : vorn_decrypt(in.data(), in.size(), key, &len);
  if (got == nullptr) {
    EXPECT_EQ(len, kUntouched);
    return false;
  }
  const uint8_t* b = static_cast<const uint8_t*>(got);
  out->assign(b, b + len);
  EXPECT_EQ(b[len], 0);
  std::free(got);
  return true;
}

TEST(XxteaWords, MatchesPublishedVectors) {
  auto rows = ciphertest::readVectors("xxtea_words.txt");
  ASSERT_EQ(rows.size(), 8u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row[1]);
    std::vector<uint32_t> key = words(row[0]), v = words(row[1]), want = words(row[2]);
    vorn_uint_encrypt(v.data(), v.size(), key.data());
    EXPECT_EQ(v, want);
    vorn_uint_decrypt(v.data(), v.size(), key.data());
    EXPECT_EQ(v, words(row[1]));
  }
}

TEST(XxteaWords, LeavesASingleWordUnchanged) {
  uint32_t key[4] = {1, 2, 3, 4};
  uint32_t v = 0x12345678;
  EXPECT_EQ(vorn_uint_encrypt(&v, 1, key), &v);
  EXPECT_EQ(v, 0x12345678u);
  EXPECT_EQ(vorn_uint_decrypt(&v, 1, key), &v);
  EXPECT_EQ(v, 0x12345678u);
}

TEST(VornCrypt, MatchesIndependentByteVectors) {
  auto rows = ciphertest::readVectors("xxtea_bytes.txt");
  ASSERT_EQ(rows.size(), 12u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row[3]);
    Bytes key = fromHex(row[0]), plain = fromHex(row[1]), want = fromHex(row[2]);
    Bytes got;
    ASSERT_TRUE(crypt(true, plain, key.data(), &got));
    EXPECT_EQ(got, want);
    char* coded = base64_encode(got.data(), got.size());
    ASSERT_NE(coded, nullptr);
    EXPECT_STREQ(coded, row[3].c_str());
    std::free(coded);
    Bytes back;
    ASSERT_TRUE(crypt(false, want, key.data(), &back));
    EXPECT_EQ(back, plain);
  }
}

// Every length up to past the longest configuration text, under keys with and
// without zero bytes: the ciphertext has ceil(L / 4) + 1 words and decrypts back.
TEST(VornCrypt, RoundTripsEveryLength) {
  std::mt19937 gen = testsupport::seededGenerator();
  std::vector<Bytes> keys = {Bytes(16, 0), Bytes(16, 0xFF), ciphertest::bytesOf("0123456789ABCDEF"),
                             ciphertest::randomBytes(gen, 16), ciphertest::randomBytes(gen, 16)};
  keys.back()[7] = 0;
  for (const Bytes& key : keys) {
    for (size_t n = 1; n <= 330; n++) {
      SCOPED_TRACE(testing::Message() << "length " << n << " key " << &key - keys.data());
      Bytes plain = ciphertest::randomBytes(gen, n), cipher, back;
      ASSERT_TRUE(crypt(true, plain, key.data(), &cipher));
      ASSERT_EQ(cipher.size(), 4 * ((n + 3) / 4 + 1));
      ASSERT_TRUE(crypt(false, cipher, key.data(), &back));
      EXPECT_EQ(back, plain);
    }
  }
}

TEST(VornCrypt, KeyIsCutAtItsFirstZeroByte) {
  // Keys are read through 32-byte buffers: bytes after the 16th must not matter.
  auto key = [](const char* s, size_t n) {
    Bytes k(32, 0x77);
    std::memcpy(k.data(), s, n);
    return k;
  };
  const struct {
    const char* name;
    Bytes a, b;
    bool same;
  } cases[] = {
      {"agreeing up to the zero byte", key("key\0garbage-here", 16), key("key\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), true},
      {"first byte zero acts as all zero", key("\0bcdefghijklmnop", 16), Bytes(32, 0), true},
      {"no zero byte: all 16 count", key("0123456789abcdef", 16), key("0123456789abcdeF", 16), false},
      {"bytes after the 16th ignored", key("0123456789abcdef", 16), key("0123456789abcdefXYZ", 19), true},
      {"zero in last place", key("0123456789abcde\0", 16), key("0123456789abcde", 15), false},
  };
  Bytes plain = ciphertest::bytesOf("\" AUTH_KEY\n\" RATE_LIMIT 3 30\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes ca, cb;
    ASSERT_TRUE(crypt(true, plain, c.a.data(), &ca));
    ASSERT_TRUE(crypt(true, plain, c.b.data(), &cb));
    EXPECT_EQ(ca == cb, c.same);
  }
}

TEST(VornCrypt, RefusesEmptyInputAndBlocksOfOneWord) {
  Bytes keys[] = {Bytes(16, 0), ciphertest::bytesOf("0123456789ABCDEF")};
  for (const Bytes& key : keys) {
    for (size_t n = 0; n <= 4; n++) {
      SCOPED_TRACE(n);
      Bytes in(n, 0x5A), out;
      EXPECT_FALSE(crypt(false, in, key.data(), &out));
      if (n == 0) {
        EXPECT_FALSE(crypt(true, in, key.data(), &out));
      }
    }
  }
}

// A three-word block whose length word is chosen, then encrypted: decryption
// accepts exactly the counts that need two data words.
TEST(VornCrypt, AcceptsOnlyLengthWordsThatFitTheBlock) {
  const struct {
    uint32_t length_word;
    bool accepted;
  } cases[] = {{0, false}, {4, false}, {5, true}, {8, true}, {9, false}, {12, false}, {0xFFFFFFFF, false}};
  Bytes key = ciphertest::bytesOf("0123456789ABCDEF");
  size_t key_words = 0;
  uint32_t* k = vorn_to_uint_array(key.data(), key.size(), 0, &key_words);
  ASSERT_NE(k, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length_word);
    uint32_t block[3] = {0x64636261, 0x68676665, c.length_word};
    vorn_uint_encrypt(block, 3, k);
    Bytes cipher(12);
    std::memcpy(cipher.data(), block, 12);  // test hosts are little-endian, as the packing is
    Bytes plain;
    ASSERT_EQ(crypt(false, cipher, key.data(), &plain), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(plain, ciphertest::bytesOf(std::string("abcdefgh", c.length_word)));
    }
  }
  std::free(k);
}

// Sizes whose computation wraps on a 32-bit build, or lengths beyond the 32-bit
// length word: no result, and nothing read from the one-byte input.
TEST(VornCrypt, RefusesSizesThatDoNotFit) {
  uint8_t byte = 1;
  uint8_t key[16] = {1};
  size_t len = kUntouched;
  EXPECT_EQ(vorn_encrypt(&byte, SIZE_MAX, key, &len), nullptr);
  EXPECT_EQ(vorn_to_uint_array(&byte, SIZE_MAX, 1, &len), nullptr);
  uint32_t word = 0;
  EXPECT_EQ(vorn_to_ubyte_array(&word, (SIZE_MAX - 1) / 4 + 1, 0, &len), nullptr);
  if (sizeof(size_t) > 4) {
    size_t beyond = static_cast<size_t>(UINT32_MAX) + 1;
    EXPECT_EQ(vorn_encrypt(&byte, beyond, key, &len), nullptr);
  }
  EXPECT_EQ(len, kUntouched);
}

// ---------------------------------------------------------------------------
// Key loading and the text operations, on the committed key file
// (tests/fixtures/test.vorn_yelto, whose key is kTestKeyHex).

using testsupport::kTestKeyFile;
using testsupport::kTestKeyHex;

const Bytes kKey = fromHex(kTestKeyHex);

std::string fixture(const std::string& name) {
  std::string text;
  EXPECT_TRUE(testsupport::readFile(testsupport::fixturePath(name), &text)) << name;
  return text;
}

const std::string kKeyFileText = fixture("test.vorn_yelto");

// The encryption of text under key_hex, from tests/fixtures/texts.txt.
std::string knownText(const std::string& key_hex, const std::string& text) {
  std::istringstream rows(fixture("texts.txt"));
  std::string line;
  std::string start = key_hex + " : " + text + " : ";
  while (std::getline(rows, line)) {
    if (line.rfind(start, 0) == 0) return line.substr(start.size());
  }
  ADD_FAILURE() << "no known answer for " << text;
  return "";
}

// A key file whose material holds key among a non-zero filler, except for a
// zero byte at zero_at.
std::string scrambled(const Bytes& key, size_t zero_at) {
  Bytes material(kKeyMaterialBytes, 0xA5);
  material[zero_at] = 0;
  char text[kScrambledKeyChars];
  EXPECT_TRUE(vorn_scramble_key(key.data(), material.data(), text));
  return std::string(text, sizeof text);
}

bool keyAreaIsZero() {
  for (char c : seed_key)
    if (c != 0) return false;
  return true;
}

class KeyLoad : public testsupport::InTempDir {
 protected:
  // Loads path, checks the key area against the expected result and clears it.
  void expectLoad(const std::string& path, int want, const Bytes& key = kKey) {
    int got = getSeedKeyFromFile(path.c_str());
    EXPECT_EQ(got, want);
    if (got == 1) {
      EXPECT_EQ(Bytes(seed_key, seed_key + key.size()), key);
    } else {
      EXPECT_TRUE(keyAreaIsZero());
    }
    std::memset(seed_key, 0, sizeof seed_key);
  }
};

TEST_F(KeyLoad, AcceptsOnlyReadOnlyRegularFiles) {
  const struct {
    mode_t mode;
    int want;
  } cases[] = {{0444, 1},  {0644, 1},  {04444, 1},  {04644, 1},  {0440, -1}, {0400, -1},
               {0666, -1}, {0744, -1}, {02444, -1}, {01444, -1}, {0445, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode);
    ASSERT_TRUE(testsupport::writeFile(kTestKeyFile, kKeyFileText, c.mode));
    expectLoad(kTestKeyFile, c.want);
    unlink(kTestKeyFile);
  }
}

TEST_F(KeyLoad, FollowsSymbolicLinksAndRefusesOtherFileTypes) {
  ASSERT_TRUE(testsupport::writeFile("good", kKeyFileText, 0444));
  ASSERT_EQ(mkdir("dir", 0555), 0);
  ASSERT_EQ(mkfifo("fifo", 0444), 0);
  const struct {
    const char* name;
    const char* target;  // what the key path links to; null: nothing there
    int want;
  } cases[] = {
      {"link to a good file", "good", 1},    {"directory", "dir", -1},         {"FIFO without a writer", "fifo", -1},
      {"character device", "/dev/zero", -1}, {"dangling link", "missing", -1}, {"nothing", nullptr, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.target != nullptr) {
      ASSERT_EQ(symlink(c.target, kTestKeyFile), 0);
    }
    alarm(20);  // a blocking open of the FIFO would never return
    expectLoad(kTestKeyFile, c.want);
    alarm(0);
    unlink(kTestKeyFile);
  }
}

TEST_F(KeyLoad, NeedsEightyEightCharactersBeforeAnyZeroByte) {
  const std::string text = kKeyFileText;
  std::string hundred = text + std::string(12, 'x');
  hundred[49] = '\0';
  std::string zero_last = text;
  zero_last[87] = '\0';
  const struct {
    const char* name;
    std::string content;
    int want;
  } cases[] = {
      {"exactly 88", text, 1},
      {"87", text.substr(0, 87), -1},
      {"more after the 88th ignored", text + "\nanything", 1},
      {"zero byte right after the 88th", text + std::string(1, '\0') + "xyz", 1},
      {"100 bytes, the 50th zero", hundred, -1},
      {"88th character zero", zero_last, -1},
      {"empty", "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testsupport::writeFile(kTestKeyFile, c.content, 0444));
    expectLoad(kTestKeyFile, c.want);
    unlink(kTestKeyFile);
  }
}

// The decoded material is taken as a text: when a zero byte cuts it short, every
// index the second pass uses must still lie inside it.
TEST_F(KeyLoad, MaterialCutShortIsRefusedUnlessItIsEmpty) {
  ASSERT_TRUE(testsupport::writeFile("empty", scrambled(kKey, 0), 0444));
  ASSERT_TRUE(testsupport::writeFile("short", scrambled(kKey, kKeyMaterialBytes - 1), 0444));
  expectLoad("empty", 1, Bytes(16, 0));
  expectLoad("short", -1);

  // A key whose first byte is zero encrypts as sixteen zero bytes do.
  ASSERT_EQ(symlink("empty", kTestKeyFile), 0);
  char* coded = vorn_encrypts("text");
  ASSERT_NE(coded, nullptr);
  EXPECT_STREQ(coded, knownText("00111111111111111111111111111111", "text").c_str());
  std::free(coded);
}

// Any key placed among any filler loads back as that key.
TEST_F(KeyLoad, ScrambledKeysLoadBack) {
  std::mt19937 gen = testsupport::seededGenerator();
  for (int round = 0; round < 200; round++) {
    Bytes key = ciphertest::randomBytes(gen, 16);
    for (uint8_t& b : key) b = b == 0 ? 1 : b;
    Bytes material = ciphertest::randomBytes(gen, kKeyMaterialBytes);
    for (uint8_t& b : material) b = b == 0 ? 1 : b;
    char text[kScrambledKeyChars];
    ASSERT_TRUE(vorn_scramble_key(key.data(), material.data(), text));
    ASSERT_TRUE(testsupport::writeFile(kTestKeyFile, std::string(text, sizeof text), 0444));
    expectLoad(kTestKeyFile, 1, key);
    unlink(kTestKeyFile);
  }
}

// The committed key file loads the committed key: a change to the index table or
// the scrambling, which would strand every key file on a host, fails here.
TEST_F(KeyLoad, CommittedKeyFileYieldsItsKey) {
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  expectLoad(kTestKeyFile, 1);
}

// Only the first 88 characters count, so only they are read: the key of a large
// file loads at the cost of a small one.
TEST_F(KeyLoad, ReadsOnlyWhatCounts) {
  ASSERT_TRUE(testsupport::writeFile(kTestKeyFile, kKeyFileText, 0644));
  ASSERT_EQ(truncate(kTestKeyFile, 64 << 20), 0);  // sparse: no space on disk
  // "rchar: N" opens /proc/self/io: the bytes this process has read so far.
  long long read_before = -1, read_after = -1;
  std::string rchar;
  std::ifstream("/proc/self/io") >> rchar >> read_before;
  expectLoad(kTestKeyFile, 1);
  std::ifstream("/proc/self/io") >> rchar >> read_after;
  ASSERT_GE(read_before, 0);
  EXPECT_LT(read_after - read_before, 4096);
  // Larger than one read returns: refused, as when the whole file was read.
  ASSERT_EQ(truncate(kTestKeyFile, 0x7ffff001), 0);
  expectLoad(kTestKeyFile, -1);
}

// Known answers computed apart from the code (tests/fixtures/make_fixtures.py),
// and the inverse giving every text back.
TEST_F(KeyLoad, TextsEncryptToTheirKnownAnswersAndBack) {
  ASSERT_TRUE(testsupport::installTestKey(dir_));
  const std::pair<std::string, std::string> cases[] = {
      {"a", knownText(kTestKeyHex, "a")},
      {"four", knownText(kTestKeyHex, "four")},
      {"five!", knownText(kTestKeyHex, "five!")},
      {fixture("defaults.plain"), fixture("defaults.encrypted")},
  };
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(text.size());
    char* coded = vorn_encrypts(text.c_str());
    ASSERT_NE(coded, nullptr);
    EXPECT_TRUE(keyAreaIsZero());
    EXPECT_EQ(coded, want);
    char* back = vorn_decrypts(coded);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(keyAreaIsZero());
    EXPECT_EQ(back, text);
    std::free(back);
    std::free(coded);
  }
}

// Whatever the outcome, the key area holds no key material afterwards.
TEST_F(KeyLoad, TextOperationsLeaveTheKeyAreaZero) {
  auto zeroAfter = [](char* got) {
    EXPECT_TRUE(keyAreaIsZero());
    return got;
  };
  EXPECT_EQ(zeroAfter(vorn_encrypts("text")), vorn_empty_text);  // no key file yet
  EXPECT_EQ(zeroAfter(vorn_decrypts("AAAAAAAAAAAA")), vorn_empty_text);
  ASSERT_TRUE(testsupport::writeFile(kTestKeyFile, kKeyFileText, 0444));
  EXPECT_EQ(zeroAfter(vorn_encrypts(nullptr)), nullptr);
  EXPECT_EQ(zeroAfter(vorn_encrypts("")), nullptr);
  EXPECT_EQ(zeroAfter(vorn_decrypts(nullptr)), nullptr);
  EXPECT_EQ(zeroAfter(vorn_decrypts("abc")), nullptr);   // not base64 by its length
  EXPECT_EQ(zeroAfter(vorn_decrypts("AAAA")), nullptr);  // a single word
}

}  // namespace
