#include "service/debug_log.h"

#include <windows.h>

namespace {
constexpr wchar_t kLinePrefix[] = L"[Tarnwick] ";
}  // namespace

void DebugLog(const std::wstring& message) {
  std::wstring line;
  line.reserve(sizeof(kLinePrefix) / sizeof(wchar_t) + message.size() + 1);
  line.append(kLinePrefix).append(message).push_back(L'\n');
  ::OutputDebugStringW(line.c_str());
}
