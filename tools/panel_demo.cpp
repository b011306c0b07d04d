// Drives the stand-in UI's panel in a running tarnwick.exe for the run
// command's demo on a machine without a display: presses its buttons one by
// one, printing each step and the reply the panel logs, then closes the
// window. Built as the target panel_demo and run by scripts/run.sh under Wine.
//
//   panel_demo.exe <marker file>
// After the last reply it creates the marker file and waits for it to be
// deleted (the run command takes its screenshot meanwhile), then closes.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr DWORD kStepTimeoutMs = 45000;

HWND FindVisibleAppWindow(DWORD timeout_ms) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 100) {
    HWND window = FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", L"tarnwick");
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

struct Found {
  const wchar_t* class_name;
  const wchar_t* text;  // null: any
  HWND window;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  wchar_t class_name[64] = {};
  wchar_t text[64] = {};
  GetClassNameW(child, class_name, 64);
  GetWindowTextW(child, text, 64);
  if (lstrcmpiW(class_name, found->class_name) == 0 &&
      (found->text == nullptr || lstrcmpW(text, found->text) == 0)) {
    found->window = child;
    return FALSE;
  }
  return TRUE;
}

HWND FindDescendant(HWND top, const wchar_t* class_name, const wchar_t* text) {
  Found found{class_name, text, nullptr};
  EnumChildWindows(top, MatchChild, reinterpret_cast<LPARAM>(&found));
  return found.window;
}

std::string LogLine(HWND log, LRESULT index) {
  const LRESULT length = SendMessageW(log, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length <= 0) return std::string();
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(log, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide.data()));
  wide.resize(static_cast<size_t>(length));
  std::string text(wide.size() * 3, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    text.data(), static_cast<int>(text.size()), nullptr, nullptr);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

// Presses the button and returns the reply line the panel logs for it.
bool Step(HWND log, HWND button, const char* label, std::string* reply) {
  const LRESULT before = SendMessageW(log, LB_GETCOUNT, 0, 0);
  SendMessageW(button, BM_CLICK, 0, 0);
  for (DWORD waited = 0; waited < kStepTimeoutMs; waited += 100) {
    const LRESULT count = SendMessageW(log, LB_GETCOUNT, 0, 0);
    for (LRESULT i = before; i < count; ++i) {
      const std::string line = LogLine(log, i);
      if (line.rfind("<- ", 0) == 0) {
        *reply = line;
        return true;
      }
    }
    Sleep(100);
  }
  std::printf("demo: no reply to %s within %lu s\n", label,
              static_cast<unsigned long>(kStepTimeoutMs / 1000));
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: panel_demo <marker file>\n");
    return 2;
  }
  HWND window = FindVisibleAppWindow(60000);
  if (window == nullptr) {
    std::printf("demo: the tarnwick window did not appear\n");
    return 1;
  }
  HWND log = FindDescendant(window, L"LISTBOX", nullptr);
  if (log == nullptr) {
    std::printf("demo: the stand-in UI's panel is not there\n");
    return 1;
  }

  struct DemoStep {
    const wchar_t* button;
    const char* what;
  };
  const DemoStep steps[] = {
      {L"Connect", "connect with a sample configuration (startTunnel)"},
      {L"Status", "ask whether the tunnel runs (getStatus)"},
      {L"Stats", "ask for the traffic counters (getStats)"},
      {L"Disconnect", "disconnect (stopTunnel)"},
      {L"Status", "ask again (getStatus)"},
  };
  int failures = 0;
  int number = 0;
  for (const DemoStep& step : steps) {
    HWND button = FindDescendant(window, L"BUTTON", step.button);
    std::printf("demo step %d: %s\n", ++number, step.what);
    std::fflush(stdout);
    std::string reply;
    if (button == nullptr || !Step(log, button, step.what, &reply)) {
      ++failures;
      continue;
    }
    std::printf("demo reply %d: %s\n", number, reply.c_str());
    std::fflush(stdout);
  }

  // Hold the window for the screenshot.
  HANDLE marker = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) {
    CloseHandle(marker);
    for (int i = 0; i < 300 && GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES; ++i) {
      Sleep(100);
    }
  }

  std::printf("demo step %d: close the window\n", ++number);
  std::fflush(stdout);
  PostMessageW(window, WM_CLOSE, 0, 0);
  return failures == 0 ? 0 : 1;
}
