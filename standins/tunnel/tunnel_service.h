// The tunnel library's one export and the service-specific exit codes its
// service reports when it cannot run the tunnel.
#pragma once

#include <windows.h>

namespace tarnwick {

// dwServiceSpecificExitCode, with dwWin32ExitCode ERROR_SERVICE_SPECIFIC_ERROR.
enum TunnelStandinExitCode : DWORD {
  kTunnelConfigUnreadable = 1,
  kTunnelConfigInvalid = 2,
};

// Every debugger-output line of the stand-in starts with this.
inline constexpr wchar_t kTunnelStandinLogPrefix[] = L"[tunnel-standin] ";

}  // namespace tarnwick

// Runs the service dispatcher for this process with the tunnel service,
// whose configuration is the file at config_path. Returns nonzero when the
// service ran and stopped cleanly; zero when the file could not be used or
// the process was not started by the service control manager.
extern "C" __declspec(dllexport) BOOL WINAPI WireGuardTunnelService(const wchar_t* config_path);
