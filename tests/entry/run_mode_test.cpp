// Run-mode dispatch: which mode a command line selects, with which path, and
// the exit code each mode's result becomes.
#include "entry/run_mode.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using tarnwick::ChooseRunMode;
using tarnwick::RunModeChoice;

RunModeChoice Choose(std::vector<const wchar_t*> args) {
  args.insert(args.begin(), L"C:\\app\\tarnwick.exe");
  return ChooseRunMode(static_cast<int>(args.size()), args.data());
}

TEST(RunModeTest, ChoosesTheFirstSwitchThatApplies) {
  const struct {
    std::vector<const wchar_t*> args;
    RunMode mode;
    std::wstring path;
  } cases[] = {
      {{}, RunMode::kInteractive, L""},
      {{L"--verbose", L"x"}, RunMode::kInteractive, L""},
      {{L"--flag", L"/svc-remove"}, RunMode::kRemove, L""},
      {{L"/svc-remove", L"/service", L"p"}, RunMode::kRemove, L""},
      {{L"unknown", L"/service", L"C:\\t.conf"}, RunMode::kServiceHost, L"C:\\t.conf"},
      // A value-needing switch in the last place is skipped.
      {{L"/service"}, RunMode::kInteractive, L""},
      {{L"/svc-install"}, RunMode::kInteractive, L""},
      {{L"/svc-remove", L"/svc-install"}, RunMode::kRemove, L""},
      {{L"/svc-install", L"C:\\t.conf", L"/svc-remove", L"more"}, RunMode::kInstall, L"C:\\t.conf"},
      // A value is never examined as a switch.
      {{L"/service", L"/svc-install", L"C:\\t.conf"}, RunMode::kServiceHost, L"/svc-install"},
      {{L"/svc-install", L"/svc-remove"}, RunMode::kInstall, L"/svc-remove"},
      {{L"/service", L""}, RunMode::kServiceHost, L""},
      // Case-sensitive, whole-text comparison.
      {{L"/SVC-REMOVE"}, RunMode::kInteractive, L""},
      {{L"/Service", L"p"}, RunMode::kInteractive, L""},
      {{L"/svc-remove2"}, RunMode::kInteractive, L""},
      {{L"svc-remove"}, RunMode::kInteractive, L""},
  };
  for (const auto& c : cases) {
    std::wstring joined;
    for (const wchar_t* a : c.args) joined.append(L"[").append(a).append(L"]");
    SCOPED_TRACE(std::string(joined.begin(), joined.end()));
    const RunModeChoice choice = Choose(c.args);
    EXPECT_EQ(choice.mode, c.mode);
    EXPECT_EQ(choice.config_path, c.path);
  }
}

TEST(RunModeTest, NeverLooksAtTheProgramPath) {
  const wchar_t* argv[] = {L"/svc-remove"};
  EXPECT_EQ(ChooseRunMode(1, argv).mode, RunMode::kInteractive);
  const wchar_t* with_value[] = {L"/service", L"x"};
  EXPECT_EQ(ChooseRunMode(2, with_value).mode, RunMode::kInteractive);
}

// The dispatch over a scripted process: its command line, the split, and
// the four modes.
struct FakeProcess {
  const wchar_t* command_line = L"tarnwick.exe";
  bool split_fails = false;
  int frees = 0;
  std::vector<std::string> ran;
  std::wstring path;
  int service_result = 0;
  bool install_result = true;
  bool remove_result = true;
  int interactive_result = 0;
  int frees_when_mode_ran = -1;
};
FakeProcess* g_process = nullptr;

LPWSTR WINAPI FakeGetCommandLineW() { return const_cast<LPWSTR>(g_process->command_line); }
LPWSTR* WINAPI FakeCommandLineToArgvW(LPCWSTR line, int* count) {
  if (g_process->split_fails) return nullptr;
  return ::CommandLineToArgvW(line, count);
}
HLOCAL WINAPI FakeLocalFree(HLOCAL memory) {
  ++g_process->frees;
  return ::LocalFree(memory);
}
void Ran(const char* mode) {
  g_process->ran.push_back(mode);
  g_process->frees_when_mode_ran = g_process->frees;
}
int FakeRunTunnelService(const wchar_t* path) {
  Ran("service");
  g_process->path = path;
  return g_process->service_result;
}
bool FakeInstall(const std::wstring& path) {
  Ran("install");
  g_process->path = path;
  return g_process->install_result;
}
bool FakeRemove() {
  Ran("remove");
  return g_process->remove_result;
}
int FakeInteractive() {
  Ran("interactive");
  return g_process->interactive_result;
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_process = &process_;
    calls_.GetCommandLineW = FakeGetCommandLineW;
    calls_.CommandLineToArgvW = FakeCommandLineToArgvW;
    calls_.LocalFree = FakeLocalFree;
    calls_.RunTunnelService = FakeRunTunnelService;
    calls_.InstallAndStartTunnel = FakeInstall;
    calls_.StopAndRemoveTunnel = FakeRemove;
    calls_.RunInteractive = FakeInteractive;
  }
  void TearDown() override { g_process = nullptr; }

  FakeProcess process_;
  tarnwick::RunModeCalls calls_;
};

TEST_F(DispatchTest, RunsTheChosenModeAfterFreeingTheArgumentsAndMapsItsResult) {
  const struct {
    const wchar_t* command_line;
    std::function<void(FakeProcess&)> setup;
    const char* mode;
    std::wstring path;
    int exit_code;
  } cases[] = {
      {L"\"C:\\a b\\tarnwick.exe\" /service \"C:\\Program Data\\t.conf\"", [](FakeProcess&) {},
       "service", L"C:\\Program Data\\t.conf", 0},
      {L"tarnwick.exe /service \"\"", [](FakeProcess& p) { p.service_result = 1; }, "service", L"", 1},
      {L"tarnwick.exe /svc-install \"C:\\t.conf\"", [](FakeProcess&) {}, "install", L"C:\\t.conf", 0},
      {L"tarnwick.exe /svc-install C:\\t.conf", [](FakeProcess& p) { p.install_result = false; },
       "install", L"C:\\t.conf", 1},
      {L"tarnwick.exe x /svc-remove", [](FakeProcess&) {}, "remove", L"", 0},
      {L"tarnwick.exe /svc-remove", [](FakeProcess& p) { p.remove_result = false; }, "remove", L"", 1},
      {L"tarnwick.exe", [](FakeProcess&) {}, "interactive", L"", 0},
      {L"tarnwick.exe /service", [](FakeProcess& p) { p.interactive_result = 1; }, "interactive", L"", 1},
  };
  for (const auto& c : cases) {
    const std::wstring line = c.command_line;
    SCOPED_TRACE(std::string(line.begin(), line.end()));
    process_ = FakeProcess{};
    process_.command_line = c.command_line;
    c.setup(process_);
    EXPECT_EQ(DispatchRunMode(calls_), c.exit_code);
    EXPECT_EQ(process_.ran, std::vector<std::string>{c.mode});
    EXPECT_EQ(process_.path, c.path);
    EXPECT_EQ(process_.frees, 1);
    EXPECT_EQ(process_.frees_when_mode_ran, 1) << "the array is freed before the mode runs";
  }
}

TEST_F(DispatchTest, AFailedSplitRunsInteractivelyWithNothingToFree) {
  process_.command_line = L"tarnwick.exe /svc-remove";
  process_.split_fails = true;
  process_.interactive_result = 1;
  EXPECT_EQ(DispatchRunMode(calls_), 1);
  EXPECT_EQ(process_.ran, std::vector<std::string>{"interactive"});
  EXPECT_EQ(process_.frees, 0);
}

}  // namespace
