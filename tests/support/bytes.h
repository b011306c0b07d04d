// Helpers shared by the codec tests: bytes written as hex text, and
// equivalence of values by their ordering.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"

namespace tarnwick {

// "07 03 61" or "070361" -> {0x07, 0x03, 0x61}: pairs of hex digits, blanks
// between them ignored.
inline std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::string pair;
  for (char c : hex) {
    if (c == ' ') continue;
    pair += c;
    if (pair.size() == 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
      pair.clear();
    }
  }
  return bytes;
}

inline std::vector<uint8_t> Bytes(const std::string& hex, const std::string& text) {
  std::vector<uint8_t> bytes = Bytes(hex);
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

// The pieces one after another.
inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> pieces) {
  std::vector<uint8_t> bytes;
  for (const auto& piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
  return bytes;
}

// Upper-case hex with a space between bytes, so failures read like the wire.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof(pair), text.empty() ? "%02X" : " %02X", b);
    text += pair;
  }
  return text;
}

inline bool Equivalent(const flutter::EncodableValue& a, const flutter::EncodableValue& b) {
  return !(a < b) && !(b < a);
}

}  // namespace tarnwick
