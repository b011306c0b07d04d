// How failures are told: the system's code with its own text, on one line.
#include "platform/system_error.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tarnwick::SystemErrorText;

TEST(SystemErrorTest, CodeWithTheSystemsTextOnOneLine) {
  const struct {
    DWORD code;
    std::wstring starts;  // the number as written, then " (" when there is text
    bool has_text;
  } rows[] = {
      {ERROR_ACCESS_DENIED, L"5 (", true},
      // An HRESULT reads in hex, as the SDK writes them.
      {static_cast<DWORD>(E_ACCESSDENIED), L"0x80070005 (", true},
      // No text for it: the number alone.
      {0x2345678, L"36984440", false},
  };
  for (const auto& row : rows) {
    const std::wstring text = SystemErrorText(row.code);
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(text.compare(0, row.starts.size(), row.starts), 0);
    EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << "one line";
    if (row.has_text) {
      EXPECT_GT(text.size(), row.starts.size() + 1);
      EXPECT_EQ(text.back(), L')');
    } else {
      EXPECT_EQ(text, row.starts);
    }
  }
}

}  // namespace
