#include "service/service_host.h"

#include "platform/modules.h"
#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "service/debug_log.h"
#include "trust/program_folder.h"
#include "trust/tunnel_config.h"

namespace tarnwick {

int RunTunnelService(const wchar_t* config_path, const ServiceCalls& calls) {
  // Checked again here: the stored command line is the manager's, and what
  // it names is read as SYSTEM at every boot.
  const std::wstring path = config_path != nullptr ? config_path : L"";
  if (const auto refusal = CheckTunnelConfigPath(path, TunnelConfigLocation(calls), calls)) {
    ReportLine(L"RunTunnelService: " + refusal->text, calls);
    return 1;
  }

  // Every later load of this process, including whatever the tunnel
  // library loads itself, comes from System32 only (wWinMain set this
  // already; it is repeated so the mode holds on its own). If it fails, the
  // flags below still keep tunnel.dll itself out of the current directory
  // and PATH.
  (void)calls.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  const UniqueModule library(
      calls.LoadLibraryExW(kTunnelLibraryName, nullptr, kTunnelLibrarySearchFlags));
  if (!library) {
    ReportLine(
        L"RunTunnelService: failed to load tunnel.dll: " + SystemErrorText(calls.GetLastError()),
        calls);
    return 1;
  }

  const auto tunnel_service = ProcAddress<WireGuardTunnelServiceFunction>(
      library.get(), kTunnelServiceExportName, calls.GetProcAddress);
  if (tunnel_service == nullptr) {
    ReportLine(L"RunTunnelService: WireGuardTunnelService export not found: " +
                   SystemErrorText(calls.GetLastError()),
               calls);
    return 1;
  }

  const BOOL result = tunnel_service(path.c_str());
  return result != 0 ? 0 : 1;
}

}  // namespace tarnwick
