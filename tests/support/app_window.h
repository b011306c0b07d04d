// The interactive application's top-level window as another process sees
// it: finding it by its process, counting the windows of its class, and a
// probe that keeps asking it a question it must answer at once.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnwick::e2e {

// The window's class and title, spelled here on their own.
inline constexpr wchar_t kAppWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
inline constexpr wchar_t kAppWindowTitle[] = L"tarnwick";

// The application's top-level window of the process, visible or not; null
// when none exists within the time.
[[nodiscard]] HWND FindAppWindow(DWORD pid, DWORD timeout_ms);

// Top-level windows of the application's class, of any process.
[[nodiscard]] int CountAppWindows();

// Sends WM_NULL to the window every interval from a thread of its own, with
// SendMessageTimeoutW, and records how long each answer took: a window whose
// thread is blocked answers late. Stops when the window is gone.
class WindowProbe {
 public:
  static constexpr DWORD kIntervalMs = 20;

  explicit WindowProbe(HWND window);
  ~WindowProbe();
  WindowProbe(const WindowProbe&) = delete;
  WindowProbe& operator=(const WindowProbe&) = delete;

  // Ends the probing and waits for the thread.
  void Stop();

  // Answer times in milliseconds, in order; a question the window never
  // answered counts as the whole timeout.
  [[nodiscard]] std::vector<DWORD> answers() const;
  [[nodiscard]] DWORD worst_ms() const;

 private:
  void Run(HWND window);

  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<DWORD> answers_;
  std::thread thread_;
};

}  // namespace tarnwick::e2e
