// The elevated self-invocation: what it asks the shell for, the three
// outcomes of every way it can end through a scripted shell, the copy that
// outlives its wait holding off the next, and the exit code of a real
// process started by the real shell.
#include "tunnel_channel/elevation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using tarnwick::ElevationOutcome;
using tarnwick::ElevationState;
using tarnwick::kCancelled;
using tarnwick::kElevatedHelperTimeoutMs;
using tarnwick::kFailed;
using tarnwick::kSucceeded;
using tarnwick::RunSelfElevated;
using tarnwick::TunnelChannelCalls;

bool HandleOpen(HANDLE handle) {
  DWORD flags = 0;
  return handle != nullptr && ::GetHandleInformation(handle, &flags) != FALSE;
}

struct FakeShell {
  std::wstring request = L"/svc-remove";  // the parameters asked for
  std::wstring module_path = L"C:\\Program Files\\Tarnwick\\tarnwick.exe";
  bool module_fails = false;
  bool launch_fails = false;
  DWORD launch_error = 0;
  bool gives_process = true;
  DWORD wait_result = WAIT_OBJECT_0;
  // The answer about a copy kept from an earlier call, asked without waiting.
  DWORD kept_wait_result = WAIT_TIMEOUT;
  bool exit_code_unreadable = false;
  DWORD exit_code = 0;

  int module_calls = 0;
  HMODULE module_argument = reinterpret_cast<HMODULE>(1);
  DWORD module_size = 0;
  std::optional<SHELLEXECUTEINFOW> launched;
  std::wstring verb, file, parameters;
  HANDLE process = nullptr;  // the real handle handed out as the process
  std::vector<DWORD> waits;
  std::vector<DWORD> kept_waits;
  bool kept_open_at_launch = false;
  int exit_code_reads = 0;
};

class ElevationTest : public ::testing::Test {
 protected:
  TunnelChannelCalls Calls() {
    TunnelChannelCalls c;
    c.GetModuleFileNameW = [this](HMODULE module, LPWSTR buffer, DWORD size) -> DWORD {
      ++shell_.module_calls;
      shell_.module_argument = module;
      shell_.module_size = size;
      if (shell_.module_fails) return 0;
      // As the real call: a path that does not fit is cut, and the buffer's
      // size is returned.
      const std::wstring& path = shell_.module_path;
      const size_t n = std::min<size_t>(path.size(), size - 1);
      std::copy(path.begin(), path.begin() + n, buffer);
      buffer[n] = L'\0';
      return path.size() >= size ? size : static_cast<DWORD>(n);
    };
    c.ShellExecuteExW = [this](SHELLEXECUTEINFOW* info) {
      shell_.launched = *info;
      // The strings live only during the call; keep copies.
      shell_.verb = info->lpVerb ? info->lpVerb : L"<null>";
      shell_.file = info->lpFile ? info->lpFile : L"<null>";
      shell_.parameters = info->lpParameters ? info->lpParameters : L"<null>";
      // Checked before a new handle can take the old one's number.
      shell_.kept_open_at_launch = kept_ != nullptr && HandleOpen(kept_);
      if (shell_.launch_fails) {
        ::SetLastError(shell_.launch_error);
        return FALSE;
      }
      if (shell_.gives_process) {
        // A real handle, because the caller closes it with the real call.
        shell_.process = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
        EXPECT_NE(shell_.process, nullptr);
      }
      info->hProcess = shell_.process;
      return TRUE;
    };
    c.WaitForSingleObject = [this](HANDLE handle, DWORD milliseconds) {
      // Handle numbers are reused, so the kept copy is told by the wait:
      // it alone is asked without waiting.
      if (milliseconds == 0) {
        EXPECT_EQ(handle, kept_);
        shell_.kept_waits.push_back(milliseconds);
        return shell_.kept_wait_result;
      }
      EXPECT_EQ(handle, shell_.process);
      shell_.waits.push_back(milliseconds);
      return shell_.wait_result;
    };
    c.GetExitCodeProcess = [this](HANDLE handle, LPDWORD code) {
      EXPECT_EQ(handle, shell_.process);
      EXPECT_EQ(*code, 1u) << "the exit code is preset to failure";
      ++shell_.exit_code_reads;
      if (shell_.exit_code_unreadable) return FALSE;
      *code = shell_.exit_code;
      return TRUE;
    };
    return c;
  }

  FakeShell shell_;
  ElevationState state_;
  HANDLE kept_ = nullptr;  // the copy kept in state_, as handed out
};

const HWND kOwner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10AB0));

TEST_F(ElevationTest, StartsItselfWithRunasAndTheParametersAsGiven) {
  const std::wstring parameters = L"/svc-install \"C:\\Program Data\\a folder\\a file.conf\"";
  EXPECT_EQ(RunSelfElevated(parameters, kOwner, state_, Calls()), kSucceeded);

  EXPECT_EQ(shell_.module_argument, nullptr) << "the running executable";
  EXPECT_EQ(shell_.module_size, static_cast<DWORD>(MAX_PATH));
  ASSERT_TRUE(shell_.launched.has_value());
  const SHELLEXECUTEINFOW& info = *shell_.launched;
  EXPECT_EQ(info.cbSize, sizeof(SHELLEXECUTEINFOW));
  EXPECT_EQ(info.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC))
      << "a process handle back, and no work left for a thread without a message loop";
  EXPECT_EQ(info.hwnd, kOwner) << "the prompt belongs to the window";
  EXPECT_EQ(shell_.verb, L"runas");
  EXPECT_EQ(shell_.file, shell_.module_path);
  EXPECT_EQ(shell_.parameters, parameters);
  EXPECT_EQ(info.lpDirectory, nullptr);
  EXPECT_EQ(info.nShow, SW_HIDE);
  EXPECT_EQ(info.hInstApp, nullptr);
  EXPECT_EQ(info.lpIDList, nullptr);
  EXPECT_EQ(info.lpClass, nullptr);
  EXPECT_EQ(info.hkeyClass, nullptr);
  EXPECT_EQ(info.dwHotKey, 0u);
  EXPECT_EQ(info.hProcess, nullptr);
  EXPECT_EQ(shell_.waits, std::vector<DWORD>{20000});
  EXPECT_FALSE(HandleOpen(shell_.process)) << "the process handle is closed";
  EXPECT_FALSE(state_.unfinished_copy);
}

TEST_F(ElevationTest, EveryWayItCanEndIsOneOfThreeOutcomes) {
  struct Row {
    const char* what;
    void (*arrange)(FakeShell&);
    ElevationOutcome outcome;
    bool launched;
    bool waited;
  } rows[] = {
      {"module path unavailable", [](FakeShell& s) { s.module_fails = true; }, kFailed, false,
       false},
      {"module path of 260 characters", [](FakeShell& s) { s.module_path.assign(260, L'p'); },
       kFailed, false, false},
      {"module path of 259 characters", [](FakeShell& s) { s.module_path.assign(259, L'p'); },
       kSucceeded, true, true},
      {"prompt declined",
       [](FakeShell& s) {
         s.launch_fails = true;
         s.launch_error = ERROR_CANCELLED;
       },
       kCancelled, true, false},
      {"launch fails",
       [](FakeShell& s) {
         s.launch_fails = true;
         s.launch_error = ERROR_FILE_NOT_FOUND;
       },
       kFailed, true, false},
      {"launch fails, access denied",
       [](FakeShell& s) {
         s.launch_fails = true;
         s.launch_error = ERROR_ACCESS_DENIED;
       },
       kFailed, true, false},
      {"no process handle", [](FakeShell& s) { s.gives_process = false; }, kFailed, true, false},
      {"still running after the limit", [](FakeShell& s) { s.wait_result = WAIT_TIMEOUT; }, kFailed,
       true, true},
      {"wait fails", [](FakeShell& s) { s.wait_result = WAIT_FAILED; }, kFailed, true, true},
      {"exit code unreadable", [](FakeShell& s) { s.exit_code_unreadable = true; }, kFailed, true,
       true},
      {"service change failed", [](FakeShell& s) { s.exit_code = 1; }, kFailed, true, true},
      {"still active code", [](FakeShell& s) { s.exit_code = STILL_ACTIVE; }, kFailed, true, true},
      {"done", [](FakeShell& s) { s.exit_code = 0; }, kSucceeded, true, true},
      // A copy without a switch would be the interactive application,
      // which ends with 0 whatever became of the tunnel.
      {"no switch", [](FakeShell& s) { s.request.clear(); }, kFailed, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    shell_ = FakeShell{};
    row.arrange(shell_);
    ElevationState state;

    EXPECT_EQ(RunSelfElevated(shell_.request, nullptr, state, Calls()), row.outcome);
    EXPECT_EQ(shell_.launched.has_value(), row.launched);
    EXPECT_EQ(shell_.waits.size(), row.waited ? 1u : 0u);
    if (row.waited) {
      EXPECT_EQ(shell_.waits[0], kElevatedHelperTimeoutMs);
    }
    // Every process handle handed out is closed, except a copy left
    // running, which is kept until it is seen to have ended.
    EXPECT_EQ(shell_.process != nullptr, row.waited);
    const bool kept = shell_.wait_result == WAIT_TIMEOUT;
    EXPECT_EQ(state.unfinished_copy.get(), kept ? shell_.process : nullptr);
    state.unfinished_copy.reset();
    EXPECT_FALSE(HandleOpen(shell_.process));
    // Only a signalled wait lets the exit code be read.
    EXPECT_EQ(shell_.exit_code_reads > 0, row.waited && shell_.wait_result == WAIT_OBJECT_0);
  }
}

// A copy still running when its wait ran out may still be changing the
// service: no other is started while it runs.
TEST_F(ElevationTest, CopyLeftRunningHoldsOffTheNext) {
  struct Row {
    const char* what;
    DWORD kept_wait_result;
    ElevationOutcome outcome;
  } rows[] = {
      {"still running", WAIT_TIMEOUT, kFailed},
      {"ended", WAIT_OBJECT_0, kSucceeded},
      {"wait on it fails", WAIT_FAILED, kSucceeded},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    shell_ = FakeShell{};
    shell_.wait_result = WAIT_TIMEOUT;
    ElevationState state;
    EXPECT_EQ(RunSelfElevated(L"/svc-remove", nullptr, state, Calls()), kFailed);
    kept_ = shell_.process;
    ASSERT_EQ(state.unfinished_copy.get(), kept_);

    shell_ = FakeShell{};
    shell_.kept_wait_result = row.kept_wait_result;
    EXPECT_EQ(RunSelfElevated(shell_.request, nullptr, state, Calls()), row.outcome);
    EXPECT_EQ(shell_.kept_waits, std::vector<DWORD>{0}) << "asked without waiting";
    const bool launched = row.outcome == kSucceeded;
    EXPECT_EQ(shell_.launched.has_value(), launched);
    if (launched) {
      EXPECT_FALSE(shell_.kept_open_at_launch) << "the old copy's handle is closed first";
      EXPECT_FALSE(state.unfinished_copy);
    } else {
      EXPECT_EQ(state.unfinished_copy.get(), kept_);
      EXPECT_TRUE(HandleOpen(kept_));
    }
  }
}

// The build knows the fixture by its Unix path; Wine maps / to drive Z:.
std::wstring WindowsPathOf(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* c = unix_path; *c != '\0'; ++c) path += (*c == '/') ? L'\\' : wchar_t(*c);
  return path;
}

// The real shell under Wine starts "runas" processes without a prompt and
// reports their exit codes; the module path points it at a window-less
// program that exits with the code it is given.
TEST_F(ElevationTest, ExitCodeOfTheElevatedProcessDecides) {
  const std::wstring program = WindowsPathOf(TARNWICK_EXIT_WITH_EXE);
  TunnelChannelCalls calls;
  calls.GetModuleFileNameW = [&program](HMODULE, LPWSTR buffer, DWORD size) -> DWORD {
    if (program.size() >= size) return size;
    std::copy(program.begin(), program.end(), buffer);
    buffer[program.size()] = L'\0';
    return static_cast<DWORD>(program.size());
  };
  EXPECT_EQ(RunSelfElevated(L"0", nullptr, state_, calls), kSucceeded);
  EXPECT_EQ(RunSelfElevated(L"1", nullptr, state_, calls), kFailed);
  EXPECT_EQ(RunSelfElevated(L"7", nullptr, state_, calls), kFailed);
  // A launch failure is left to the scripted shell: the real one reports a
  // missing file in a message box of its own, which waits for a person on
  // any display.
}

}  // namespace
