#include "entry/interactive_startup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The order in which the fake calls ran, with their arguments.
std::vector<std::string> g_log;
BOOL g_attach_result = FALSE;
BOOL g_debugger = FALSE;
BOOL g_alloc_result = TRUE;
errno_t g_stdout_reopen = 0;
errno_t g_stderr_reopen = 0;

BOOL WINAPI FakeAttachConsole(DWORD process) {
  g_log.push_back("AttachConsole " + std::to_string(static_cast<long>(process)));
  return g_attach_result;
}
BOOL WINAPI FakeIsDebuggerPresent() {
  g_log.push_back("IsDebuggerPresent");
  return g_debugger;
}
BOOL WINAPI FakeAllocConsole() {
  g_log.push_back("AllocConsole");
  return g_alloc_result;
}
errno_t __cdecl FakeFreopen(FILE** result, const char* name, const char* mode, FILE* stream) {
  const bool is_stdout = stream == stdout;
  g_log.push_back(std::string("freopen ") + name + " " + mode + " " +
                  (is_stdout ? "stdout" : stream == stderr ? "stderr" : "?"));
  *result = nullptr;
  return is_stdout ? g_stdout_reopen : g_stderr_reopen;
}
int __cdecl FakeDup2(int from, int to) {
  g_log.push_back("dup2 " + std::string(from == _fileno(stdout) ? "stdout" : "?") + " " +
                  std::to_string(to));
  return 0;
}
void FakeSync() { g_log.push_back("sync"); }
void FakeResync() { g_log.push_back("resync"); }

tarnwick::StartupCalls FakeCalls() {
  tarnwick::StartupCalls calls;
  calls.AttachConsole = FakeAttachConsole;
  calls.IsDebuggerPresent = FakeIsDebuggerPresent;
  calls.AllocConsole = FakeAllocConsole;
  calls.freopen_s = FakeFreopen;
  calls._dup2 = FakeDup2;
  calls.SyncStandardStreams = FakeSync;
  calls.FlutterDesktopResyncOutputStreams = FakeResync;
  return calls;
}

TEST(InteractiveStartup, ConsoleIsOnlyCreatedWithoutAParentConsoleUnderADebugger) {
  struct Case {
    BOOL attached;
    BOOL debugger;
    BOOL alloc;
    std::vector<std::string> expected;
  };
  const std::vector<std::string> full_redirection = {
      "AttachConsole -1", "IsDebuggerPresent", "AllocConsole",
      "freopen CONOUT$ w stdout", "freopen CONOUT$ w stderr", "sync", "resync"};
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
  const tarnwick::StartupCalls calls = FakeCalls();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    g_log.clear();
    g_attach_result = c.attached;
    g_debugger = c.debugger;
    g_alloc_result = c.alloc;
    g_stdout_reopen = g_stderr_reopen = 0;
    tarnwick::PrepareConsole(calls);
    EXPECT_EQ(g_log, c.expected);
  }
}

TEST(InteractiveStartup, StreamThatCannotBeReopenedFollowsStandardOutput) {
  struct Case {
    errno_t stdout_result;
    errno_t stderr_result;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {EINVAL, 0,
       {"AllocConsole", "freopen CONOUT$ w stdout", "dup2 stdout 1", "freopen CONOUT$ w stderr",
        "sync", "resync"}},
      {0, EINVAL,
       {"AllocConsole", "freopen CONOUT$ w stdout", "freopen CONOUT$ w stderr", "dup2 stdout 2",
        "sync", "resync"}},
  };
  const tarnwick::StartupCalls calls = FakeCalls();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    g_log.clear();
    g_alloc_result = TRUE;
    g_stdout_reopen = c.stdout_result;
    g_stderr_reopen = c.stderr_result;
    tarnwick::CreateDebugConsole(calls);
    EXPECT_EQ(g_log, c.expected);
  }
}

}  // namespace
