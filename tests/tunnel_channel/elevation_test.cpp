#include "tunnel_channel/elevation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using tarnwick::ElevationCalls;

struct FakeShell {
  std::wstring module_path = L"C:\\Program Files\\Tarnwick\\tarnwick.exe";
  bool module_fails = false;
  bool launch_fails = false;
  DWORD launch_error = 0;
  HANDLE process = reinterpret_cast<HANDLE>(0x5150);
  DWORD wait_result = WAIT_OBJECT_0;
  bool exit_code_unreadable = false;
  DWORD exit_code = 0;

  int module_calls = 0;
  HMODULE module_argument = reinterpret_cast<HMODULE>(1);
  DWORD module_size = 0;
  std::optional<SHELLEXECUTEINFOW> launched;
  std::wstring verb, file, parameters;
  std::vector<DWORD> waits;
  int exit_code_reads = 0;
  std::vector<HANDLE> closed;
};

FakeShell* shell = nullptr;

DWORD WINAPI FakeGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  ++shell->module_calls;
  shell->module_argument = module;
  shell->module_size = size;
  if (shell->module_fails) return 0;
  // As the real call: a path that does not fit is cut, and the buffer's
  // size is returned.
  const std::wstring& path = shell->module_path;
  const size_t n = std::min<size_t>(path.size(), size - 1);
  std::copy(path.begin(), path.begin() + n, buffer);
  buffer[n] = L'\0';
  return path.size() >= size ? size : static_cast<DWORD>(n);
}

BOOL WINAPI FakeShellExecuteExW(SHELLEXECUTEINFOW* info) {
  shell->launched = *info;
  // The strings live only during the call; keep copies.
  shell->verb = info->lpVerb ? info->lpVerb : L"<null>";
  shell->file = info->lpFile ? info->lpFile : L"<null>";
  shell->parameters = info->lpParameters ? info->lpParameters : L"<null>";
  if (shell->launch_fails) {
    ::SetLastError(shell->launch_error);
    return FALSE;
  }
  info->hProcess = shell->process;
  return TRUE;
}

DWORD WINAPI FakeGetLastError() { return ::GetLastError(); }

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  EXPECT_EQ(handle, shell->process);
  shell->waits.push_back(milliseconds);
  return shell->wait_result;
}

BOOL WINAPI FakeGetExitCodeProcess(HANDLE handle, LPDWORD code) {
  EXPECT_EQ(handle, shell->process);
  EXPECT_EQ(*code, 1u) << "the exit code is preset to failure";
  ++shell->exit_code_reads;
  if (shell->exit_code_unreadable) return FALSE;
  *code = shell->exit_code;
  return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  shell->closed.push_back(handle);
  return TRUE;
}

class RunSelfElevatedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell = &state_;
    calls_.GetModuleFileNameW = FakeGetModuleFileNameW;
    calls_.ShellExecuteExW = FakeShellExecuteExW;
    calls_.GetLastError = FakeGetLastError;
    calls_.WaitForSingleObject = FakeWaitForSingleObject;
    calls_.GetExitCodeProcess = FakeGetExitCodeProcess;
    calls_.CloseHandle = FakeCloseHandle;
  }
  void TearDown() override { shell = nullptr; }

  FakeShell state_;
  ElevationCalls calls_;
};

TEST_F(RunSelfElevatedTest, StartsItselfWithRunasAndTheParametersAsGiven) {
  const std::wstring parameters = L"/svc-install \"C:\\Program Data\\Tarnwick\\tarnwick.conf\"";
  EXPECT_EQ(tarnwick::RunSelfElevated(parameters, calls_), kSucceeded);

  EXPECT_EQ(state_.module_argument, nullptr) << "the running executable";
  EXPECT_EQ(state_.module_size, static_cast<DWORD>(MAX_PATH));
  ASSERT_TRUE(state_.launched.has_value());
  const SHELLEXECUTEINFOW& info = *state_.launched;
  EXPECT_EQ(info.cbSize, sizeof(SHELLEXECUTEINFOW));
  EXPECT_EQ(info.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
  EXPECT_EQ(info.hwnd, nullptr);
  EXPECT_EQ(state_.verb, L"runas");
  EXPECT_EQ(state_.file, state_.module_path);
  EXPECT_EQ(state_.parameters, parameters);
  EXPECT_EQ(info.lpDirectory, nullptr);
  EXPECT_EQ(info.nShow, SW_HIDE);
  EXPECT_EQ(info.hInstApp, nullptr);
  EXPECT_EQ(info.lpIDList, nullptr);
  EXPECT_EQ(info.lpClass, nullptr);
  EXPECT_EQ(info.hkeyClass, nullptr);
  EXPECT_EQ(info.dwHotKey, 0u);
  EXPECT_EQ(info.hProcess, nullptr);
  EXPECT_EQ(state_.waits, std::vector<DWORD>{20000});
  EXPECT_EQ(state_.closed, std::vector<HANDLE>{state_.process});
}

TEST_F(RunSelfElevatedTest, EveryWayItCanEndIsOneOfThreeOutcomes) {
  struct Row {
    const char* what;
    void (*arrange)(FakeShell&);
    ElevationOutcome outcome;
    bool launched;
    bool waited;
    bool closed;
  } rows[] = {
      {"module path unavailable", [](FakeShell& s) { s.module_fails = true; },
       kFailed, false, false, false},
      {"module path of 260 characters", [](FakeShell& s) { s.module_path.assign(260, L'p'); },
       kFailed, false, false, false},
      {"module path of 259 characters", [](FakeShell& s) { s.module_path.assign(259, L'p'); },
       kSucceeded, true, true, true},
      {"prompt declined", [](FakeShell& s) { s.launch_fails = true; s.launch_error = ERROR_CANCELLED; },
       kCancelled, true, false, false},
      {"launch fails", [](FakeShell& s) { s.launch_fails = true; s.launch_error = ERROR_FILE_NOT_FOUND; },
       kFailed, true, false, false},
      {"launch fails, access denied", [](FakeShell& s) { s.launch_fails = true; s.launch_error = ERROR_ACCESS_DENIED; },
       kFailed, true, false, false},
      {"no process handle", [](FakeShell& s) { s.process = nullptr; },
       kFailed, true, false, false},
      {"still running after the limit", [](FakeShell& s) { s.wait_result = WAIT_TIMEOUT; },
       kFailed, true, true, true},
      {"wait fails", [](FakeShell& s) { s.wait_result = WAIT_FAILED; },
       kFailed, true, true, true},
      {"exit code unreadable", [](FakeShell& s) { s.exit_code_unreadable = true; },
       kFailed, true, true, true},
      {"service change failed", [](FakeShell& s) { s.exit_code = 1; },
       kFailed, true, true, true},
      {"still active code", [](FakeShell& s) { s.exit_code = STILL_ACTIVE; },
       kFailed, true, true, true},
      {"done", [](FakeShell& s) { s.exit_code = 0; },
       kSucceeded, true, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    state_ = FakeShell{};
    row.arrange(state_);

    EXPECT_EQ(tarnwick::RunSelfElevated(L"/svc-remove", calls_), row.outcome);
    EXPECT_EQ(state_.launched.has_value(), row.launched);
    EXPECT_EQ(state_.waits.size(), row.waited ? 1u : 0u);
    if (row.waited) {
      EXPECT_EQ(state_.waits[0], kElevatedHelperTimeoutMs);
    }
    EXPECT_EQ(state_.closed.size(), row.closed ? 1u : 0u) << "closed exactly when waited on";
    // Only a signalled wait lets the exit code be read.
    EXPECT_EQ(state_.exit_code_reads > 0,
              row.waited && state_.wait_result == WAIT_OBJECT_0);
  }
}

// The real shell under Wine starts "runas" processes without a prompt and
// reports their exit codes; the module-path seam points it at a window-less
// program that exits with the code it is given.
std::wstring system_program;

DWORD WINAPI FixtureModuleFileName(HMODULE, LPWSTR buffer, DWORD size) {
  if (system_program.size() >= size) return size;
  std::copy(system_program.begin(), system_program.end(), buffer);
  buffer[system_program.size()] = L'\0';
  return static_cast<DWORD>(system_program.size());
}

// The build knows the fixture by its Unix path; Wine maps / to drive Z:.
std::wstring WindowsPathOf(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* c = unix_path; *c != '\0'; ++c) path += (*c == '/') ? L'\\' : wchar_t(*c);
  return path;
}

TEST(RunSelfElevatedRealShellTest, ExitCodeOfTheElevatedProcessDecides) {
  system_program = WindowsPathOf(TARNWICK_EXIT_WITH_EXE);

  ElevationCalls calls;
  calls.GetModuleFileNameW = FixtureModuleFileName;
  EXPECT_EQ(tarnwick::RunSelfElevated(L"0", calls), kSucceeded);
  EXPECT_EQ(tarnwick::RunSelfElevated(L"1", calls), kFailed);
  EXPECT_EQ(tarnwick::RunSelfElevated(L"7", calls), kFailed);
  // A launch failure is left to the seams: the shell reports a missing file
  // in a message box of its own, which waits for a person on any display.
}

}  // namespace
