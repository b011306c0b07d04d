// Process entry: the runtime ends the process with wWinMain's result.
#include <windows.h>

#include "entry/run_mode.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*prev_instance*/,
                    PWSTR /*command_line*/, int /*show_command*/) {
  return DispatchRunMode();
}
