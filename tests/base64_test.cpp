#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base64.h"
#include "cipher_test_support.h"

namespace {

using ciphertest::Bytes;

constexpr size_t kUntouched = 0xC0FFEE;

// Decodes text; returns false when there is no result, checking that out_len
// was then left alone and otherwise that a zero byte follows the bytes.
bool decode(const std::string& text, Bytes* out) {
  size_t len = kUntouched;
  unsigned char* got = base64_decode(text.c_str(), &len);
  if (got == nullptr) {
    EXPECT_EQ(len, kUntouched);
    return false;
  }
  out->assign(got, got + len);
  EXPECT_EQ(got[len], 0);
  std::free(got);
  return true;
}

std::string encode(const Bytes& in) {
  char* got = base64_encode(in.data(), in.size());
  if (got == nullptr) return "<null>";
  std::string s(got);
  std::free(got);
  return s;
}

TEST(Base64, Rfc4648VectorsBothWays) {
  const struct {
    const char* plain;
    const char* coded;
  } cases[] = {
      {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plain);
    EXPECT_EQ(encode(ciphertest::bytesOf(c.plain)), c.coded);
    Bytes back;
    ASSERT_TRUE(decode(c.coded, &back));
    EXPECT_EQ(back, ciphertest::bytesOf(c.plain));
  }
}

TEST(Base64, EncodingNothingGivesNoResult) {
  unsigned char byte = 'x';
  EXPECT_EQ(base64_encode(&byte, 0), nullptr);
}

TEST(Base64, DecodesMalformedTextByArithmetic) {
  const struct {
    const char* name;
    std::string in;
    Bytes want;
  } cases[] = {
      {"one padded byte", "QQ==", {0x41}},
      {"two bytes", "QUI=", {0x41, 0x42}},
      {"three bytes", "QUJD", {0x41, 0x42, 0x43}},
      {"zero bytes in the data", "AAAA", {0, 0, 0}},
      {"star counts as minus one", "A*BC", {0xFF, 0xF0, 0x42}},
      {"minus one in fourth place borrows from no written byte", "AAA*", {0x00, 0x00, 0xFF}},
      {"equals in first place counts as minus one", "=AAA", {0xFC, 0x00, 0x00}},
      {"byte above 127 counts as minus one", "\200AAA", {0xFC, 0x00, 0x00}},
      {"byte above 127 in third place", "AA\377A", {0x00, 0xFF, 0xC0}},
      {"equals ends the group, last character unread", "AB=C", {0x00}},
      {"equals ending a group starts the next", "AB=CDEFG", {0x00, 0xFC, 0x20, 0xC4}},
      {"all padding", "====", {0xFB}},
      {"equals ending an inner group", "QUI=QUJD", {0x41, 0x42, 0xFD, 0x05, 0x09}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes got;
    ASSERT_TRUE(decode(c.in, &got));
    EXPECT_EQ(got, c.want);
  }
}

TEST(Base64, RefusesTextWhoseLengthIsNoMultipleOfFour) {
  for (const char* in : {"", "abc", "QUJD\n", "QUJDQ", "Zm9vYg="}) {
    SCOPED_TRACE(in);
    Bytes got;
    EXPECT_FALSE(decode(in, &got));
  }
}

TEST(Base64, RoundTripsEveryLength) {
  std::mt19937 gen = testsupport::seededGenerator();
  for (size_t n = 1; n <= 330; n++) {
    SCOPED_TRACE(n);
    Bytes in = ciphertest::randomBytes(gen, n);
    std::string coded = encode(in);
    ASSERT_EQ(coded.size(), 4 * ((n + 2) / 3));
    EXPECT_EQ(coded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
              n % 3 == 0 ? std::string::npos : coded.size() - (3 - n % 3));
    Bytes back;
    ASSERT_TRUE(decode(coded, &back));
    EXPECT_EQ(back, in);
  }
}

// On a 32-bit build, 4 * ceil(len / 3) + 1 wraps for these lengths; the result
// must be refused before anything is read or allocated.
TEST(Base64, RefusesLengthsWhoseSizeWouldNotFit) {
  unsigned char byte = 'x';
  size_t smallest = 3 * ((SIZE_MAX - 1) / 4) + 1;
  for (size_t len : {smallest, smallest + 2, SIZE_MAX}) {
    SCOPED_TRACE(len);
    EXPECT_EQ(base64_encode(&byte, len), nullptr);
  }
}

}  // namespace
