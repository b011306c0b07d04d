#include "windows/win32_window.h"

#include <cmath>
#include <limits>
#include <utility>

#include "resources/resource.h"

namespace tarnwick {
namespace {

// The title-bar attribute; older SDK headers do not name it.
constexpr DWORD kDwmwaUseImmersiveDarkMode = 20;

constexpr const wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr const wchar_t kLightThemeValue[] = L"AppsUseLightTheme";

// The DPI that logical pixels are measured in.
constexpr UINT kBaseDpi = 96;

int g_active_window_count = 0;

// Whether the window class is registered; registered by the first Create
// and unregistered when the last window object goes.
class WindowClassRegistration {
 public:
  static WindowClassRegistration& Get() {
    static WindowClassRegistration instance;
    return instance;
  }

  const wchar_t* GetWindowClass(WNDPROC window_proc) {
    if (!registered_) {
      WNDCLASSW window_class{};
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.lpfnWndProc = window_proc;
      window_class.cbClsExtra = 0;
      window_class.cbWndExtra = 0;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hIcon = LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
      window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      window_class.hbrBackground = nullptr;
      window_class.lpszMenuName = nullptr;
      window_class.lpszClassName = kWindowClassName;
      RegisterClassW(&window_class);
      registered_ = true;
    }
    return kWindowClassName;
  }

  void UnregisterWindowClass() {
    UnregisterClassW(kWindowClassName, nullptr);
    registered_ = false;
  }

  bool registered() const { return registered_; }

 private:
  bool registered_ = false;
};

}  // namespace

int32_t Scale(int32_t logical, double scale_factor) {
  // Truncation toward zero; a product beyond 32 bits would make the
  // conversion undefined, so it is held at the nearest representable value.
  const double scaled = std::trunc(static_cast<double>(logical) * scale_factor);
  if (!(scaled >= static_cast<double>(std::numeric_limits<int32_t>::min()))) {
    return std::numeric_limits<int32_t>::min();
  }
  if (scaled > static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(scaled);
}

int ActiveWindowCount() { return g_active_window_count; }

bool WindowClassRegistered() { return WindowClassRegistration::Get().registered(); }

Win32Window::Win32Window(WindowCalls calls) : calls_(std::move(calls)) { ++g_active_window_count; }

Win32Window::~Win32Window() {
  --g_active_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();

  const wchar_t* window_class = WindowClassRegistration::Get().GetWindowClass(WndProc);

  const POINT target_point = {static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = calls_.MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  UINT dpi = calls_.FlutterDesktopGetDpiForMonitor(monitor);
  // A DPI of 0 means the query failed; scaling by it would ask for an
  // invisible window of no size at the screen's corner.
  if (dpi == 0) dpi = kBaseDpi;
  const double scale_factor = dpi / static_cast<double>(kBaseDpi);

  HWND window = calls_.CreateWindowExW(
      0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, Scale(origin.x, scale_factor),
      Scale(origin.y, scale_factor), Scale(size.width, scale_factor),
      Scale(size.height, scale_factor), nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window == nullptr) return false;

  UpdateTheme(window);
  return OnCreate();
}

bool Win32Window::Show() { return ShowWindow(window_handle_.get(), SW_SHOWNORMAL) != FALSE; }

void Win32Window::Destroy() {
  OnDestroy();
  window_handle_.reset();
  if (g_active_window_count == 0) {
    WindowClassRegistration::Get().UnregisterWindowClass();
  }
}

void Win32Window::SetChildContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_.get());
  RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
             TRUE);
  SetFocus(child_content_);
}

void Win32Window::SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }

RECT Win32Window::GetClientArea() {
  RECT frame{};
  GetClientRect(window_handle_.get(), &frame);
  return frame;
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

LRESULT CALLBACK Win32Window::WndProc(HWND const window, UINT const message, WPARAM const wparam,
                                      LPARAM const lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create_struct->lpCreateParams));
    auto* that = static_cast<Win32Window*>(create_struct->lpCreateParams);
    (void)that->calls_.EnableNonClientDpiScaling(window);
    that->window_handle_.reset(window);
    return DefWindowProcW(window, message, wparam, lparam);
  }
  // Messages such as WM_GETMINMAXINFO come before WM_NCCREATE, while no
  // object is attached yet.
  if (auto* that = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
    return that->MessageHandler(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::MessageHandler(HWND window, UINT const message, WPARAM const wparam,
                                    LPARAM const lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      // Let go first, so that Destroy does not destroy the window again.
      (void)window_handle_.release();
      OnDestroy();
      if (g_active_window_count == 0) {
        WindowClassRegistration::Get().UnregisterWindowClass();
      }
      if (quit_on_close_) PostQuitMessage(0);
      return 0;

    case WM_DPICHANGED: {
      auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE: {
      RECT frame = GetClientArea();
      if (child_content_ != nullptr) {
        MoveWindow(child_content_, frame.left, frame.top, frame.right - frame.left,
                   frame.bottom - frame.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (child_content_ != nullptr) SetFocus(child_content_);
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED: UpdateTheme(window); return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void Win32Window::UpdateTheme(HWND const window) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  const LSTATUS result =
      calls_.RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kLightThemeValue, RRF_RT_REG_DWORD, nullptr,
                          &light_mode, &light_mode_size);
  // No theme stored: the title bar keeps whatever mode it has.
  if (result != ERROR_SUCCESS) return;
  const BOOL enable_dark_mode = light_mode == 0;
  calls_.DwmSetWindowAttribute(window, kDwmwaUseImmersiveDarkMode, &enable_dark_mode,
                               sizeof(enable_dark_mode));
}

}  // namespace tarnwick
