#include "entry/run_mode.h"

namespace tarnwick {

RunModeChoice ChooseRunMode(int argc, const wchar_t* const* argv) {
  RunModeChoice choice;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (has_value && ::lstrcmpW(argv[i], kServiceSwitch) == 0) {
      choice.mode = RunMode::kServiceHost;
      choice.config_path = argv[i + 1];
      return choice;
    }
    if (has_value && ::lstrcmpW(argv[i], kInstallSwitch) == 0) {
      choice.mode = RunMode::kInstall;
      choice.config_path = argv[i + 1];
      return choice;
    }
    if (::lstrcmpW(argv[i], kRemoveSwitch) == 0) {
      choice.mode = RunMode::kRemove;
      return choice;
    }
  }
  return choice;
}

}  // namespace tarnwick

int DispatchRunMode() { return DispatchRunMode(tarnwick::RunModeCalls{}); }

int DispatchRunMode(const tarnwick::RunModeCalls& calls) {
  tarnwick::RunModeChoice choice;
  int argc = 0;
  LPWSTR* argv = calls.CommandLineToArgvW(calls.GetCommandLineW(), &argc);
  // A failed split is not reported: the process simply runs interactively.
  if (argv != nullptr) {
    choice = tarnwick::ChooseRunMode(argc, argv);
    // The path has been copied out; the array goes before any mode runs.
    calls.LocalFree(argv);
  }

  switch (choice.mode) {
    case RunMode::kServiceHost:
      return calls.RunTunnelService(choice.config_path.c_str());
    case RunMode::kInstall:
      return calls.InstallAndStartTunnel(choice.config_path) ? 0 : 1;
    case RunMode::kRemove:
      return calls.StopAndRemoveTunnel() ? 0 : 1;
    case RunMode::kInteractive:
      break;
  }
  return calls.RunInteractive();
}
