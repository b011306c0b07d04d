#include "standins/embedding/hex.h"

#include <gtest/gtest.h>

namespace tarnwick::standin {
namespace {

TEST(HexTest, FormatsLowercaseAndParsesWithBlanks) {
  const std::vector<uint8_t> bytes = {0x00, 0x0d, 0xab, 0xff};
  EXPECT_EQ(ToHex(bytes), "000dabff");
  std::vector<uint8_t> parsed;
  ASSERT_TRUE(ParseHex("00 0D\tab FF", &parsed));
  EXPECT_EQ(parsed, bytes);
  ASSERT_TRUE(ParseHex("", &parsed));
  EXPECT_TRUE(parsed.empty());
}

TEST(HexTest, RejectsOddDigitsSplitPairsAndOtherCharacters) {
  for (const char* bad : {"0", "abc", "0 0", "0g", "0x01", "01,02"}) {
    std::vector<uint8_t> parsed = {1};
    EXPECT_FALSE(ParseHex(bad, &parsed)) << bad;
    EXPECT_TRUE(parsed.empty()) << bad;
  }
}

}  // namespace
}  // namespace tarnwick::standin
