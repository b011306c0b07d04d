#include "standins/embedding/hex.h"

namespace tarnwick::standin {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ToHex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t') {
      ++i;
      continue;
    }
    const int high = DigitValue(text[i]);
    const int low = i + 1 < text.size() ? DigitValue(text[i + 1]) : -1;
    if (high < 0 || low < 0) {
      out->clear();
      return false;
    }
    out->push_back(static_cast<uint8_t>(high << 4 | low));
    i += 2;
  }
  return true;
}

}  // namespace tarnwick::standin
