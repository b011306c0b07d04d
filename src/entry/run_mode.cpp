#include "entry/run_mode.h"

#include <windows.h>

#include "entry/interactive_startup.h"
#include "platform/command_line.h"
#include "service/service_host.h"
#include "service/service_manager.h"
#include "uninstall/data_removal.h"

namespace tarnwick {

RunModeChoice ChooseRunMode(const std::vector<std::wstring>& arguments) {
  RunModeChoice choice;
  const size_t count = arguments.size();
  for (size_t i = 1; i < count; ++i) {
    const wchar_t* argument = arguments[i].c_str();
    const bool has_value = i + 1 < count;
    if (has_value && ::lstrcmpW(argument, kServiceSwitch) == 0) {
      choice.mode = RunMode::kServiceHost;
      choice.config_path = arguments[i + 1];
      return choice;
    }
    if (has_value && ::lstrcmpW(argument, kInstallSwitch) == 0) {
      choice.mode = RunMode::kInstall;
      choice.config_path = arguments[i + 1];
      return choice;
    }
    if (::lstrcmpW(argument, kRemoveSwitch) == 0) {
      choice.mode = RunMode::kRemove;
      return choice;
    }
    if (::lstrcmpW(argument, kUninstallSwitch) == 0) {
      choice.mode = RunMode::kUninstall;
      return choice;
    }
  }
  return choice;
}

int DispatchRunMode(const std::vector<std::wstring>& arguments) {
  const RunModeChoice choice = ChooseRunMode(arguments);
  switch (choice.mode) {
    case RunMode::kServiceHost: return RunTunnelService(choice.config_path.c_str());
    case RunMode::kInstall: return InstallAndStartTunnel(choice.config_path) ? 0 : 1;
    case RunMode::kRemove: return StopAndRemoveTunnel() ? 0 : 1;
    case RunMode::kUninstall: return RemoveTunnelData() ? 0 : 1;
    case RunMode::kInteractive: break;
  }
  return RunInteractive(arguments);
}

}  // namespace tarnwick
