#include "service/debug_log.h"

namespace tarnwick {
namespace {
constexpr wchar_t kLinePrefix[] = L"[Tarnwick] ";
}  // namespace

void DebugLog(const std::wstring& message, const Call<decltype(::OutputDebugStringW)>& output) {
  std::wstring line;
  line.reserve(sizeof(kLinePrefix) / sizeof(wchar_t) + message.size() + 1);
  line.append(kLinePrefix).append(message).push_back(L'\n');
  output(line.c_str());
}

}  // namespace tarnwick
