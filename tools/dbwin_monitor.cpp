// Prints every debugger-output line of every process in the prefix as it
// happens, one line per message: "[<process id>] <text>". Runs until
// interrupted.
#include <windows.h>

#include <cstdio>

#include "tools/dbwin_capture.h"

namespace {

HANDLE g_interrupted = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  ::SetEvent(g_interrupted);
  return TRUE;
}

}  // namespace

int main() {
  g_interrupted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_interrupted == nullptr) return 1;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  tarnwick::DebugOutputCapture capture;
  capture.SetSink([](const tarnwick::DebugLine& line) {
    std::printf("[%lu] %s\n", static_cast<unsigned long>(line.pid), line.text.c_str());
    std::fflush(stdout);
  });
  // Allows a test's monitor that has just ended to let go of the channel.
  constexpr DWORD kClaimMs = 3000;
  DWORD error = 0;
  if (!capture.Start(&error, kClaimMs)) {
    std::fprintf(stderr, "dbwin_monitor: cannot capture debugger output (error %lu)%s\n",
                 static_cast<unsigned long>(error),
                 error == ERROR_ALREADY_EXISTS ? ": another monitor is running" : "");
    return 1;
  }
  ::WaitForSingleObject(g_interrupted, INFINITE);
  capture.Stop();
  ::CloseHandle(g_interrupted);
  return 0;
}
