// The application's top-level window: one native overlapped window of its own
// class, created at a logical size scaled to its monitor's DPI, following the
// user's light or dark app theme in its title bar, with one child window (the
// content) kept filling its client area. Derived classes fill it through the
// OnCreate/OnDestroy/MessageHandler hooks.
#pragma once

#include <windows.h>
#include <dwmapi.h>

#include <cstdint>
#include <string>

#include "embedding/flutter_windows_api.h"
#include "platform/calls.h"
#include "platform/system_library.h"
#include "platform/unique_handle.h"

namespace tarnwick {

// The class of the application's top-level window; another start of the
// application finds the running one by it.
inline constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// A position in logical pixels (96 per inch).
struct Point {
  int32_t x;
  int32_t y;
  Point(int32_t x, int32_t y) : x(x), y(y) {}
};

// A size in logical pixels (96 per inch).
struct Size {
  int32_t width;
  int32_t height;
  Size(int32_t width, int32_t height) : width(width), height(height) {}
};

// The Windows calls of Win32Window whose effect Wine cannot show (the
// monitor's DPI, the title-bar attribute, the user's theme) or that tests
// make fail. Each window keeps its own copy.
struct WindowCalls {
  Call<decltype(::MonitorFromPoint)> MonitorFromPoint = ::MonitorFromPoint;
  Call<decltype(::FlutterDesktopGetDpiForMonitor)> FlutterDesktopGetDpiForMonitor =
      ::FlutterDesktopGetDpiForMonitor;
  Call<decltype(::CreateWindowExW)> CreateWindowExW = ::CreateWindowExW;
  Call<decltype(::RegGetValueW)> RegGetValueW = ::RegGetValueW;
  // dwmapi.dll is not a known DLL: taken from System32 only.
  Call<decltype(::DwmSetWindowAttribute)> DwmSetWindowAttribute =
      SystemLibraryCall<decltype(::DwmSetWindowAttribute)>(L"dwmapi.dll", "DwmSetWindowAttribute",
                                                           HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  // Scales the title bar and borders with the monitor's DPI. Looked up at
  // run time: the export exists only on Windows 10 1607 and later.
  Call<decltype(::EnableNonClientDpiScaling)> EnableNonClientDpiScaling =
      SystemLibraryCall<decltype(::EnableNonClientDpiScaling)>(L"user32.dll",
                                                               "EnableNonClientDpiScaling", FALSE);
};

// Window-pixel value of a logical coordinate at the given scale factor,
// truncated toward zero and kept within 32 bits.
int32_t Scale(int32_t logical, double scale_factor);

class Win32Window {
 public:
  explicit Win32Window(WindowCalls calls = {});
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window, hidden, with the given title, at origin and
  // size given in logical pixels and scaled to the DPI of the monitor
  // nearest to origin. False when the window cannot be created or OnCreate
  // refuses it. A window that already exists is destroyed first.
  [[nodiscard]] bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Shows the window; true when it was visible before.
  bool Show();

  // Runs OnDestroy, then destroys the native window if there is one; the
  // last window object going away also unregisters the window class.
  void Destroy();

  // Makes content the child filling the client area, and focuses it.
  void SetChildContent(HWND content);

  HWND GetHandle() const { return window_handle_.get(); }

  // When set, destroying the native window ends the message loop.
  void SetQuitOnClose(bool quit_on_close);

  RECT GetClientArea();

 protected:
  // Handles sizing, focus, DPI changes, theme changes and destruction;
  // overrides call it for what they do not handle.
  virtual LRESULT MessageHandler(HWND window, UINT const message, WPARAM const wparam,
                                 LPARAM const lparam) noexcept;

  // Called once the native window exists; false makes Create fail.
  virtual bool OnCreate();

  // Called when the native window goes.
  virtual void OnDestroy();

 private:
  static LRESULT CALLBACK WndProc(HWND const window, UINT const message, WPARAM const wparam,
                                  LPARAM const lparam) noexcept;

  // Applies the user's app theme (light or dark) to the title bar.
  void UpdateTheme(HWND const window);

  const WindowCalls calls_;
  bool quit_on_close_ = false;
  // Set while the window is created (WM_NCCREATE); let go without a second
  // destroy when the system destroys the window (WM_DESTROY).
  UniqueWindow window_handle_;
  HWND child_content_ = nullptr;
};

// Number of live Win32Window objects, and whether the window class is
// registered; for tests.
int ActiveWindowCount();
bool WindowClassRegistered();

}  // namespace tarnwick
