#include "embedding/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace flutter {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(EncodableValue, EachPayloadTypeSelectsItsAlternative) {
  struct Case {
    const char* what;
    EncodableValue value;
    size_t index;
  };
  const Case cases[] = {
      {"default", EncodableValue(), kNullIndex},
      {"bool", EncodableValue(false), kBoolIndex},
      {"int32", EncodableValue(int32_t{7}), kInt32Index},
      {"small int64 stays 64-bit", EncodableValue(int64_t{1}), kInt64Index},
      {"double", EncodableValue(0.5), kDoubleIndex},
      {"std::string", EncodableValue(std::string("x")), kStringIndex},
      {"character pointer is a string, never a bool", EncodableValue("config"), kStringIndex},
      {"empty character string", EncodableValue(""), kStringIndex},
      {"bytes", EncodableValue(std::vector<uint8_t>{1}), kUInt8ListIndex},
      {"int32 list", EncodableValue(std::vector<int32_t>{1}), kInt32ListIndex},
      {"int64 list", EncodableValue(std::vector<int64_t>{1}), kInt64ListIndex},
      {"double list", EncodableValue(std::vector<double>{1}), kDoubleListIndex},
      {"list", EncodableValue(EncodableValueList{}), kListIndex},
      {"map", EncodableValue(EncodableValueMap{}), kMapIndex},
      {"custom", EncodableValue(CustomValue(42)), kCustomIndex},
      {"float list", EncodableValue(std::vector<float>{1}), kFloatListIndex},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.index(), c.index) << c.what;
  }
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_EQ(std::get<std::string>(EncodableValue("config")), "config");

  EncodableValue assigned(true);
  assigned = "text";
  EXPECT_EQ(std::get<std::string>(assigned), "text");
}

// Each row: first orders strictly before second.
TEST(EncodableValue, OrdersByIndexThenContent) {
  struct Case {
    const char* what;
    EncodableValue first;
    EncodableValue second;
  };
  const Case cases[] = {
      {"null before false", EncodableValue(), EncodableValue(false)},
      {"false before true", EncodableValue(false), EncodableValue(true)},
      {"any int32 before any int64", EncodableValue(int32_t{5}), EncodableValue(int64_t{0})},
      {"any int64 before any double", EncodableValue(std::numeric_limits<int64_t>::max()),
       EncodableValue(-1e300)},
      {"int32 signed", EncodableValue(int32_t{-3}), EncodableValue(int32_t{2})},
      {"int64 signed", EncodableValue(int64_t{-1}), EncodableValue(int64_t{0})},
      {"double", EncodableValue(-0.5), EncodableValue(0.25)},
      {"prefix first", EncodableValue("a"), EncodableValue("ab")},
      {"then bytes", EncodableValue("ab"), EncodableValue("b")},
      {"empty string first", EncodableValue(""), EncodableValue("\x01")},
      {"bytes unsigned", EncodableValue("z"), EncodableValue("\xC3\xA9")},
      {"embedded NUL compared", EncodableValue(std::string("a\0a", 3)),
       EncodableValue(std::string("a\0b", 3))},
      {"byte list unsigned", EncodableValue(std::vector<uint8_t>{0x01}),
       EncodableValue(std::vector<uint8_t>{0xFF})},
      {"int32 list signed", EncodableValue(std::vector<int32_t>{-1}),
       EncodableValue(std::vector<int32_t>{0})},
      {"list prefix", EncodableValue(std::vector<int32_t>{1, 2}),
       EncodableValue(std::vector<int32_t>{1, 2, 0})},
      {"int64 list", EncodableValue(std::vector<int64_t>{5, -9}),
       EncodableValue(std::vector<int64_t>{5, 1})},
      {"NaN pairs passed over", EncodableValue(std::vector<double>{kNaN, 1}),
       EncodableValue(std::vector<double>{2, 2})},
      {"double list prefix", EncodableValue(std::vector<double>{kNaN}),
       EncodableValue(std::vector<double>{kNaN, 0})},
      {"float list", EncodableValue(std::vector<float>{1.5f}),
       EncodableValue(std::vector<float>{2.5f})},
      {"byte list before equal-looking int32 list", EncodableValue(std::vector<uint8_t>{9}),
       EncodableValue(std::vector<int32_t>{1})},
      {"empty list before empty map", EncodableValue(EncodableValueList{}),
       EncodableValue(EncodableValueMap{})},
      {"list elements by the same ordering",
       EncodableValue(EncodableValueList{EncodableValue(int64_t{9})}),
       EncodableValue(EncodableValueList{EncodableValue("a")})},
      {"list proper prefix", EncodableValue(EncodableValueList{EncodableValue(1)}),
       EncodableValue(EncodableValueList{EncodableValue(1), EncodableValue()})},
      {"map by key first",
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(9)}}),
       EncodableValue(EncodableValueMap{{EncodableValue("b"), EncodableValue(1)}})},
      {"map by value on equal keys",
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(1)}}),
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(2)}})},
      {"map proper prefix",
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(1)}}),
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(1)},
                                        {EncodableValue("b"), EncodableValue()}})},
      {"custom before float list", EncodableValue(CustomValue(1)),
       EncodableValue(std::vector<float>{})},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.first < c.second) << c.what;
    EXPECT_FALSE(c.second < c.first) << c.what;
  }
}

TEST(EncodableValue, EquivalentValuesOrderNeitherWay) {
  struct Case {
    const char* what;
    EncodableValue a;
    EncodableValue b;
  };
  const Case cases[] = {
      {"two nulls", EncodableValue(), EncodableValue()},
      {"equal strings", EncodableValue("same"), EncodableValue(std::string("same"))},
      {"NaN and a number", EncodableValue(kNaN), EncodableValue(1.0)},
      {"lists differing only by NaN", EncodableValue(std::vector<double>{kNaN, 1}),
       EncodableValue(std::vector<double>{3, 1})},
      {"equal nested lists",
       EncodableValue(EncodableValueList{EncodableValue(EncodableValueList{})}),
       EncodableValue(EncodableValueList{EncodableValue(EncodableValueList{})})},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.a < c.b) << c.what;
    EXPECT_FALSE(c.b < c.a) << c.what;
  }
}

// Deeply nested equal lists must compare in time linear in the depth; an
// ordering that asks both directions at each level never finishes this.
TEST(EncodableValue, NestedValuesCompareInLinearTime) {
  auto nested = [](int depth, int32_t innermost) {
    EncodableValue value(innermost);
    for (int i = 0; i < depth; ++i) {
      value = EncodableValue(EncodableValueList{std::move(value)});
    }
    return value;
  };
  const EncodableValue a = nested(200, 1);
  EXPECT_FALSE(a < nested(200, 1));
  EXPECT_TRUE(a < nested(200, 2));

  EncodableValueMap keys;
  keys[a] = EncodableValue(1);
  keys[nested(200, 1)] = EncodableValue(2);
  EXPECT_EQ(keys.size(), 1u);
}

TEST(EncodableValue, MapKeysFollowTheOrdering) {
  EncodableValueMap map;
  map[EncodableValue(int32_t{1})] = EncodableValue("int32");
  map[EncodableValue(int64_t{1})] = EncodableValue("int64");
  EXPECT_EQ(map.size(), 2u) << "integers of different widths are distinct keys";

  EncodableValueMap stats;
  stats[EncodableValue("tx_bytes")] = EncodableValue(int64_t{-1});
  stats[EncodableValue("rx_bytes")] = EncodableValue(int64_t{-1});
  EXPECT_EQ(std::get<std::string>(stats.begin()->first), "rx_bytes");

  EncodableValueMap arguments;
  EXPECT_TRUE(arguments.insert({EncodableValue("config"), EncodableValue("first")}).second);
  EXPECT_FALSE(
      arguments.insert({EncodableValue(std::string("config")), EncodableValue("second")}).second);
  EXPECT_EQ(std::get<std::string>(arguments[EncodableValue("config")]), "first");
  EXPECT_EQ(arguments.size(), 1u);

  const auto found = arguments.find(EncodableValue("config"));
  ASSERT_NE(found, arguments.end());
  EXPECT_EQ(std::get<std::string>(found->second), "first");
  EXPECT_EQ(arguments.find(EncodableValue("Config")), arguments.end());
}

TEST(EncodableValue, CustomValuesOrderByHolderNotContent) {
  EncodableValue first(CustomValue(std::string("payload")));
  EncodableValue copy = first;
  EXPECT_TRUE(first < copy || copy < first);

  EncodableValueMap map;
  map[first] = EncodableValue(1);
  map[copy] = EncodableValue(2);
  EXPECT_EQ(map.size(), 2u);

  const auto* held = std::get<CustomValue>(copy).TryGetValue<std::string>();
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(*held, "payload");
  EXPECT_EQ(std::get<CustomValue>(copy).TryGetValue<int>(), nullptr);

  // A custom payload is copied even when its value is moved.
  EncodableValue moved = std::move(first);
  EXPECT_EQ(*std::get<CustomValue>(first).TryGetValue<std::string>(), "payload");
  EXPECT_EQ(*std::get<CustomValue>(moved).TryGetValue<std::string>(), "payload");
}

}  // namespace
}  // namespace flutter
