#include "entry/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Utf8FromWide, ConvertsOrGivesEmpty) {
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
      {L"a\xd800" L"b", ""},
      {L"\xdc00", ""},
      {L"end\xd83d", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8FromWide(c.text), c.expected)
        << "case " << (c.text == nullptr ? std::string("null") : std::to_string(&c - cases));
  }
}

// The fake command line and what the fake calls saw.
const wchar_t* g_command_line = L"";
bool g_split_fails = false;
std::vector<HLOCAL> g_freed;
LPWSTR* g_split_result = nullptr;

LPWSTR WINAPI FakeGetCommandLineW() { return const_cast<LPWSTR>(g_command_line); }

LPWSTR* WINAPI FakeCommandLineToArgvW(LPCWSTR command_line, int* count) {
  if (g_split_fails) return nullptr;
  g_split_result = ::CommandLineToArgvW(command_line, count);
  return g_split_result;
}

HLOCAL WINAPI FakeLocalFree(HLOCAL memory) {
  g_freed.push_back(memory);
  return ::LocalFree(memory);
}

class CommandLineArgumentsUtf8Test : public ::testing::Test {
 protected:
  void SetUp() override {
    g_split_fails = false;
    g_freed.clear();
    g_split_result = nullptr;
    calls_.GetCommandLineW = FakeGetCommandLineW;
    calls_.CommandLineToArgvW = FakeCommandLineToArgvW;
    calls_.LocalFree = FakeLocalFree;
  }

  std::vector<std::string> Arguments(const wchar_t* command_line) {
    g_command_line = command_line;
    return tarnwick::CommandLineArgumentsUtf8(calls_);
  }

  tarnwick::CommandLineCalls calls_;
};

TEST_F(CommandLineArgumentsUtf8Test, EveryArgumentAfterTheProgramKeepsItsPlace) {
  const std::vector<std::string> expected = {"word", "", "h\xc3\xa9llo", "", "last", "/service"};
  EXPECT_EQ(Arguments(L"\"C:\\Program Files\\tarnwick.exe\" word \"\" h\u00e9llo a\xd800 last "
                      L"/service"),
            expected);
  // The split array is released exactly once.
  ASSERT_EQ(g_freed.size(), 1u);
  EXPECT_EQ(g_freed[0], static_cast<HLOCAL>(g_split_result));
}

TEST_F(CommandLineArgumentsUtf8Test, ProgramPathAloneGivesNoArguments) {
  EXPECT_TRUE(Arguments(L"tarnwick.exe").empty());
  EXPECT_EQ(g_freed.size(), 1u);
}

TEST_F(CommandLineArgumentsUtf8Test, FailedSplitGivesEmptyListAndFreesNothing) {
  g_split_fails = true;
  EXPECT_TRUE(Arguments(L"tarnwick.exe one two").empty());
  EXPECT_TRUE(g_freed.empty());
}

}  // namespace
