#include "entry/utf8.h"

#include <windows.h>

#include <climits>
#include <cwchar>

namespace tarnwick {

std::string Utf8FromWide(const wchar_t* text) {
  if (text == nullptr) return std::string();
  // WC_ERR_INVALID_CHARS makes an unpaired surrogate fail the conversion
  // instead of silently turning into U+FFFD.
  const int with_nul =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
  if (with_nul <= 1) return std::string();
  const size_t wide_length = std::wcslen(text);
  if (wide_length > static_cast<size_t>(INT_MAX)) return std::string();
  std::string utf8(static_cast<size_t>(with_nul - 1), '\0');
  const int written =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(wide_length),
                            utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
  if (written == 0) return std::string();
  return utf8;
}

std::vector<std::string> CommandLineArgumentsUtf8(const std::vector<std::wstring>& arguments) {
  std::vector<std::string> utf8;
  if (arguments.size() > 1) utf8.reserve(arguments.size() - 1);
  // The first element is the program path, which the UI does not get.
  for (size_t i = 1; i < arguments.size(); ++i) utf8.push_back(Utf8FromWide(arguments[i].c_str()));
  return utf8;
}

}  // namespace tarnwick
