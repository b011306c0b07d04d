// Run-mode dispatch: which role this process plays, chosen from its command
// line. The switches and exit codes are an interface between copies of this
// executable (the service's stored command line and the elevated helper
// started by the interactive copy) and with the package, which runs the
// uninstall mode.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

enum class RunMode { kServiceHost, kInstall, kRemove, kUninstall, kInteractive };

struct RunModeChoice {
  RunMode mode = RunMode::kInteractive;
  // The configuration path for the service host and install modes.
  std::wstring config_path;
};

// Scans the arguments after the program path for the first switch that
// applies. The program path is never examined; a value is never tested as a
// switch.
[[nodiscard]] RunModeChoice ChooseRunMode(const std::vector<std::wstring>& arguments);

// Runs the mode the arguments (program path first) choose and returns the
// process exit code: 0 for success, 1 for failure, in every mode.
[[nodiscard]] int DispatchRunMode(const std::vector<std::wstring>& arguments);

}  // namespace tarnwick
