#include "windows/win32_window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/message_pump.h"

namespace tarnwick {
namespace {

// What the fake calls were asked, and what they answer.
struct FakeState {
  POINT monitor_point{};
  DWORD monitor_flags = 0;
  HMONITOR dpi_monitor = nullptr;
  UINT dpi = 96;
  bool fail_create = false;
  int create_x = 0, create_y = 0, create_width = 0, create_height = 0;
  DWORD create_style = 0;
  DWORD create_ex_style = 0;
  std::wstring create_class;
  std::wstring create_title;
  // Value of "AppsUseLightTheme"; none means the value is absent.
  std::optional<DWORD> light_theme;
  HKEY theme_root = nullptr;
  std::wstring theme_key, theme_value;
  DWORD theme_flags = 0;
  DWORD theme_buffer_size = 0;
  struct Attribute {
    HWND window;
    DWORD attribute;
    BOOL value;
    DWORD size;
  };
  std::vector<Attribute> attributes;
};
const HMONITOR kFakeMonitor = reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x4d4f4e));

// The window calls answered from, and recorded in, the given state.
WindowCalls FakeCalls(FakeState* fake) {
  WindowCalls calls;
  calls.MonitorFromPoint = [fake](POINT point, DWORD flags) {
    fake->monitor_point = point;
    fake->monitor_flags = flags;
    return kFakeMonitor;
  };
  calls.FlutterDesktopGetDpiForMonitor = [fake](HMONITOR monitor) {
    fake->dpi_monitor = monitor;
    return fake->dpi;
  };
  calls.CreateWindowExW = [fake](DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style,
                                 int x, int y, int width, int height, HWND parent, HMENU menu,
                                 HINSTANCE instance, LPVOID param) -> HWND {
    fake->create_ex_style = ex_style;
    fake->create_class = class_name;
    fake->create_title = title;
    fake->create_style = style;
    fake->create_x = x;
    fake->create_y = y;
    fake->create_width = width;
    fake->create_height = height;
    if (fake->fail_create) return nullptr;
    return ::CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, menu,
                             instance, param);
  };
  calls.RegGetValueW = [fake](HKEY root, LPCWSTR key, LPCWSTR value, DWORD flags, LPDWORD type,
                              PVOID data, LPDWORD size) -> LSTATUS {
    fake->theme_root = root;
    fake->theme_key = key;
    fake->theme_value = value;
    fake->theme_flags = flags;
    fake->theme_buffer_size = *size;
    if (!fake->light_theme) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = REG_DWORD;
    *static_cast<DWORD*>(data) = *fake->light_theme;
    *size = sizeof(DWORD);
    return ERROR_SUCCESS;
  };
  calls.DwmSetWindowAttribute = [fake](HWND window, DWORD attribute, LPCVOID value, DWORD size) {
    fake->attributes.push_back({window, attribute, *static_cast<const BOOL*>(value), size});
    return S_OK;
  };
  return calls;
}

// Counts the hooks and can refuse creation.
class TestWindow : public Win32Window {
 public:
  explicit TestWindow(WindowCalls calls) : Win32Window(std::move(calls)) {}

  bool on_create_result = true;
  int on_create_calls = 0;
  int on_destroy_calls = 0;

  using Win32Window::MessageHandler;

 protected:
  bool OnCreate() override {
    ++on_create_calls;
    return on_create_result;
  }
  void OnDestroy() override { ++on_destroy_calls; }
};

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeQuitMessage(); }
  void TearDown() override { TakeQuitMessage(); }

  WindowCalls Calls() { return FakeCalls(&fake_); }

  FakeState fake_;
};

TEST_F(Win32WindowTest, ScalesOriginAndSizeToTheDpiOfTheMonitorNearestTheOrigin) {
  struct Case {
    UINT dpi;
    Point origin;
    Size size;
    int x, y, width, height;
  };
  const Case cases[] = {
      {96, {10, 10}, {1280, 720}, 10, 10, 1280, 720},
      {144, {10, 10}, {1280, 720}, 15, 15, 1920, 1080},
      {120, {10, 10}, {1280, 720}, 12, 12, 1600, 900},
      // Fractions are truncated toward zero, also below zero.
      {144, {3, -5}, {101, 7}, 4, -7, 151, 10},
      // An origin outside every monitor is still what the monitor is
      // looked up by, unscaled.
      {120, {-30001, 40001}, {640, 480}, -37501, 50001, 800, 600},
      // A failed DPI query (0) is taken as the base DPI, not as "no size".
      {0, {10, 10}, {1280, 720}, 10, 10, 1280, 720},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("dpi " + std::to_string(c.dpi) + " origin " + std::to_string(c.origin.x));
    fake_.dpi = c.dpi;
    TestWindow window(Calls());
    ASSERT_TRUE(window.Create(L"tarnwick", c.origin, c.size));
    EXPECT_EQ(fake_.monitor_point.x, c.origin.x);
    EXPECT_EQ(fake_.monitor_point.y, c.origin.y);
    EXPECT_EQ(fake_.monitor_flags, static_cast<DWORD>(MONITOR_DEFAULTTONEAREST));
    EXPECT_EQ(fake_.dpi_monitor, kFakeMonitor);
    EXPECT_EQ(fake_.create_x, c.x);
    EXPECT_EQ(fake_.create_y, c.y);
    EXPECT_EQ(fake_.create_width, c.width);
    EXPECT_EQ(fake_.create_height, c.height);
  }
}

TEST_F(Win32WindowTest, CreatesAHiddenOverlappedWindowOfItsClassAndTitle) {
  TestWindow window(Calls());
  ASSERT_TRUE(window.Create(L"tarnwick \u00e9", {10, 10}, {1280, 720}));
  EXPECT_EQ(fake_.create_ex_style, 0u);
  EXPECT_EQ(fake_.create_style, static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
  EXPECT_EQ(fake_.create_class, L"FLUTTER_RUNNER_WIN32_WINDOW");
  EXPECT_EQ(window.on_create_calls, 1);

  HWND handle = window.GetHandle();
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(IsWindowVisible(handle));
  wchar_t title[64] = {};
  GetWindowTextW(handle, title, 64);
  EXPECT_STREQ(title, L"tarnwick \u00e9");
  WNDCLASSW window_class{};
  ASSERT_TRUE(
      GetClassInfoW(GetModuleHandleW(nullptr), L"FLUTTER_RUNNER_WIN32_WINDOW", &window_class));
  EXPECT_EQ(window_class.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));

  // Show reports whether the window was visible before.
  EXPECT_FALSE(window.Show());
  EXPECT_TRUE(IsWindowVisible(handle));
  EXPECT_TRUE(window.Show());
}

TEST_F(Win32WindowTest, FailsWhenNoWindowIsCreatedOrOnCreateRefuses) {
  {
    fake_.fail_create = true;
    TestWindow window(Calls());
    EXPECT_FALSE(window.Create(L"tarnwick", {10, 10}, {1280, 720}));
    EXPECT_EQ(window.on_create_calls, 0);
    EXPECT_EQ(window.GetHandle(), nullptr);
    // Nothing to theme without a window.
    EXPECT_TRUE(fake_.attributes.empty());
  }
  {
    fake_.fail_create = false;
    TestWindow window(Calls());
    window.on_create_result = false;
    EXPECT_FALSE(window.Create(L"tarnwick", {10, 10}, {1280, 720}));
    EXPECT_EQ(window.on_create_calls, 1);
    // The window stays until the object goes.
    EXPECT_TRUE(IsWindow(window.GetHandle()));
  }
}

TEST_F(Win32WindowTest, TitleBarFollowsTheUsersAppTheme) {
  struct Case {
    std::optional<DWORD> light_theme;
    std::optional<BOOL> dark_title_bar;  // none: attribute not touched
  };
  const Case cases[] = {
      {0u, TRUE},
      {1u, FALSE},
      {2u, FALSE},
      {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.light_theme ? std::to_string(*c.light_theme) : std::string("absent"));
    fake_ = FakeState{};
    fake_.light_theme = c.light_theme;
    TestWindow window(Calls());
    ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {1280, 720}));
    EXPECT_EQ(fake_.theme_root, HKEY_CURRENT_USER);
    EXPECT_EQ(fake_.theme_key,
              L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize");
    EXPECT_EQ(fake_.theme_value, L"AppsUseLightTheme");
    EXPECT_EQ(fake_.theme_flags, static_cast<DWORD>(RRF_RT_REG_DWORD));
    EXPECT_EQ(fake_.theme_buffer_size, 4u);
    if (!c.dark_title_bar) {
      EXPECT_TRUE(fake_.attributes.empty());
      continue;
    }
    ASSERT_EQ(fake_.attributes.size(), 1u);
    EXPECT_EQ(fake_.attributes[0].window, window.GetHandle());
    EXPECT_EQ(fake_.attributes[0].attribute, 20u);
    EXPECT_EQ(fake_.attributes[0].value, *c.dark_title_bar);
    EXPECT_EQ(fake_.attributes[0].size, 4u);
  }
}

TEST_F(Win32WindowTest, ColorizationChangeReappliesTheCurrentTheme) {
  fake_.light_theme = 1u;
  TestWindow window(Calls());
  ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {1280, 720}));
  fake_.light_theme = 0u;
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
  ASSERT_EQ(fake_.attributes.size(), 2u);
  EXPECT_EQ(fake_.attributes[0].value, FALSE);
  EXPECT_EQ(fake_.attributes[1].value, TRUE);
}

TEST_F(Win32WindowTest, ClosingPostsQuitOnlyWhenAsked) {
  for (bool quit_on_close : {true, false}) {
    SCOPED_TRACE(quit_on_close ? "quit on close" : "no quit");
    TestWindow window(Calls());
    ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {1280, 720}));
    window.SetQuitOnClose(quit_on_close);
    const int destroys_before = window.on_destroy_calls;
    HWND handle = window.GetHandle();
    SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(window.GetHandle(), nullptr);
    EXPECT_EQ(window.on_destroy_calls, destroys_before + 1);
    const std::optional<WPARAM> quit = TakeQuitMessage();
    if (quit_on_close) {
      ASSERT_TRUE(quit.has_value());
      EXPECT_EQ(*quit, 0u);
    } else {
      EXPECT_FALSE(quit.has_value());
    }
  }
}

TEST_F(Win32WindowTest, ChildContentFillsTheClientAreaAndFollowsResizes) {
  TestWindow window(Calls());
  ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {640, 480}));
  // Sizing and activation with no content yet are harmless.
  EXPECT_EQ(window.MessageHandler(window.GetHandle(), WM_SIZE, 0, 0), 0);
  EXPECT_EQ(window.MessageHandler(window.GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0), 0);

  // Like an embedding's view: a child window first held by a hidden window.
  HWND holder = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(holder, nullptr);
  HWND content = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, holder,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(content, nullptr);
  window.Show();
  window.SetChildContent(content);
  EXPECT_EQ(GetParent(content), window.GetHandle());

  const auto expect_content_fills_client = [&] {
    RECT client = window.GetClientArea();
    RECT child{};
    GetClientRect(content, &child);
    EXPECT_EQ(child.right - child.left, client.right - client.left);
    EXPECT_EQ(child.bottom - child.top, client.bottom - client.top);
    POINT child_origin{0, 0};
    MapWindowPoints(content, window.GetHandle(), &child_origin, 1);
    EXPECT_EQ(child_origin.x, 0);
    EXPECT_EQ(child_origin.y, 0);
  };
  expect_content_fills_client();
  EXPECT_EQ(GetFocus(), content);

  SetWindowPos(window.GetHandle(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
  PumpMessages();
  expect_content_fills_client();
  const RECT client = window.GetClientArea();
  EXPECT_GT(client.right, 640);

  // Activation gives the content the focus back.
  SetFocus(window.GetHandle());
  window.MessageHandler(window.GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), content);
  DestroyWindow(holder);
}

TEST_F(Win32WindowTest, DpiChangeMovesToTheSuggestedRectangle) {
  TestWindow window(Calls());
  ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {640, 480}));
  RECT suggested{100, 120, 1060, 840};
  EXPECT_EQ(SendMessageW(window.GetHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                         reinterpret_cast<LPARAM>(&suggested)),
            0);
  const RECT actual = WindowRect(window.GetHandle());
  EXPECT_EQ(actual.left, 100);
  EXPECT_EQ(actual.top, 120);
  EXPECT_EQ(actual.right, 1060);
  EXPECT_EQ(actual.bottom, 840);
}

TEST_F(Win32WindowTest, SecondCreateReplacesTheFirstWindow) {
  TestWindow window(Calls());
  ASSERT_TRUE(window.Create(L"first", {10, 10}, {640, 480}));
  HWND first = window.GetHandle();
  const int destroys_before = window.on_destroy_calls;
  ASSERT_TRUE(window.Create(L"second", {20, 20}, {640, 480}));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(IsWindow(window.GetHandle()));
  EXPECT_NE(window.GetHandle(), first);
  EXPECT_GT(window.on_destroy_calls, destroys_before);
  EXPECT_EQ(window.on_create_calls, 2);
}

TEST_F(Win32WindowTest, ClassIsUnregisteredWhenTheLastWindowObjectGoes) {
  const auto class_exists = [] {
    WNDCLASSW window_class{};
    return GetClassInfoW(GetModuleHandleW(nullptr), L"FLUTTER_RUNNER_WIN32_WINDOW",
                         &window_class) != FALSE;
  };
  {
    TestWindow first(Calls());
    ASSERT_TRUE(first.Create(L"first", {10, 10}, {640, 480}));
    {
      TestWindow second(Calls());
      ASSERT_TRUE(second.Create(L"second", {10, 10}, {640, 480}));
      EXPECT_EQ(ActiveWindowCount(), 2);
      // Closing one window leaves the class to the other object.
      SendMessageW(second.GetHandle(), WM_CLOSE, 0, 0);
      EXPECT_TRUE(class_exists());
    }
    EXPECT_EQ(ActiveWindowCount(), 1);
    EXPECT_TRUE(WindowClassRegistered());
    EXPECT_TRUE(class_exists());
  }
  EXPECT_EQ(ActiveWindowCount(), 0);
  EXPECT_FALSE(WindowClassRegistered());
  EXPECT_FALSE(class_exists());

  // A later window registers it again.
  TestWindow again(Calls());
  EXPECT_TRUE(again.Create(L"again", {10, 10}, {640, 480}));
  EXPECT_TRUE(class_exists());
}

TEST(Win32WindowScale, KeepsProductsWithin32Bits) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(Scale(kMax, 1.5), kMax);
  EXPECT_EQ(Scale(kMin, 2.0), kMin);
  EXPECT_EQ(Scale(kMax, 1.0), kMax);
  EXPECT_EQ(Scale(-3, 1.5), -4);
  EXPECT_EQ(Scale(1000, 1.25), 1250);
}

}  // namespace
}  // namespace tarnwick
