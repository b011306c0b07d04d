// Hex text for byte strings: the transcript writes bytes this way and
// scripts write expected replies and raw messages this way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::standin {

// Two lowercase hex digits per byte, no separators.
std::string ToHex(const uint8_t* bytes, size_t size);
inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  return ToHex(bytes.data(), bytes.size());
}

// Reads pairs of hex digits (either case); blanks and tabs between pairs
// are allowed, but not inside one. False on any other character or on an
// odd digit; `out` is then left empty.
[[nodiscard]] bool ParseHex(const std::string& text, std::vector<uint8_t>* out);

}  // namespace tarnwick::standin
