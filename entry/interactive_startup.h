// Interactive start-up: the VPN client with its console, COM apartment,
// engine project, window and message loop.
#pragma once

#include <windows.h>
#include <io.h>

#include <cstdio>

#include "embedding/flutter_windows_api.h"

namespace tarnwick {

// Puts the standard library's streams back in step with the runtime's.
void SyncStandardStreams();

// The calls of the start-up whose effect Wine cannot show (a parent console,
// a debugger) or that tests make fail.
struct StartupCalls {
  decltype(&::AttachConsole) AttachConsole = ::AttachConsole;
  decltype(&::IsDebuggerPresent) IsDebuggerPresent = ::IsDebuggerPresent;
  decltype(&::AllocConsole) AllocConsole = ::AllocConsole;
  errno_t(__cdecl* freopen_s)(FILE**, const char*, const char*, FILE*) = ::freopen_s;
  int(__cdecl* _dup2)(int, int) = ::_dup2;
  void (*SyncStandardStreams)() = tarnwick::SyncStandardStreams;
  decltype(&::FlutterDesktopResyncOutputStreams) FlutterDesktopResyncOutputStreams =
      ::FlutterDesktopResyncOutputStreams;
};

// Step 1 of the start-up: keep the console the process was started from, or
// open one for a debugger when there is none.
void PrepareConsole(const StartupCalls& calls);

// Opens a console and sends standard output and standard error to it.
void CreateDebugConsole(const StartupCalls& calls);

}  // namespace tarnwick

// Runs the interactive application; returns the process exit code: 0 once
// the window has been closed, 1 when it could not be created.
int RunInteractive();

// Opens a console for a process started without one, for debugging.
void CreateDebugConsole();
