// Debugger-output capture through the prefix's DBWIN channel, and the
// monitor program built on it.
#include "tools/dbwin_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/unique_handle.h"
#include "tests/support/debug_output.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace tarnwick {
namespace {

TEST(DebugOutputCaptureTest, DeliversEveryLineInOrderWithItsProcess) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.Start(nullptr, e2e::kDebugOutputClaimMs));
  constexpr int kLines = 200;
  std::thread writer([] {
    for (int i = 0; i < kLines; ++i) {
      ::OutputDebugStringW((L"[capture-test] line " + std::to_wstring(i) + L"\n").c_str());
    }
    ::OutputDebugStringA("[capture-test] no line feed");
  });
  writer.join();
  ASSERT_TRUE(capture.WaitForText("[capture-test] no line feed", 30000));

  std::vector<DebugLine> ours;
  for (const DebugLine& line : capture.Lines()) {
    if (line.text.rfind("[capture-test]", 0) == 0) ours.push_back(line);
  }
  ASSERT_EQ(ours.size(), static_cast<size_t>(kLines + 1));
  for (int i = 0; i < kLines; ++i) {
    EXPECT_EQ(ours[i].text, "[capture-test] line " + std::to_string(i));
    EXPECT_EQ(ours[i].raw, ours[i].text + "\n");
    EXPECT_EQ(ours[i].pid, ::GetCurrentProcessId());
  }
  EXPECT_EQ(ours.back().raw, "[capture-test] no line feed");
  EXPECT_EQ(capture.CountContaining("[capture-test] line 1"), 111u);  // 1, 10-19, 100-199
}

// A service writes in session 0, whose channel is the global one: written
// there as such a writer does, the line is captured too.
TEST(DebugOutputCaptureTest, HearsTheGlobalChannelOfServicesToo) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.Start(nullptr, e2e::kDebugOutputClaimMs));
  const UniqueKernelHandle ready(::OpenEventW(SYNCHRONIZE, FALSE, L"Global\\DBWIN_BUFFER_READY"));
  const UniqueKernelHandle data(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\DBWIN_DATA_READY"));
  const UniqueKernelHandle mapping(
      ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"Global\\DBWIN_BUFFER"));
  ASSERT_TRUE(ready && data && mapping) << ::GetLastError();
  ASSERT_EQ(::WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
  auto* view = static_cast<char*>(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  const DWORD service_pid = 4242;
  std::memcpy(view, &service_pid, sizeof(service_pid));
  std::strcpy(view + sizeof(service_pid), "[capture-test] from session 0\n");
  ::UnmapViewOfFile(view);
  ASSERT_TRUE(::SetEvent(data.get()));
  const auto line = capture.WaitForText("[capture-test] from session 0", 30000);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->pid, service_pid);
}

TEST(DebugOutputCaptureTest, WaitingEndsAtTheBoundWithoutAMatch) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.Start(nullptr, e2e::kDebugOutputClaimMs));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(capture.WaitForText("[capture-test] never written", 200).has_value());
  const auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // A line written while waiting ends the wait, even after a Clear.
  ::OutputDebugStringA("[capture-test] before\n");
  ASSERT_TRUE(capture.WaitForText("[capture-test] before", 30000));
  capture.Clear();
  EXPECT_EQ(capture.CountContaining("[capture-test] before"), 0u);
  std::thread late([] {
    ::Sleep(100);
    ::OutputDebugStringA("[capture-test] late\n");
  });
  EXPECT_TRUE(capture.WaitForText("[capture-test] late", 30000).has_value());
  late.join();
}

// Two monitors would steal each other's lines; the second is refused until
// the first lets go.
TEST(DebugOutputCaptureTest, OnlyOneMonitorHoldsTheChannel) {
  DebugOutputCapture first;
  ASSERT_TRUE(first.Start(nullptr, e2e::kDebugOutputClaimMs));
  EXPECT_FALSE(first.Start());

  DebugOutputCapture second;
  DWORD error = 0;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  e2e::TempDir temp;
  e2e::ProcessOptions options;
  options.output_file = temp.Join(L"monitor.txt");
  const e2e::ProcessRun refused =
      e2e::RunProcess(e2e::JoinPath(e2e::ToolsDir(), L"dbwin_monitor.exe"), {}, options, 10000);
  ASSERT_TRUE(refused.started);
  EXPECT_TRUE(refused.exited);
  EXPECT_EQ(refused.exit_code, 1u);

  first.Stop();
  EXPECT_TRUE(second.Start(&error, e2e::kDebugOutputClaimMs)) << error;
}

TEST(DebugOutputCaptureTest, MonitorPrintsEachLineWithTheSendersProcessId) {
  e2e::TempDir temp;
  e2e::ProcessOptions options;
  options.output_file = temp.Join(L"monitor.txt");
  e2e::ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(e2e::JoinPath(e2e::ToolsDir(), L"dbwin_monitor.exe"), {}, options));

  // The monitor claims the channel shortly after it starts; until then a
  // line is simply not delivered, so keep writing until one shows.
  const std::string expected =
      "[" + std::to_string(::GetCurrentProcessId()) + "] [capture-test] to the monitor";
  std::string printed;
  for (int attempt = 0; attempt < 600 && printed.find(expected) == std::string::npos; ++attempt) {
    ::OutputDebugStringA("[capture-test] to the monitor\n");
    ::Sleep(50);
    ASSERT_TRUE(e2e::ReadFileBytes(options.output_file, &printed));
  }
  EXPECT_NE(printed.find(expected), std::string::npos) << printed;
  monitor.Terminate();
}

}  // namespace
}  // namespace tarnwick
