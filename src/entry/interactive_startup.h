// Interactive start-up: the VPN client with its console, COM apartment,
// engine project, window and message loop, once per session.
#pragma once

#include <windows.h>

#include <io.h>
#include <objbase.h>

#include <cstdio>
#include <ios>
#include <string>
#include <vector>

#include "embedding/flutter_windows_api.h"
#include "platform/calls.h"
#include "platform/unique_handle.h"

namespace tarnwick {

// The title of the application's window.
inline constexpr wchar_t kWindowTitle[] = L"tarnwick";
// Held for the whole interactive run; one per session, so another user's
// run does not count.
inline constexpr wchar_t kInstanceMutexName[] = L"Local\\TarnwickInteractive";

// The calls of the start-up, whose effect Wine cannot always show (a parent
// console, a debugger, another run's window in front) and that tests make
// fail.
struct StartupCalls {
  Call<decltype(::AttachConsole)> AttachConsole = ::AttachConsole;
  Call<decltype(::IsDebuggerPresent)> IsDebuggerPresent = ::IsDebuggerPresent;
  Call<decltype(::AllocConsole)> AllocConsole = ::AllocConsole;
  Call<errno_t(FILE**, const char*, const char*, FILE*)> freopen_s = ::freopen_s;
  Call<int(int, int)> _dup2 = ::_dup2;
  // Puts the standard library's streams back in step with the runtime's.
  Call<bool(bool)> sync_with_stdio = [](bool sync) { return std::ios::sync_with_stdio(sync); };
  Call<decltype(::FlutterDesktopResyncOutputStreams)> FlutterDesktopResyncOutputStreams =
      ::FlutterDesktopResyncOutputStreams;
  // The window's apartment.
  Call<decltype(::CoInitializeEx)> CoInitializeEx = ::CoInitializeEx;
  Call<decltype(::CoUninitialize)> CoUninitialize = ::CoUninitialize;
  // The UI libraries, before anything calls into them.
  Call<decltype(::SetDefaultDllDirectories)> SetDefaultDllDirectories = ::SetDefaultDllDirectories;
  Call<decltype(::LoadLibraryExW)> LoadLibraryExW = ::LoadLibraryExW;
  // One run per session.
  Call<decltype(::CreateMutexW)> CreateMutexW = ::CreateMutexW;
  Call<decltype(::GetLastError)> GetLastError = ::GetLastError;
  Call<decltype(::FindWindowW)> FindWindowW = ::FindWindowW;
  Call<decltype(::IsIconic)> IsIconic = ::IsIconic;
  Call<decltype(::ShowWindow)> ShowWindow = ::ShowWindow;
  Call<decltype(::SetForegroundWindow)> SetForegroundWindow = ::SetForegroundWindow;
};

// True when this process is the session's interactive run, with *claim
// holding the mutex (or empty when no mutex could be had at all, which
// lets the run go ahead). False when another run holds it: its window, if
// it has one yet, is restored when minimised and brought to the front.
[[nodiscard]] bool ClaimInteractiveRun(UniqueKernelHandle* claim, const StartupCalls& calls = {});

// Where the interactive application's libraries come from: the program
// folder, then System32; never the working folder or PATH.
constexpr DWORD kInteractiveLibrarySearchFlags =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// Keeps the console the process was started from, or opens one when it has
// none and runs under a debugger. The first step of RunInteractive's set-up
// after the libraries are loaded.
void PrepareConsole(const StartupCalls& calls = {});

// Opens a console and sends standard output and standard error to it.
void CreateDebugConsole(const StartupCalls& calls = {});

// Runs the interactive application with the process arguments (program path
// first); returns the process exit code: 0 once the window has been closed
// (and its tunnel changes have ended) or when another run of the session
// was brought to the front instead, 1 when a UI library cannot be loaded
// (one line on standard error saying which) or the window could not be
// created.
[[nodiscard]] int RunInteractive(const std::vector<std::wstring>& arguments,
                                 const StartupCalls& calls = {});

}  // namespace tarnwick
