// Run-mode dispatch: which of the four roles this process plays, chosen from
// its command line. The switches and exit codes are an interface between
// copies of this executable (the service's stored command line and the
// elevated helper started by the interactive copy).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "entry/interactive_startup.h"
#include "service/service_host.h"
#include "service/service_manager.h"

enum class RunMode { kServiceHost, kInstall, kRemove, kInteractive };

namespace tarnwick {

inline constexpr wchar_t kServiceSwitch[] = L"/service";
inline constexpr wchar_t kInstallSwitch[] = L"/svc-install";
inline constexpr wchar_t kRemoveSwitch[] = L"/svc-remove";

struct RunModeChoice {
  RunMode mode = RunMode::kInteractive;
  // The configuration path for the service host and install modes.
  std::wstring config_path;
};

// Scans argv[1..argc-1] for the first switch that applies. argv[0], the
// program path, is never examined; a value is never tested as a switch.
[[nodiscard]] RunModeChoice ChooseRunMode(int argc, const wchar_t* const* argv);

// The calls the dispatch makes, defaulting to the real ones.
struct RunModeCalls {
  decltype(&::GetCommandLineW) GetCommandLineW = ::GetCommandLineW;
  decltype(&::CommandLineToArgvW) CommandLineToArgvW = ::CommandLineToArgvW;
  decltype(&::LocalFree) LocalFree = ::LocalFree;
  // The mode functions are overloaded (with and without a call table); the
  // pointer types pick the plain ones.
  int (*RunTunnelService)(const wchar_t* config_path) = ::RunTunnelService;
  bool (*InstallAndStartTunnel)(const std::wstring& config_path) = ::InstallAndStartTunnel;
  bool (*StopAndRemoveTunnel)() = ::StopAndRemoveTunnel;
  int (*RunInteractive)() = ::RunInteractive;
};

}  // namespace tarnwick

// Splits the process command line, runs the chosen mode and returns the
// process exit code: 0 for success, 1 for failure, in every mode.
[[nodiscard]] int DispatchRunMode();
[[nodiscard]] int DispatchRunMode(const tarnwick::RunModeCalls& calls);
