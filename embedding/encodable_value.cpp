#include "embedding/encodable_value.h"

#include <algorithm>
#include <cstring>

namespace flutter {

namespace {

// Byte-wise over the shorter length, bytes unsigned, then the shorter first;
// no locale and no UTF-8 decoding take part.
bool StringLess(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  return order != 0 ? order < 0 : a.size() < b.size();
}

// Lexicographic with a proper prefix first. Pairs of which neither is
// smaller (equal, or a NaN) are passed over, which is what the standard
// algorithm does with operator<.
template <typename T>
bool SequenceLess(const std::vector<T>& a, const std::vector<T>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool MapLess(const EncodableValueMap& a, const EncodableValueMap& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const EncodableValueMap::value_type& x,
         const EncodableValueMap::value_type& y) {
        if (x.first < y.first) return true;
        if (y.first < x.first) return false;
        return x.second < y.second;
      });
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index();
  switch (a.index()) {
    case kNullIndex:
      return false;
    case kBoolIndex:
      return !std::get<bool>(a) && std::get<bool>(b);
    case kInt32Index:
      return std::get<int32_t>(a) < std::get<int32_t>(b);
    case kInt64Index:
      return std::get<int64_t>(a) < std::get<int64_t>(b);
    case kDoubleIndex:
      return std::get<double>(a) < std::get<double>(b);
    case kStringIndex:
      return StringLess(std::get<std::string>(a), std::get<std::string>(b));
    case kUInt8ListIndex:
      return SequenceLess(std::get<std::vector<uint8_t>>(a),
                          std::get<std::vector<uint8_t>>(b));
    case kInt32ListIndex:
      return SequenceLess(std::get<std::vector<int32_t>>(a),
                          std::get<std::vector<int32_t>>(b));
    case kInt64ListIndex:
      return SequenceLess(std::get<std::vector<int64_t>>(a),
                          std::get<std::vector<int64_t>>(b));
    case kDoubleListIndex:
      return SequenceLess(std::get<std::vector<double>>(a),
                          std::get<std::vector<double>>(b));
    case kListIndex:
      return SequenceLess(std::get<EncodableValueList>(a),
                          std::get<EncodableValueList>(b));
    case kMapIndex:
      return MapLess(std::get<EncodableValueMap>(a),
                     std::get<EncodableValueMap>(b));
    case kCustomIndex:
      return std::get<CustomValue>(a) < std::get<CustomValue>(b);
    case kFloatListIndex:
      return SequenceLess(std::get<std::vector<float>>(a),
                          std::get<std::vector<float>>(b));
    default:
      // Both valueless after a failed assignment: equivalent.
      return false;
  }
}

}  // namespace flutter
