#include "platform/command_line.h"

#include "platform/unique_handle.h"

namespace tarnwick {

bool IsQuotablePath(const std::wstring& path) {
  return path.find(L'"') == std::wstring::npos && (path.empty() || path.back() != L'\\');
}

std::optional<std::wstring> QuoteArgument(const std::wstring& path) {
  if (!IsQuotablePath(path)) return std::nullopt;
  std::wstring quoted;
  quoted.reserve(path.size() + 2);
  quoted.append(L"\"").append(path).append(L"\"");
  return quoted;
}

std::vector<std::wstring> SplitCommandLine(const CommandLineCalls& calls) {
  int count = 0;
  wchar_t** arguments = calls.CommandLineToArgvW(calls.GetCommandLineW(), &count);
  if (arguments == nullptr) return {};
  // Released on every way out, an allocation failure below included.
  const UniqueLocalMemory owner(arguments);
  std::vector<std::wstring> split;
  split.reserve(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) split.emplace_back(arguments[i]);
  return split;
}

}  // namespace tarnwick
