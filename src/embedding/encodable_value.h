// The value carried by every message on a standard channel: a tagged union
// of fourteen alternatives whose index order is fixed, because the ordering
// of values and the codec's type bytes are both chosen per index.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

// Holds one value of a type the program chooses. It has no wire form; the
// standard serializer writes it as null. Moving one copies the held value
// (there is deliberately no move constructor), so a moved-from holder still
// holds its value.
class CustomValue {
 public:
  template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, CustomValue>>>
  explicit CustomValue(T&& value) : value_(std::forward<T>(value)) {}

  CustomValue(const CustomValue& other) = default;
  CustomValue& operator=(const CustomValue& other) = default;
  ~CustomValue() = default;

  const std::any& value() const { return value_; }

  // The held value if it is a T, otherwise null.
  template <typename T>
  const T* TryGetValue() const {
    return std::any_cast<T>(&value_);
  }

  // Custom values order by where their holders live, never by content, so a
  // copy is a different map key from its original.
  friend bool operator<(const CustomValue& a, const CustomValue& b) {
    return std::less<const CustomValue*>()(&a, &b);
  }

 private:
  std::any value_;
};

using EncodableValueList = std::vector<EncodableValue>;
using EncodableValueMap = std::map<EncodableValue, EncodableValue>;

namespace internal {
// The alternatives in their fixed index order. The float list comes last,
// after the custom alternative, not beside the double list.
using EncodableValueVariant = std::variant<std::monostate,        // 0 null
                                           bool,                  // 1
                                           int32_t,               // 2
                                           int64_t,               // 3
                                           double,                // 4
                                           std::string,           // 5
                                           std::vector<uint8_t>,  // 6
                                           std::vector<int32_t>,  // 7
                                           std::vector<int64_t>,  // 8
                                           std::vector<double>,   // 9
                                           EncodableValueList,    // 10
                                           EncodableValueMap,     // 11
                                           CustomValue,           // 12
                                           std::vector<float>>;   // 13
}  // namespace internal

// Index of each alternative, for code that switches on index().
enum EncodableValueIndex : size_t {
  kNullIndex = 0,
  kBoolIndex = 1,
  kInt32Index = 2,
  kInt64Index = 3,
  kDoubleIndex = 4,
  kStringIndex = 5,
  kUInt8ListIndex = 6,
  kInt32ListIndex = 7,
  kInt64ListIndex = 8,
  kDoubleListIndex = 9,
  kListIndex = 10,
  kMapIndex = 11,
  kCustomIndex = 12,
  kFloatListIndex = 13,
};

// Inspection goes through the standard variant operations on the value:
// index(), std::get_if<T>(&value) to probe, std::get<T>(value) for checked
// access (std::bad_variant_access on the wrong alternative).
class EncodableValue : public internal::EncodableValueVariant {
 public:
  using Variant = internal::EncodableValueVariant;
  using Variant::Variant;
  using Variant::operator=;

  EncodableValue() = default;

  // Without this a character pointer would convert to bool, a standard
  // conversion that beats the user-defined one to std::string.
  EncodableValue(const char* string) : Variant(std::string(string)) {}
  EncodableValue& operator=(const char* string) {
    Variant::operator=(std::string(string));
    return *this;
  }

  EncodableValue(const EncodableValue& other) = default;
  EncodableValue(EncodableValue&& other) = default;
  EncodableValue& operator=(const EncodableValue& other) = default;
  EncodableValue& operator=(EncodableValue&& other) = default;
  ~EncodableValue() = default;

  bool IsNull() const { return index() == kNullIndex; }
};

// The ordering of values, and the key order of EncodableValueMap: by
// alternative index first, then by content.
bool operator<(const EncodableValue& a, const EncodableValue& b);

}  // namespace flutter
