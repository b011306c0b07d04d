// Service-host mode: the process the service control manager starts for the
// tunnel service. The tunnel library does all the service work inside its
// export; this only finds, calls and judges it.
#pragma once

#include <windows.h>

#include "service/service_calls.h"

namespace tarnwick {

inline constexpr char kTunnelServiceExportName[] = "WireGuardTunnelService";

// The process runs as LocalSystem, so the library (and what it imports) is
// looked for only beside the executable and in System32, never in the
// current directory or on PATH, where a lesser user could plant one.
constexpr DWORD kTunnelLibrarySearchFlags =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// Takes the configuration path; returns nonzero when the service ran and
// ended successfully.
using WireGuardTunnelServiceFunction = BOOL WINAPI(const wchar_t* config_path);

// Checks the configuration path as the elevated copy does, then loads
// tunnel.dll and runs the service through WireGuardTunnelService with it.
// Returns 0 when the export reported success, else 1.
[[nodiscard]] int RunTunnelService(const wchar_t* config_path, const ServiceCalls& calls = {});

}  // namespace tarnwick
