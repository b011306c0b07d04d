#include "embedding/flutter_view_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_channel.h"
#include "embedding/standard_method_codec.h"
#include "tests/embedding/standin_session.h"
#include "tests/support/bytes.h"
#include "tests/support/message_pump.h"

namespace flutter {
namespace {

using tarnwick::PumpMessagesUntil;
using tarnwick::StandinSession;

// The controller name from "CALL FlutterDesktopViewControllerCreate ... -> C2 view=V2 ...".
std::string ControllerName(const StandinSession& session) {
  auto lines = session.LinesStartingWith("CALL FlutterDesktopViewControllerCreate ");
  if (lines.empty()) return "?";
  const size_t arrow = lines[0].find("-> ");
  return lines[0].substr(arrow + 3, lines[0].find(' ', arrow + 3) - arrow - 3);
}

std::vector<std::string> Failures(const StandinSession& session) {
  return session.LinesStartingWith("FAIL");
}

TEST(FlutterViewControllerTest, ViewOfTheGivenSizeEndsWithTheControllerAlone) {
  StandinSession session;
  EngineProject project(L"data");
  project.set_entrypoint_arguments({session.TranscriptArgument()});
  HWND window = nullptr;
  {
    FlutterViewController controller(320, 200, project);
    ASSERT_NE(controller.view(), nullptr) << session.Text();
    ASSERT_NE(controller.engine(), nullptr);
    window = controller.view()->GetNativeWindow();
    ASSERT_TRUE(IsWindow(window));
    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 320);
    EXPECT_EQ(client.bottom - client.top, 200);
  }
  EXPECT_FALSE(IsWindow(window));

  const std::string c = ControllerName(session);
  EXPECT_TRUE(session.HasLine("CALL FlutterDesktopViewControllerDestroy controller=" + c));
  // The controller took the engine over; destroying it ended the engine.
  EXPECT_TRUE(session.LinesStartingWith("CALL FlutterDesktopEngineDestroy").empty());
  EXPECT_TRUE(session.HasLine("RESULT PASS"));
  EXPECT_TRUE(Failures(session).empty()) << Failures(session)[0];
}

TEST(FlutterViewControllerTest, MissingEngineFilesLeaveAControllerWithoutView) {
  StandinSession session;
  EngineProject project(L"no-such-data");
  project.set_entrypoint_arguments({session.TranscriptArgument()});
  {
    testing::internal::CaptureStderr();
    FlutterViewController controller(320, 200, project);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
    EXPECT_EQ(controller.view(), nullptr);
    ASSERT_NE(controller.engine(), nullptr);
    controller.ForceRedraw();
    EXPECT_FALSE(controller.HandleTopLevelWindowProc(nullptr, WM_APP, 0, 0).has_value());
  }
  auto creates = session.LinesStartingWith("CALL FlutterDesktopViewControllerCreate ");
  ASSERT_EQ(creates.size(), 1u);
  EXPECT_NE(creates[0].find("-> null missing="), std::string::npos) << creates[0];
  // Nothing reaches the library without a controller handle, and the engine
  // it was handed stays the library's to end.
  EXPECT_TRUE(session.LinesStartingWith("CALL FlutterDesktopViewController").size() == 1u);
  EXPECT_TRUE(session.LinesStartingWith("CALL FlutterDesktopEngineDestroy").empty());
}

class FlutterViewControllerScriptTest : public testing::Test {
 protected:
  void Start(const std::string& script) {
    EngineProject project(L"data");
    project.set_entrypoint_arguments(
        {session_.TranscriptArgument(), session_.ScriptArgument(script)});
    controller_ = std::make_unique<FlutterViewController>(64, 48, project);
    ASSERT_NE(controller_->view(), nullptr) << session_.Text();
  }

  bool RunScriptToItsEnd() {
    return PumpMessagesUntil([&] { return session_.HasLine("SCRIPT END"); }, 20000);
  }

  StandinSession session_;
  std::unique_ptr<FlutterViewController> controller_;
};

TEST_F(FlutterViewControllerScriptTest, ClaimedWindowMessagesReturnTheirResult) {
  Start("claim WM_APP+7 42\nclaim WM_USER -5\n");
  ASSERT_TRUE(RunScriptToItsEnd()) << session_.Text();
  HWND window = controller_->view()->GetNativeWindow();

  auto claimed = controller_->HandleTopLevelWindowProc(window, WM_APP + 7, 1, 2);
  ASSERT_TRUE(claimed.has_value());
  EXPECT_EQ(*claimed, 42);
  auto negative = controller_->HandleTopLevelWindowProc(window, WM_USER, 0, 0);
  ASSERT_TRUE(negative.has_value());
  EXPECT_EQ(*negative, -5);
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(window, WM_APP + 8, 0, 0).has_value());
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(window, WM_SIZE, 0, 0).has_value());

  const std::string c = ControllerName(session_);
  auto calls = session_.LinesStartingWith(
      "CALL FlutterDesktopViewControllerHandleTopLevelWindowProc controller=" + c);
  ASSERT_FALSE(calls.empty());
  EXPECT_NE(calls[0].find(" message=0x8007 wparam=1 lparam=2 -> true result=42"), std::string::npos)
      << calls[0];
  controller_.reset();
  EXPECT_TRUE(Failures(session_).empty()) << Failures(session_)[0];
}

// Messages from the UI arrive through the library's own message record and
// are answered through its response handles, at once, later from another
// thread, or with the empty reply when they are no method call.
TEST_F(FlutterViewControllerScriptTest, ChannelMessagesFromTheUiAreAnswered) {
  std::vector<std::thread> late_answers;
  Start(
      "wait frame\n"
      "call test.channel echo {\"n\": 5, \"s\": \"x\"}\n"
      "expect success {\"n\": 5, \"s\": \"x\"}\n"
      "send test.channel 03 01 00 00 00\n"
      "expect empty\n"
      "call test.channel later\n"
      "expect success \"late\"\n"
      "call test.channel refuse\n"
      "expect error \"NOPE\" \"refused\"\n");
  MethodChannel channel(controller_->engine()->messenger(), "test.channel",
                        &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    if (call.method_name() == "echo") {
      result->Success(*call.arguments());
    } else if (call.method_name() == "later") {
      late_answers.emplace_back([result = std::move(result)]() mutable {
        Sleep(50);
        result->Success(EncodableValue("late"));
      });
    } else {
      result->Error("NOPE", "refused");
    }
  });

  testing::internal::CaptureStderr();
  const bool ended = RunScriptToItsEnd();
  for (std::thread& thread : late_answers) thread.join();
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ended) << session_.Text();
  controller_.reset();

  EXPECT_EQ(err,
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel test.channel\n");
  EXPECT_EQ(session_.LinesStartingWith("REPLY ").size(), 4u);
  EXPECT_TRUE(session_.HasLine("RESULT PASS"));
  EXPECT_TRUE(Failures(session_).empty()) << Failures(session_)[0];
}

}  // namespace
}  // namespace flutter
