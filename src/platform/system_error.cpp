#include "platform/system_error.h"

#include <cwchar>

#include "platform/unique_handle.h"

namespace tarnwick {

std::wstring SystemErrorText(DWORD code) {
  wchar_t number[16];
  if ((code & 0x80000000u) != 0) {
    std::swprintf(number, sizeof(number) / sizeof(number[0]), L"0x%08lX",
                  static_cast<unsigned long>(code));
  } else {
    std::swprintf(number, sizeof(number) / sizeof(number[0]), L"%lu",
                  static_cast<unsigned long>(code));
  }

  // The system's own words, in the user's language; they end in a line
  // break, which would split the diagnostic line.
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const UniqueLocalMemory text_owner(text);
  std::wstring words(text != nullptr ? text : L"", text != nullptr ? length : 0);
  while (!words.empty() &&
         (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ')) {
    words.pop_back();
  }
  if (words.empty()) return number;
  return std::wstring(number) + L" (" + words + L")";
}

std::wstring CallFailed(const wchar_t* call, DWORD code) {
  return std::wstring(call) + L" failed: " + SystemErrorText(code);
}

}  // namespace tarnwick
