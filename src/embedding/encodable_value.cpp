#include "embedding/encodable_value.h"

#include <algorithm>
#include <cstring>

namespace flutter {

namespace {

// Three-way form of the ordering: negative when a orders first, positive
// when b does, zero when neither (equivalent, or a NaN is involved). Lists
// and maps recurse once per element; a two-way operator< would ask both
// directions at every level and take time exponential in the nesting.
int Compare(const EncodableValue& a, const EncodableValue& b);

template <typename T>
int CompareScalars(const T& a, const T& b) {
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;
}

// Byte-wise over the shorter length, bytes unsigned, then the shorter first;
// no locale and no UTF-8 decoding take part.
int CompareStrings(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (order != 0) return order;
  return CompareScalars(a.size(), b.size());
}

// Lexicographic: the first pair that is not equivalent decides (pairs of
// which neither is smaller, such as a NaN with anything, are passed over);
// otherwise a proper prefix orders first.
template <typename T, typename ElementCompare>
int CompareSequences(const T& a, const T& b, ElementCompare compare) {
  auto x = a.begin();
  auto y = b.begin();
  for (; x != a.end() && y != b.end(); ++x, ++y) {
    const int order = compare(*x, *y);
    if (order != 0) return order;
  }
  if (x == a.end()) return y == b.end() ? 0 : -1;
  return 1;
}

template <typename T>
int CompareVectors(const std::vector<T>& a, const std::vector<T>& b) {
  return CompareSequences(a, b, CompareScalars<T>);
}

int CompareEntries(const EncodableValueMap::value_type& x, const EncodableValueMap::value_type& y) {
  const int order = Compare(x.first, y.first);
  return order != 0 ? order : Compare(x.second, y.second);
}

int Compare(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return CompareScalars(a.index(), b.index());
  switch (a.index()) {
    case kNullIndex: return 0;
    case kBoolIndex: return CompareScalars(std::get<bool>(a), std::get<bool>(b));
    case kInt32Index: return CompareScalars(std::get<int32_t>(a), std::get<int32_t>(b));
    case kInt64Index: return CompareScalars(std::get<int64_t>(a), std::get<int64_t>(b));
    case kDoubleIndex: return CompareScalars(std::get<double>(a), std::get<double>(b));
    case kStringIndex: return CompareStrings(std::get<std::string>(a), std::get<std::string>(b));
    case kUInt8ListIndex:
      return CompareVectors(std::get<std::vector<uint8_t>>(a), std::get<std::vector<uint8_t>>(b));
    case kInt32ListIndex:
      return CompareVectors(std::get<std::vector<int32_t>>(a), std::get<std::vector<int32_t>>(b));
    case kInt64ListIndex:
      return CompareVectors(std::get<std::vector<int64_t>>(a), std::get<std::vector<int64_t>>(b));
    case kDoubleListIndex:
      return CompareVectors(std::get<std::vector<double>>(a), std::get<std::vector<double>>(b));
    case kFloatListIndex:
      return CompareVectors(std::get<std::vector<float>>(a), std::get<std::vector<float>>(b));
    case kListIndex:
      return CompareSequences(std::get<EncodableValueList>(a), std::get<EncodableValueList>(b),
                              Compare);
    case kMapIndex:
      return CompareSequences(std::get<EncodableValueMap>(a), std::get<EncodableValueMap>(b),
                              CompareEntries);
    case kCustomIndex: return CompareScalars(std::get<CustomValue>(a), std::get<CustomValue>(b));
    default:
      // Both valueless after a failed assignment: equivalent.
      return 0;
  }
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) { return Compare(a, b) < 0; }

}  // namespace flutter
