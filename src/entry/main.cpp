// Process entry: the runtime ends the process with wWinMain's result.
#include <windows.h>

#include "entry/run_mode.h"
#include "platform/command_line.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*prev_instance*/, PWSTR /*command_line*/,
                    int /*show_command*/) {
  // Before anything can load a library: System32 only. The service modes
  // run as an administrator or as SYSTEM and keep it so (the service host
  // names the program folder for tunnel.dll alone); the interactive start-up
  // adds the program folder for the UI libraries.
  (void)::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Split once: the dispatch picks the mode from it and the interactive
  // application hands the same arguments to the UI.
  return tarnwick::DispatchRunMode(tarnwick::SplitCommandLine());
}
