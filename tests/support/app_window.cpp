#include "tests/support/app_window.h"

#include <algorithm>

namespace tarnwick::e2e {
namespace {

// Far above any bound a test asserts, so a late answer is measured, not cut.
constexpr UINT kAnswerTimeoutMs = 5000;

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK MatchProcess(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && ::lstrcmpW(name, kAppWindowClass) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CountClass(HWND window, LPARAM lparam) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (::lstrcmpW(name, kAppWindowClass) == 0) ++*reinterpret_cast<int*>(lparam);
  return TRUE;
}

}  // namespace

HWND FindAppWindow(DWORD pid, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    Search search{pid, nullptr};
    ::EnumWindows(&MatchProcess, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr || ::GetTickCount64() >= deadline) return search.found;
    ::Sleep(5);
  }
}

int CountAppWindows() {
  int count = 0;
  ::EnumWindows(&CountClass, reinterpret_cast<LPARAM>(&count));
  return count;
}

WindowProbe::WindowProbe(HWND window) : thread_([this, window] { Run(window); }) {}

WindowProbe::~WindowProbe() { Stop(); }

void WindowProbe::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<DWORD> WindowProbe::answers() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return answers_;
}

DWORD WindowProbe::worst_ms() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return answers_.empty() ? 0 : *std::max_element(answers_.begin(), answers_.end());
}

void WindowProbe::Run(HWND window) {
  while (!stop_ && ::IsWindow(window)) {
    LARGE_INTEGER frequency, before, after;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&before);
    DWORD_PTR ignored = 0;
    const LRESULT answered =
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &ignored);
    ::QueryPerformanceCounter(&after);
    // A window destroyed meanwhile gives no answer; that is the end, not a delay.
    if (answered == 0 && !::IsWindow(window)) break;
    const DWORD ms =
        answered == 0
            ? kAnswerTimeoutMs
            : static_cast<DWORD>((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      answers_.push_back(ms);
    }
    ::Sleep(kIntervalMs);
  }
}

}  // namespace tarnwick::e2e
