#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base64.h"
#include "cipher_test_support.h"
#include "vorncrypt.h"
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

}  // namespace
