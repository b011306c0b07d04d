// Service-host mode: the process the service control manager starts for the
// tunnel service. The tunnel library does all the service work inside its
// export; this only finds, calls and judges it.
#pragma once

#include <windows.h>

#include "platform/calls.h"

namespace tarnwick {

inline constexpr wchar_t kTunnelLibraryName[] = L"tunnel.dll";
inline constexpr char kTunnelServiceExportName[] = "WireGuardTunnelService";

// The process runs as LocalSystem, so the library (and what it imports) is
// looked for only beside the executable and in System32, never in the
// current directory or on PATH, where a lesser user could plant one.
constexpr DWORD kTunnelLibrarySearchFlags =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// Takes the configuration path; returns nonzero when the service ran and
// ended successfully.
using WireGuardTunnelServiceFn = BOOL(WINAPI*)(const wchar_t* config_path);

// The Windows calls of the service host, defaulting to the real ones.
struct ServiceHostCalls {
  Call<decltype(::SetDefaultDllDirectories)> SetDefaultDllDirectories = ::SetDefaultDllDirectories;
  Call<decltype(::LoadLibraryExW)> LoadLibraryExW = ::LoadLibraryExW;
  Call<decltype(::GetProcAddress)> GetProcAddress = ::GetProcAddress;
  Call<decltype(::OutputDebugStringW)> OutputDebugStringW = ::OutputDebugStringW;
};

// Loads tunnel.dll and runs the service through WireGuardTunnelService with
// the configuration path. Returns 0 when the export reported success, else 1.
[[nodiscard]] int RunTunnelService(const wchar_t* config_path, const ServiceHostCalls& calls = {});

}  // namespace tarnwick
