// The UTF-8 form of wide text and of the arguments the UI receives.
#include "entry/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tarnwick::CommandLineArgumentsUtf8;
using tarnwick::Utf8FromWide;

TEST(Utf8Test, ConvertsOrGivesEmpty) {
  struct Case {
    const wchar_t* text;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, ""},
      {L"", ""},
      {L"tarnwick", "tarnwick"},
      {L"caf\u00e9 \u20ac", "caf\xc3\xa9 \xe2\x82\xac"},
      // A surrogate pair is one code point, four bytes.
      {L"\xd83d\xde00", "\xf0\x9f\x98\x80"},
      // Unpaired surrogates, high or low, anywhere: nothing is converted.
      {L"a\xd800"
       L"b",
       ""},
      {L"\xdc00", ""},
      {L"end\xd83d", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8FromWide(c.text), c.expected)
        << "case " << (c.text == nullptr ? std::string("null") : std::to_string(&c - cases));
  }
}

TEST(Utf8Test, EveryArgumentAfterTheProgramKeepsItsPlace) {
  const std::vector<std::string> expected = {"word", "", "h\xc3\xa9llo", "", "last", "/service"};
  EXPECT_EQ(CommandLineArgumentsUtf8({L"C:\\Program Files\\tarnwick.exe", L"word", L"",
                                      L"h\u00e9llo", L"a\xd800", L"last", L"/service"}),
            expected);
}

TEST(Utf8Test, ProgramPathAloneGivesNoArguments) {
  EXPECT_TRUE(CommandLineArgumentsUtf8({L"tarnwick.exe"}).empty());
  // A command line that could not be split has not even the program path.
  EXPECT_TRUE(CommandLineArgumentsUtf8({}).empty());
}

}  // namespace
