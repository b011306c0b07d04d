// The stand-in UI's own channel values: a small model of the standard
// message codec's values, with an encoder, a strict decoder and a readable
// notation (README.md, "Values"). It plays the engine's side of the channel,
// so it is written apart from the host's embedding layer and never links it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::standin {

// Type bytes as they appear on the wire.
enum class WireType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kDouble = 6,
  kString = 7,
  kBytes = 8,
  kInt32List = 9,
  kInt64List = 10,
  kDoubleList = 11,
  kList = 12,
  kMap = 13,
  kFloatList = 14,
};

struct UiValue {
  WireType type = WireType::kNull;
  int64_t integer = 0;            // kInt32, kInt64
  double real = 0;                // kDouble
  std::string text;               // kString; kBytes holds its bytes here too
  std::vector<int64_t> integers;  // kInt32List, kInt64List
  std::vector<double> reals;      // kDoubleList, kFloatList
  std::vector<UiValue> items;     // kList; kMap as key, value, key, value...

  static UiValue Null() { return UiValue(); }
  static UiValue Bool(bool b);
  static UiValue Int32(int32_t v);
  static UiValue Int64(int64_t v);
  static UiValue String(std::string s);
};

// Hostile-input bounds of the decoder.
constexpr int kMaxNesting = 64;

// Orders values as the host orders map keys: by alternative first, then by
// content. Maps are encoded in this order so that byte comparisons with the
// host's replies hold.
bool ValueLess(const UiValue& a, const UiValue& b);
bool ValueEqual(const UiValue& a, const UiValue& b);

// Appends the standard-codec encoding of `value`; padding is counted from
// the start of `out`, which is the start of the message.
void EncodeValue(const UiValue& value, std::vector<uint8_t>* out);

// Decodes one value at `*offset`, advancing it. Strict: truncated input,
// unknown type bytes, declared sizes beyond the bytes left and nesting
// deeper than kMaxNesting all fail (and leave `*offset` unspecified).
[[nodiscard]] bool DecodeValue(const uint8_t* bytes, size_t size, size_t* offset, UiValue* value);

// The notation. Parse reads one value starting at `*pos` (leading blanks
// skipped) and advances past it; on failure `error` says why.
[[nodiscard]] bool ParseValue(const std::string& text, size_t* pos, UiValue* value,
                              std::string* error);
std::string FormatValue(const UiValue& value);

// Quotes bytes the way the transcript does: printable ASCII as is, `"` and
// `\` escaped, everything else as \xNN.
std::string QuoteBytes(const std::string& bytes);

// Method-channel framing.
std::vector<uint8_t> EncodeMethodCall(const std::string& method, const UiValue& arguments);
std::vector<uint8_t> EncodeSuccessEnvelope(const UiValue& result);
// An empty message is written as null, as the host's codec does.
std::vector<uint8_t> EncodeErrorEnvelope(const std::string& code, const std::string& message,
                                         const UiValue& details);

// A reply for people: "empty", "success <v>", "error <code> <message>
// <details>" or "undecodable".
std::string DescribeReply(const uint8_t* bytes, size_t size);
inline std::string DescribeReply(const std::vector<uint8_t>& bytes) {
  return DescribeReply(bytes.data(), bytes.size());
}

}  // namespace tarnwick::standin
