// The tunnel service "WireGuardTunnel$Tarnwick" and the three operations on
// it through the service control manager. Each operation opens its own
// handles and closes them (service handle first) before it returns.
#pragma once

#include <windows.h>

#include <string>

#include "platform/calls.h"

namespace tarnwick {

inline constexpr wchar_t kTunnelServiceName[] = L"WireGuardTunnel$Tarnwick";
inline constexpr wchar_t kTunnelServiceDisplayName[] = L"Tarnwick WireGuard Tunnel";
// A double-NUL-terminated list: the literal's own terminator is the second NUL.
inline constexpr wchar_t kTunnelServiceDependencies[] = L"Nsi\0TcpIp\0";

// GetModuleFileNameW's buffer; a result that fills it may be cut short.
constexpr DWORD kModulePathChars = MAX_PATH;
// Removal polls for the stopped state this often, for at most this long.
constexpr DWORD kStopPollIntervalMs = 200;
constexpr DWORD kStopWaitLimitMs = 10000;

// The Windows calls of the service operations, defaulting to the real ones.
// Handles are closed by their owners, not through this table.
struct ServiceCalls {
  Call<decltype(::GetModuleFileNameW)> GetModuleFileNameW = ::GetModuleFileNameW;
  Call<decltype(::OpenSCManagerW)> OpenSCManagerW = ::OpenSCManagerW;
  Call<decltype(::CreateServiceW)> CreateServiceW = ::CreateServiceW;
  Call<decltype(::OpenServiceW)> OpenServiceW = ::OpenServiceW;
  Call<decltype(::ChangeServiceConfig2W)> ChangeServiceConfig2W = ::ChangeServiceConfig2W;
  Call<decltype(::StartServiceW)> StartServiceW = ::StartServiceW;
  Call<decltype(::ControlService)> ControlService = ::ControlService;
  Call<decltype(::QueryServiceStatusEx)> QueryServiceStatusEx = ::QueryServiceStatusEx;
  Call<decltype(::DeleteService)> DeleteService = ::DeleteService;
  Call<decltype(::GetLastError)> GetLastError = ::GetLastError;
  Call<decltype(::Sleep)> Sleep = ::Sleep;
  Call<decltype(::OutputDebugStringW)> OutputDebugStringW = ::OutputDebugStringW;
};

// The service's command line: "<exe>" /service "<config path>".
[[nodiscard]] std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                                    const std::wstring& config_path);

// Creates the service (or opens the existing one, leaving its stored
// configuration alone), sets its SID type and starts it. True when it exists
// afterwards and is started or already running; does not wait for running.
[[nodiscard]] bool InstallAndStartTunnel(const std::wstring& config_path,
                                         const ServiceCalls& calls = {});
// Stops the service, waits up to 10 s for it to stop, and deletes it. True
// when deleted, already marked for deletion, or not installed.
[[nodiscard]] bool StopAndRemoveTunnel(const ServiceCalls& calls = {});
// True only when the service is in the running state. Never logs.
[[nodiscard]] bool IsTunnelRunning(const ServiceCalls& calls = {});

}  // namespace tarnwick
