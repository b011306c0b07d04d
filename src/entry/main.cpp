// Process entry: the runtime ends the process with wWinMain's result.
#include <windows.h>

#include "entry/run_mode.h"
#include "platform/command_line.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*prev_instance*/, PWSTR /*command_line*/,
                    int /*show_command*/) {
  // Split once: the dispatch picks the mode from it and the interactive
  // application hands the same arguments to the UI.
  return tarnwick::DispatchRunMode(tarnwick::SplitCommandLine());
}
