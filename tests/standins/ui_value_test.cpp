#include "standins/embedding/ui_value.h"

#include <gtest/gtest.h>

#include "standins/embedding/hex.h"

namespace tarnwick::standin {
namespace {

UiValue Parse(const std::string& text) {
  size_t pos = 0;
  UiValue value;
  std::string error;
  EXPECT_TRUE(ParseValue(text, &pos, &value, &error)) << text << ": " << error;
  return value;
}

std::string EncodedHex(const std::string& notation) {
  std::vector<uint8_t> out;
  EncodeValue(Parse(notation), &out);
  return ToHex(out);
}

// The host's codec writes these bytes for these values; the stand-in UI
// must agree or every expectation would compare against the wrong bytes.
TEST(UiValueTest, EncodesAsTheStandardCodec) {
  const struct {
    const char* notation;
    const char* hex;
  } cases[] = {
      {"null", "00"},
      {"true", "01"},
      {"false", "02"},
      {"5", "0305000000"},
      {"-1L", "04ffffffffffffffff"},
      {"2147483648", "040000008000000000"},  // too big for 32 bits
      {"1.0", "0600000000000000000000000000f03f"},
      {"\"abc\"", "0703616263"},
      {"\"\"", "0700"},
      {"\"\\x00\\\"\"",
       "0702"
       "0022"},
      {"bytes[1, 255]", "080201ff"},
      {"i32[1]",
       "09010000"
       "01000000"},
      {"i64[]", "0a00"},
      {"f64[0.5]",
       "0b01000000000000"
       "000000000000e03f"},
      {"f32[1]",
       "0e010000"
       "0000803f"},
      {"[true, false]", "0c020102"},
      // Keys in the host's order: by alternative, then by content.
      {"{\"tx_bytes\": -1L, \"rx_bytes\": -1L}",
       "0d02"
       "0708"
       "72785f6279746573"
       "04ffffffffffffffff"
       "0708"
       "74785f6279746573"
       "04ffffffffffffffff"},
      {"{\"a\": 1, 2: null, true: null}",
       "0d03"
       "0100"
       "030200000000"
       "070161"
       "0301000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodedHex(c.notation), c.hex) << c.notation;
  std::vector<uint8_t> long_string;
  EncodeValue(UiValue::String(std::string(254, 'x')), &long_string);
  EXPECT_EQ(ToHex(long_string).substr(0, 8), "07fefe00");
}

TEST(UiValueTest, EnvelopesMatchTheHostsFraming) {
  EXPECT_EQ(ToHex(EncodeSuccessEnvelope(UiValue::Null())), "0000");
  EXPECT_EQ(ToHex(EncodeSuccessEnvelope(UiValue::Bool(true))), "0001");
  // The double pads from the start of the envelope.
  EXPECT_EQ(ToHex(EncodeSuccessEnvelope(Parse("1.5"))).size(), 32u);
  EXPECT_EQ(ToHex(EncodeErrorEnvelope("E", "", UiValue::Null())), "010701450000");
  const std::string cancelled = "Connection cancelled";
  EXPECT_EQ(ToHex(EncodeErrorEnvelope("CANCELLED", cancelled, UiValue::Null())),
            "01"
            "0709"
            "43414e43454c4c4544"
            "0714" +
                ToHex(std::vector<uint8_t>(cancelled.begin(), cancelled.end())) + "00");
  EXPECT_EQ(ToHex(EncodeMethodCall("getStatus", UiValue::Null())),
            "0709"
            "676574537461747573"
            "00");
}

TEST(UiValueTest, RoundTripsThroughDecodeAndFormat) {
  for (const char* notation :
       {"null",
        "[1, -2L, 0.25, \"a\\x01\", bytes[0, 7], i32[-5, 6], i64[7], f64[1.5, -2.0], "
        "f32[0.5], {\"k\": [true, {}]}, []]"}) {
    const UiValue value = Parse(notation);
    std::vector<uint8_t> bytes;
    EncodeValue(value, &bytes);
    size_t offset = 0;
    UiValue decoded;
    ASSERT_TRUE(DecodeValue(bytes.data(), bytes.size(), &offset, &decoded)) << notation;
    EXPECT_EQ(offset, bytes.size());
    EXPECT_TRUE(ValueEqual(decoded, value)) << notation;
    EXPECT_EQ(FormatValue(Parse(FormatValue(decoded))), FormatValue(decoded));
  }
  EXPECT_EQ(FormatValue(Parse("{\"b\": 1, \"a\": 2.0}")), "{\"a\": 2.0, \"b\": 1}");
}

TEST(UiValueTest, DecoderRejectsHostileInput) {
  const struct {
    const char* name;
    std::string hex;
  } cases[] = {
      {"empty", ""},
      {"unknown type", "0f"},
      {"truncated int", "030100"},
      {"string longer than the buffer", "0705616263"},
      {"huge declared list",
       "0cff"
       "ffffff7f"},
      {"map missing its value",
       "0d01"
       "0701"
       "61"},
      {"double without its padding",
       "06"
       "000000000000f03f"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ParseHex(c.hex, &bytes));
    size_t offset = 0;
    UiValue value;
    EXPECT_FALSE(DecodeValue(bytes.data(), bytes.size(), &offset, &value)) << c.name;
  }
  // Nesting just within the bound decodes; one level more does not.
  std::vector<uint8_t> deep;
  for (int i = 0; i < kMaxNesting; ++i) deep.insert(deep.end(), {0x0c, 0x01});
  deep.push_back(0x00);
  size_t offset = 0;
  UiValue value;
  EXPECT_TRUE(DecodeValue(deep.data(), deep.size(), &offset, &value));
  deep.insert(deep.begin(), {0x0c, 0x01});
  offset = 0;
  EXPECT_FALSE(DecodeValue(deep.data(), deep.size(), &offset, &value));
}

TEST(UiValueTest, DescribesReplies) {
  const struct {
    const char* hex;
    const char* text;
  } cases[] = {
      {"", "empty"},
      {"0001", "success true"},
      {"0007026f6b", "success \"ok\""},
      {"01"
       "070145"
       "00"
       "00",
       "error \"E\" null null"},
      {"01"
       "070145"
       "070178"
       "0305000000",
       "error \"E\" \"x\" 5"},
      {"02", "undecodable"},
      {"0001ff", "undecodable"},  // trailing garbage
      {"01"
       "0305000000"
       "00"
       "00",
       "undecodable"},  // code not a string
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ParseHex(c.hex, &bytes));
    EXPECT_EQ(DescribeReply(bytes), c.text) << c.hex;
  }
}

TEST(UiValueTest, NotationErrorsSayWhere) {
  for (const char* bad :
       {"", "nul", "[1,", "{1 2}", "\"open", "\"\\q\"", "\"\\x4\"", "bytes[256]", "i32[3000000000]",
        "i64[1.5]", "{\"a\": 1, \"a\": 2}", "99999999999999999999", "1e"}) {
    size_t pos = 0;
    UiValue value;
    std::string error;
    EXPECT_FALSE(ParseValue(bad, &pos, &value, &error)) << bad;
    EXPECT_NE(error.find("column"), std::string::npos) << bad << ": " << error;
  }
}

}  // namespace
}  // namespace tarnwick::standin
