#include "entry/utf8.h"

#include <climits>
#include <cwchar>

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

namespace tarnwick {

std::vector<std::string> CommandLineArgumentsUtf8(const CommandLineCalls& calls) {
  int count = 0;
  wchar_t** arguments = calls.CommandLineToArgvW(calls.GetCommandLineW(), &count);
  if (arguments == nullptr) return {};
  // Released on every way out, an allocation failure below included.
  struct ArgvOwner {
    const CommandLineCalls& calls;
    wchar_t** argv;
    ~ArgvOwner() { calls.LocalFree(argv); }
  } owner{calls, arguments};
  std::vector<std::string> utf8;
  if (count > 1) utf8.reserve(static_cast<size_t>(count - 1));
  // Index 0 is the program path, which the UI does not get.
  for (int i = 1; i < count; ++i) utf8.push_back(Utf8FromWide(arguments[i]));
  return utf8;
}

}  // namespace tarnwick

std::vector<std::string> CommandLineArgumentsUtf8() {
  return tarnwick::CommandLineArgumentsUtf8(tarnwick::CommandLineCalls{});
}
