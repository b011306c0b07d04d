// The start-up's console handling through its call table: when a console is
// made, and where the standard streams go; and the one run per session,
// which hands over to a run already there.
#include "entry/interactive_startup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/support/paths.h"

namespace {

using tarnwick::StartupCalls;
using tarnwick::e2e::Narrow;

class InteractiveStartupTest : public ::testing::Test {
 protected:
  // The calls in the order they ran, with their arguments.
  StartupCalls Calls() {
    StartupCalls c;
    c.AttachConsole = [this](DWORD process) {
      log_.push_back("AttachConsole " + std::to_string(static_cast<long>(process)));
      return attached_;
    };
    c.IsDebuggerPresent = [this] {
      log_.push_back("IsDebuggerPresent");
      return debugger_;
    };
    c.AllocConsole = [this] {
      log_.push_back("AllocConsole");
      return allocated_;
    };
    c.freopen_s = [this](FILE** result, const char* name, const char* mode, FILE* stream) {
      const bool is_stdout = stream == stdout;
      log_.push_back(std::string("freopen ") + name + " " + mode + " " +
                     (is_stdout          ? "stdout"
                      : stream == stderr ? "stderr"
                                         : "?"));
      *result = nullptr;
      return is_stdout ? stdout_reopen_ : stderr_reopen_;
    };
    c._dup2 = [this](int from, int to) {
      log_.push_back("dup2 " + std::string(from == _fileno(stdout) ? "stdout" : "?") + " " +
                     std::to_string(to));
      return 0;
    };
    c.sync_with_stdio = [this](bool sync) {
      log_.push_back(std::string("sync_with_stdio ") + (sync ? "true" : "false"));
      return true;
    };
    c.FlutterDesktopResyncOutputStreams = [this] { log_.push_back("resync"); };
    return c;
  }

  std::vector<std::string> log_;
  BOOL attached_ = FALSE;
  BOOL debugger_ = FALSE;
  BOOL allocated_ = TRUE;
  errno_t stdout_reopen_ = 0;
  errno_t stderr_reopen_ = 0;
};

TEST_F(InteractiveStartupTest, ConsoleIsOnlyCreatedWithoutAParentConsoleUnderADebugger) {
  struct Case {
    BOOL attached;
    BOOL debugger;
    BOOL alloc;
    std::vector<std::string> expected;
  };
  const std::vector<std::string> full_redirection = {"AttachConsole -1",
                                                     "IsDebuggerPresent",
                                                     "AllocConsole",
                                                     "freopen CONOUT$ w stdout",
                                                     "freopen CONOUT$ w stderr",
                                                     "sync_with_stdio true",
                                                     "resync"};
  const Case cases[] = {
      // Started from a console: attached, nothing more, even under a debugger.
      {TRUE, TRUE, TRUE, {"AttachConsole -1"}},
      {TRUE, FALSE, TRUE, {"AttachConsole -1"}},
      // Started from Explorer without a debugger: no console at all.
      {FALSE, FALSE, TRUE, {"AttachConsole -1", "IsDebuggerPresent"}},
      // ... under a debugger: a console of its own with both streams on it.
      {FALSE, TRUE, TRUE, full_redirection},
      // No console to be had: nothing is redirected.
      {FALSE, TRUE, FALSE, {"AttachConsole -1", "IsDebuggerPresent", "AllocConsole"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    log_.clear();
    attached_ = c.attached;
    debugger_ = c.debugger;
    allocated_ = c.alloc;
    tarnwick::PrepareConsole(Calls());
    EXPECT_EQ(log_, c.expected);
  }
}

TEST_F(InteractiveStartupTest, StreamThatCannotBeReopenedFollowsStandardOutput) {
  struct Case {
    errno_t stdout_result;
    errno_t stderr_result;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {EINVAL,
       0,
       {"AllocConsole", "freopen CONOUT$ w stdout", "dup2 stdout 1", "freopen CONOUT$ w stderr",
        "sync_with_stdio true", "resync"}},
      {0,
       EINVAL,
       {"AllocConsole", "freopen CONOUT$ w stdout", "freopen CONOUT$ w stderr", "dup2 stdout 2",
        "sync_with_stdio true", "resync"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    log_.clear();
    stdout_reopen_ = c.stdout_result;
    stderr_reopen_ = c.stderr_result;
    tarnwick::CreateDebugConsole(Calls());
    EXPECT_EQ(log_, c.expected);
  }
}

bool HandleOpen(HANDLE handle) {
  DWORD flags = 0;
  return handle != nullptr && ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST_F(InteractiveStartupTest, SecondRunBringsTheFirstWindowForwardAndStops) {
  const HWND kFirst = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x30EF0));
  struct Row {
    const char* what;
    bool mutex_made;
    DWORD error;
    HWND window;
    BOOL minimised;
    bool runs;
    std::vector<std::string> calls;
  } rows[] = {
      {"first run", true, ERROR_SUCCESS, kFirst, FALSE, true, {}},
      {"second run, window minimised",
       true,
       ERROR_ALREADY_EXISTS,
       kFirst,
       TRUE,
       false,
       {"FindWindowW FLUTTER_RUNNER_WIN32_WINDOW tarnwick", "IsIconic", "ShowWindow 9",
        "SetForegroundWindow"}},
      {"second run",
       true,
       ERROR_ALREADY_EXISTS,
       kFirst,
       FALSE,
       false,
       {"FindWindowW FLUTTER_RUNNER_WIN32_WINDOW tarnwick", "IsIconic", "SetForegroundWindow"}},
      {"second run, first has no window yet",
       true,
       ERROR_ALREADY_EXISTS,
       nullptr,
       FALSE,
       false,
       {"FindWindowW FLUTTER_RUNNER_WIN32_WINDOW tarnwick"}},
      {"first run is elevated",
       false,
       ERROR_ACCESS_DENIED,
       kFirst,
       FALSE,
       false,
       {"FindWindowW FLUTTER_RUNNER_WIN32_WINDOW tarnwick", "IsIconic", "SetForegroundWindow"}},
      {"no mutex to be had", false, ERROR_INVALID_PARAMETER, kFirst, FALSE, true, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> calls;
    HANDLE made = nullptr;
    StartupCalls c = Calls();
    c.CreateMutexW = [&](LPSECURITY_ATTRIBUTES attributes, BOOL owned, LPCWSTR name) -> HANDLE {
      EXPECT_EQ(attributes, nullptr);
      EXPECT_FALSE(owned);
      EXPECT_EQ(Narrow(name), "Local\\TarnwickInteractive");
      // A real handle, closed with the real call.
      made = row.mutex_made ? ::CreateMutexW(nullptr, FALSE, nullptr) : nullptr;
      return made;
    };
    c.GetLastError = [&] { return row.error; };
    c.FindWindowW = [&](LPCWSTR window_class, LPCWSTR title) {
      calls.push_back("FindWindowW " + Narrow(window_class) + " " + Narrow(title));
      return row.window;
    };
    c.IsIconic = [&](HWND window) {
      EXPECT_EQ(window, kFirst);
      calls.push_back("IsIconic");
      return row.minimised;
    };
    c.ShowWindow = [&](HWND window, int command) {
      EXPECT_EQ(window, kFirst);
      calls.push_back("ShowWindow " + std::to_string(command));
      return TRUE;
    };
    c.SetForegroundWindow = [&](HWND window) {
      EXPECT_EQ(window, kFirst);
      calls.push_back("SetForegroundWindow");
      return TRUE;
    };

    tarnwick::UniqueKernelHandle claim;
    EXPECT_EQ(tarnwick::ClaimInteractiveRun(&claim, c), row.runs);
    EXPECT_EQ(calls, row.calls);
    // The first run holds its mutex; a second one gives its handle back.
    EXPECT_EQ(claim.get(), row.runs ? made : nullptr);
    if (!row.runs) {
      EXPECT_FALSE(HandleOpen(made));
    }
  }
}

}  // namespace
