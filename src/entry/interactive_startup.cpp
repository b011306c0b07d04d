#include "entry/interactive_startup.h"

#include <cwchar>
#include <iostream>
#include <optional>
#include <utility>

#include "embedding/engine_project.h"
#include "entry/utf8.h"
#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "windows/flutter_window.h"
#include "windows/plugin_registration.h"

namespace tarnwick {
namespace {

// Reopens stream on the console; when that fails, the stream's descriptor
// is pointed at whatever standard output now is.
void RedirectToConsole(const StartupCalls& calls, FILE* stream, int descriptor) {
  FILE* unused = nullptr;
  if (calls.freopen_s(&unused, "CONOUT$", "w", stream) != 0) {
    calls._dup2(_fileno(stdout), descriptor);
  }
}

// Loads every UI library now, so that a missing one ends the start-up with
// a message instead of failing inside the first call into it (a delay-load
// failure raises an exception). The delay-load helper later finds each one
// already loaded. On failure, what to tell the user.
std::optional<Failure> LoadUiLibraries(const StartupCalls& calls,
                                       std::vector<UniqueModule>* modules) {
  for (const wchar_t* name : kUiLibraries) {
    UniqueModule module(calls.LoadLibraryExW(name, nullptr, kInteractiveLibrarySearchFlags));
    if (!module) {
      return Failure{std::wstring(L"tarnwick: cannot start: ") + name +
                     L" cannot be loaded from the program folder: " +
                     SystemErrorText(calls.GetLastError()) + L"; reinstall Tarnwick"};
    }
    modules->push_back(std::move(module));
  }
  return std::nullopt;
}

}  // namespace

void PrepareConsole(const StartupCalls& calls) {
  // Started from a console window: write there and leave it at that. Only
  // a process with no console that runs under a debugger gets one of its own.
  if (!calls.AttachConsole(ATTACH_PARENT_PROCESS) && calls.IsDebuggerPresent()) {
    CreateDebugConsole(calls);
  }
}

void CreateDebugConsole(const StartupCalls& calls) {
  if (!calls.AllocConsole()) return;
  RedirectToConsole(calls, stdout, 1);
  RedirectToConsole(calls, stderr, 2);
  calls.sync_with_stdio(true);
  // The embedding library keeps output streams of its own.
  calls.FlutterDesktopResyncOutputStreams();
}

bool ClaimInteractiveRun(UniqueKernelHandle* claim, const StartupCalls& calls) {
  UniqueKernelHandle mutex(calls.CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  const DWORD error = calls.GetLastError();
  if (mutex && error != ERROR_ALREADY_EXISTS) {
    *claim = std::move(mutex);
    return true;
  }
  // Access denied: it exists, made by an elevated run this one cannot open.
  // Any other failure leaves nothing to tell by; the run goes ahead.
  if (!mutex && error != ERROR_ACCESS_DENIED) return true;

  // The other run may not have its window yet; then there is nothing to show.
  if (const HWND window = calls.FindWindowW(kWindowClassName, kWindowTitle)) {
    if (calls.IsIconic(window)) calls.ShowWindow(window, SW_RESTORE);
    calls.SetForegroundWindow(window);
  }
  return false;
}

int RunInteractive(const std::vector<std::wstring>& arguments, const StartupCalls& calls) {
  // Declared first, so it is given back only after the window and its
  // tunnel changes have gone.
  UniqueKernelHandle instance;
  if (!ClaimInteractiveRun(&instance, calls)) return 0;

  // wWinMain allowed System32 only; the UI libraries live in the program
  // folder.
  (void)calls.SetDefaultDllDirectories(kInteractiveLibrarySearchFlags);
  // Released after the window and the engine are gone.
  std::vector<UniqueModule> ui_libraries;
  if (const std::optional<Failure> missing = LoadUiLibraries(calls, &ui_libraries)) {
    // The console set-up below calls into the embedding library, so the
    // message goes to whatever standard error the process was given.
    std::fwprintf(stderr, L"%ls\n", missing->text.c_str());
    std::fflush(stderr);
    return 1;
  }

  PrepareConsole(calls);

  // The result is not needed: a thread where COM is already set up works
  // the same for the window and the embedding.
  (void)calls.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  // The paths stay relative; the embedding resolves them.
  flutter::EngineProject project(L"data");
  project.set_entrypoint_arguments(CommandLineArgumentsUtf8(arguments));

  FlutterWindow window(project);
  if (!window.Create(kWindowTitle, Point(10, 10), Size(1280, 720))) {
    return 1;
  }
  window.SetQuitOnClose(true);

  MSG message;
  // GetMessageW gives -1 on an error; looping on it would spin forever.
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }

  calls.CoUninitialize();
  return 0;
}

}  // namespace tarnwick
