// The interactive application stays live while the tunnel changes: the real
// tarnwick.exe under Wine with the stand-in UI's scripts, its window probed
// from this process while connects and disconnects run through the real
// elevated copy and service manager; the window closed in the middle of a
// connect; a second start of the application.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/security_descriptor.h"
#include "platform/unique_handle.h"
#include "service/operation_lock.h"
#include "tests/support/app_window.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/tunnel_service.h"

namespace tarnwick::e2e {
namespace {

// The longest a window message may wait while a tunnel change runs.
constexpr DWORD kAnswerBoundMs = 100;
// An elevated copy is awaited at most 20 s; the process ends soon after.
constexpr DWORD kExitBoundMs = 25000;
constexpr DWORD kAppBoundMs = 60000;
constexpr DWORD kServiceBoundMs = 15000;

constexpr char kStart[] =
    "call com.tarnwick.vpn/tunnel startTunnel {\"config\": \"[Interface]\\n"
    "PrivateKey = WbhCeLYJJ2r2Zl/e7pgE2XlZLE4a4ngL7mieU2joNQA=\\nAddress = 10.8.0.2/32\\n\\n"
    "[Peer]\\nPublicKey = qwPoRz0HFWcV+M3WEV61eLlr/hgqe66/VIsTpTn9aeM=\\n"
    "AllowedIPs = 0.0.0.0/0\\nEndpoint = 192.0.2.1:51820\\n\"}\n";
constexpr char kStop[] = "call com.tarnwick.vpn/tunnel stopTunnel\n";
constexpr char kStatus[] = "call com.tarnwick.vpn/tunnel getStatus\n";

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0) return i;
  }
  return std::string::npos;
}

// The response handle the call or send step on a script line got ("H3").
std::string HandleOfLine(const std::vector<std::string>& transcript, int line) {
  const std::string prefix = "OK " + std::to_string(line) + " ";
  const size_t at = IndexOf(transcript, prefix);
  return at == std::string::npos ? "(line " + std::to_string(line) + " never sent)"
                                 : transcript[at].substr(prefix.size());
}

class LiveWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_TRUE(FileExists(AppExe()));
    ASSERT_TRUE(RemoveTunnelService()) << "a service from an earlier run is stuck";
    transcript_path_ = temp_.Join(L"transcript.txt");
  }

  // Starts tarnwick.exe with the script; the configuration goes to the
  // system's ProgramData folder, the only one the elevated copy accepts.
  void Start(ChildProcess* app, const std::string& script,
             const std::wstring& transcript_path = {}) {
    const std::wstring script_path = temp_.Join(L"script.txt");
    ASSERT_TRUE(WriteFileBytes(script_path, script));
    ProcessOptions options;
    options.working_dir = temp_.path();
    options.output_file = temp_.Join(L"output.txt");
    ASSERT_TRUE(app->Start(
        AppExe(),
        {L"--standin-script=" + script_path,
         L"--standin-transcript=" + (transcript_path.empty() ? transcript_path_ : transcript_path)},
        options));
  }

  std::vector<std::string> Transcript() const {
    std::string text;
    return ReadFileBytes(transcript_path_, &text) ? SplitLines(text) : std::vector<std::string>{};
  }

  // Standard output and error of the last start.
  std::string Output() const {
    std::string text;
    return ReadFileBytes(temp_.Join(L"output.txt"), &text) ? text : "(no output)";
  }

  // Every step ran, none failed.
  static void ExpectCleanScript(const std::vector<std::string>& transcript) {
    std::string all;
    for (const std::string& line : transcript) all += line + "\n";
    EXPECT_NE(IndexOf(transcript, "SCRIPT END"), std::string::npos) << all;
    EXPECT_NE(IndexOf(transcript, "RESULT PASS"), std::string::npos);
    for (const std::string& line : transcript) {
      if (line.rfind("FAIL", 0) == 0) ADD_FAILURE() << line;
    }
  }

  TempDir temp_;
  TunnelServiceCleanup cleanup_;
  std::wstring transcript_path_;
};

TEST_F(LiveWindowTest, WindowAnswersAtOnceWhileAConnectAndADisconnectRun) {
  const std::string script = std::string("wait visible\ntimeout 60000\nsleep 300\n") + kStart +
                             "expect hex 00 01\n" + kStatus + "expect success true\n" + kStop +
                             "expect hex 00 01\n" + kStatus +
                             "expect success false\n"
                             "note changes done\n"
                             "sleep 1000\n"
                             "close\n";
  ChildProcess app;
  Start(&app, script);
  const HWND window = FindAppWindow(app.pid(), kAppBoundMs);
  ASSERT_NE(window, nullptr) << Output();
  // Probed until the changes are done: under Wine the window's own end
  // holds its thread for a while (the X driver waits to see it unmapped),
  // which is not what is measured here.
  WindowProbe probe(window);
  for (int i = 0; i < 3000 && IndexOf(Transcript(), "NOTE changes done") == std::string::npos;
       ++i) {
    ::Sleep(20);
  }
  probe.Stop();

  const std::optional<DWORD> exit_code = app.Wait(kAppBoundMs);
  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 0u) << Output();
  ExpectCleanScript(Transcript());

  // Probed every 20 ms through both changes.
  const std::vector<DWORD> answers = probe.answers();
  EXPECT_GE(answers.size(), 20u);
  std::string late;
  for (size_t i = 0; i < answers.size(); ++i) {
    if (answers[i] > kAnswerBoundMs)
      late += " #" + std::to_string(i) + ": " + std::to_string(answers[i]);
  }
  EXPECT_LE(probe.worst_ms(), kAnswerBoundMs) << "late answers:" << late;
  std::cout << "worst WM_NULL answer: " << probe.worst_ms() << " ms of " << answers.size()
            << " answers" << std::endl;
  EXPECT_FALSE(QueryTunnelService().exists);
}

TEST_F(LiveWindowTest, StatusDuringAConnectIsAnsweredBeforeTheConnect) {
  // Line 3 connects, line 4 asks for the status meanwhile.
  const std::string script = std::string("wait visible\ntimeout 60000\n") + kStart + kStatus +
                             "expect any\n"
                             "select 3\n"
                             "expect hex 00 01\n" +
                             kStop +
                             "expect hex 00 01\n"
                             "close\n";
  ChildProcess app;
  Start(&app, script);
  const std::optional<DWORD> exit_code = app.Wait(kAppBoundMs);
  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 0u) << Output();
  const std::vector<std::string> transcript = Transcript();
  ExpectCleanScript(transcript);

  const size_t connect_reply = IndexOf(transcript, "REPLY " + HandleOfLine(transcript, 3) + " ");
  const size_t status_reply = IndexOf(transcript, "REPLY " + HandleOfLine(transcript, 4) + " ");
  ASSERT_NE(connect_reply, std::string::npos);
  ASSERT_NE(status_reply, std::string::npos);
  EXPECT_LT(status_reply, connect_reply);
  // Whatever the manager said at that moment: running or not.
  const std::string status = transcript[status_reply];
  EXPECT_TRUE(status.find(" hex=0001 ") != std::string::npos ||
              status.find(" hex=0002 ") != std::string::npos)
      << status;
}

TEST_F(LiveWindowTest, ClosingDuringAConnectLeavesWhatTheElevatedCopyDid) {
  // Elevated copies take this lock before they touch the service; held
  // here, as another copy would hold it (owned by Administrators, which a
  // copy trusts), it keeps the connect's copy at work for as long as this
  // test wants.
  const tarnwick::UniqueLocalMemory descriptor =
      tarnwick::SecurityDescriptorFromSddl(tarnwick::kOperationLockSddl);
  SECURITY_ATTRIBUTES attributes = tarnwick::AttributesOf(descriptor);
  UniqueKernelHandle lock(::CreateMutexW(&attributes, TRUE, tarnwick::kOperationMutexFallbackName));
  ASSERT_TRUE(lock);
  ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  // The connect (line 2) runs when the disconnect (line 4) arrives, which
  // then waits behind it when the window closes.
  const std::string script =
      std::string("wait visible\n") + kStart + "sleep 300\n" + kStop + "sleep 300\nclose\n";
  ChildProcess app;
  Start(&app, script);
  const HWND window = FindAppWindow(app.pid(), kAppBoundMs);
  ASSERT_NE(window, nullptr) << Output();

  // The window goes while the copy still runs; the process stays for it.
  for (int i = 0; i < 1000 && ::IsWindow(window); ++i) ::Sleep(20);
  EXPECT_FALSE(::IsWindow(window)) << "the window waited for the elevated copy";
  EXPECT_FALSE(app.Wait(0).has_value()) << "the process did not wait for the elevated copy";

  ASSERT_TRUE(::ReleaseMutex(lock.get()));
  lock.reset();
  const ULONGLONG released = ::GetTickCount64();
  const std::optional<DWORD> exit_code = app.Wait(kAppBoundMs);
  ASSERT_TRUE(exit_code.has_value());
  EXPECT_LT(::GetTickCount64() - released, kExitBoundMs);
  // A thread left joinable at exit would have ended the process otherwise.
  EXPECT_EQ(*exit_code, 0u) << Output();

  const std::vector<std::string> transcript = Transcript();
  ExpectCleanScript(transcript);
  const std::string connect = HandleOfLine(transcript, 2);
  const std::string disconnect = HandleOfLine(transcript, 4);
  // Neither was answered while the engine ran: the connect had not ended,
  // the disconnect was dropped unstarted.
  EXPECT_NE(IndexOf(transcript, "UNANSWERED " + connect), std::string::npos);
  EXPECT_NE(IndexOf(transcript, "UNANSWERED " + disconnect), std::string::npos);
  EXPECT_EQ(IndexOf(transcript, "CALL FlutterDesktopMessengerSendResponse"), std::string::npos);
  // The connect's answer came after the engine ended and was refused there,
  // before the process ended: the worker was waited for.
  const size_t result = IndexOf(transcript, "RESULT PASS");
  size_t refused = std::string::npos;
  for (size_t i = result; i < transcript.size(); ++i) {
    if (transcript[i].rfind("CALL FlutterDesktopMessengerIsAvailable", 0) == 0 &&
        transcript[i].find("-> false") != std::string::npos) {
      refused = i;
    }
  }
  EXPECT_NE(refused, std::string::npos) << "the connect's late answer never came";

  // The elevated copy finished the install; the dropped disconnect never ran.
  EXPECT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
}

TEST_F(LiveWindowTest, SecondStartBringsTheFirstWindowBackAndEnds) {
  ChildProcess first;
  Start(&first, "wait visible\ntimeout 60000\nsleep 60000\n");
  const HWND window = FindAppWindow(first.pid(), kAppBoundMs);
  ASSERT_NE(window, nullptr);
  for (int i = 0; i < 1000 && !::IsWindowVisible(window); ++i) ::Sleep(20);
  ASSERT_TRUE(::IsWindowVisible(window));
  ::ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(::IsIconic(window));

  ChildProcess second;
  const std::wstring second_transcript = temp_.Join(L"second.txt");
  Start(&second, "wait visible\nclose\n", second_transcript);
  const std::optional<DWORD> second_exit = second.Wait(kAppBoundMs);
  ASSERT_TRUE(second_exit.has_value());
  EXPECT_EQ(*second_exit, 0u);
  EXPECT_FALSE(FileExists(second_transcript)) << "the second start made an engine";
  EXPECT_EQ(CountAppWindows(), 1);
  EXPECT_FALSE(::IsIconic(window)) << "the first window was not restored";
  EXPECT_EQ(::GetForegroundWindow(), window);

  // The service modes are not held back by the running application: this
  // one refuses a configuration outside ProgramData.
  const ProcessRun install =
      RunProcess(AppExe(), {L"/svc-install", temp_.Join(L"x.conf")}, ProcessOptions{}, kAppBoundMs);
  EXPECT_TRUE(install.exited);
  EXPECT_EQ(install.exit_code, 1u);

  ASSERT_TRUE(::PostMessageW(window, WM_CLOSE, 0, 0));
  const std::optional<DWORD> first_exit = first.Wait(kAppBoundMs);
  ASSERT_TRUE(first_exit.has_value());
  EXPECT_EQ(*first_exit, 0u);
}

}  // namespace
}  // namespace tarnwick::e2e
