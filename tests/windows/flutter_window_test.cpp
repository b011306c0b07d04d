// FlutterWindow in this process against the stand-in embedding library (its
// interactive panel as the UI), read back through the library's transcript.
#include "windows/flutter_window.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/message_pump.h"

namespace tarnwick {
namespace {

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0) return i;
  }
  return std::string::npos;
}

// Lets the tests reach the hooks the window system would call.
class TestFlutterWindow : public FlutterWindow {
 public:
  using FlutterWindow::FlutterWindow;
  using FlutterWindow::MessageHandler;
  using FlutterWindow::OnDestroy;
};

class FlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             std::string("-") + std::to_string(GetCurrentProcessId());
    transcript_ = std::wstring(folder) + L"flutter-window-" +
                  std::wstring(name.begin(), name.end()) + L".txt";
  }
  void TearDown() override {
    DeleteFileW(transcript_.c_str());
    DeleteFileW((transcript_ + L".plugins").c_str());
  }

  // A project for the placeholders beside the test programs, naming this
  // test's transcript.
  flutter::EngineProject Project(const std::wstring& folder = L"data") const {
    flutter::EngineProject project(folder);
    project.set_entrypoint_arguments(
        {"--standin-transcript=" + std::string(transcript_.begin(), transcript_.end())});
    return project;
  }

  std::vector<std::string> Transcript() const { return ReadLines(transcript_); }

  std::wstring transcript_;
};

TEST_F(FlutterWindowTest, ShowsOnTheFirstFrameAndEndsTheEngineWhenClosed) {
  TestFlutterWindow window(Project());
  ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {640, 480}));
  HWND handle = window.GetHandle();
  // Hidden until the engine has drawn.
  EXPECT_FALSE(IsWindowVisible(handle));
  ASSERT_TRUE(PumpMessagesUntil([&] { return IsWindowVisible(handle) != FALSE; }, 10000));

  std::vector<std::string> lines = Transcript();
  const RECT client = window.GetClientArea();
  EXPECT_NE(IndexOf(lines, "CALL FlutterDesktopViewControllerCreate width=" +
                               std::to_string(client.right) +
                               " height=" + std::to_string(client.bottom) + " "),
            std::string::npos);

  // The view is the child content.
  HWND view = GetWindow(handle, GW_CHILD);
  ASSERT_NE(view, nullptr);
  RECT view_rect{};
  GetClientRect(view, &view_rect);
  EXPECT_EQ(view_rect.right, client.right);
  EXPECT_EQ(view_rect.bottom, client.bottom);

  // An unclaimed font change reloads the fonts once, and is then handled by
  // the window itself.
  EXPECT_EQ(window.MessageHandler(handle, WM_FONTCHANGE, 0, 0), 0);
  EXPECT_EQ(Count(Transcript(), "CALL FlutterDesktopEngineReloadSystemFonts"), 1u);

  SendMessageW(handle, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(handle));
  lines = Transcript();
  EXPECT_EQ(Count(lines, "CALL FlutterDesktopViewControllerDestroy"), 1u);
  EXPECT_NE(IndexOf(lines, "RESULT PASS"), std::string::npos);

  // With the controller gone: no second teardown, and fonts are not
  // reloaded on an engine that has ended.
  window.OnDestroy();
  window.MessageHandler(handle, WM_FONTCHANGE, 0, 0);
  lines = Transcript();
  EXPECT_EQ(Count(lines, "CALL FlutterDesktopViewControllerDestroy"), 1u);
  EXPECT_EQ(Count(lines, "CALL FlutterDesktopEngineReloadSystemFonts"), 1u);
  EXPECT_EQ(Count(lines, "FAIL"), 0u);
}

TEST_F(FlutterWindowTest, DestroyingTheObjectEndsTheEngine) {
  {
    TestFlutterWindow window(Project());
    ASSERT_TRUE(window.Create(L"tarnwick", {10, 10}, {640, 480}));
  }
  const std::vector<std::string> lines = Transcript();
  EXPECT_EQ(Count(lines, "CALL FlutterDesktopViewControllerDestroy"), 1u);
  EXPECT_NE(IndexOf(lines, "RESULT PASS"), std::string::npos);
  EXPECT_EQ(Count(lines, "FAIL"), 0u);
}

}  // namespace
}  // namespace tarnwick
