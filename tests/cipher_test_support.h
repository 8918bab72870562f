// Helpers of the cipher tests: bytes from hex and text, random bytes, and the
// known-answer vector files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace ciphertest {

using Bytes = std::vector<uint8_t>;

inline Bytes fromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The lines of a vector file, comments and blank lines dropped, each split at ':'
// into trimmed fields.
inline std::vector<std::vector<std::string>> readVectors(const std::string& name) {
  std::string text;
  EXPECT_TRUE(testsupport::readFile(std::string(VORN_CIPHER_VECTORS) + "/" + name, &text)) << name;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, ':')) {
      size_t b = field.find_first_not_of(' ');
      size_t e = field.find_last_not_of(' ');
      fields.push_back(b == std::string::npos ? "" : field.substr(b, e - b + 1));
    }
    rows.push_back(fields);
  }
  return rows;
}

inline Bytes randomBytes(std::mt19937& gen, size_t n) {
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

}  // namespace ciphertest
