#include "service/debug_log.h"

#include "platform/unique_handle.h"

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

void ReportLine(const std::wstring& message, const LineCalls& calls, WORD event_type) {
  DebugLog(message, calls.OutputDebugStringW);
  const UniqueEventSource source(calls.RegisterEventSourceW(nullptr, kEventSourceName));
  if (!source) return;
  const wchar_t* strings[] = {message.c_str()};
  (void)calls.ReportEventW(source.get(), event_type, 0, kLineEventId, nullptr, 1, 0, strings,
                           nullptr);
}

}  // namespace tarnwick
