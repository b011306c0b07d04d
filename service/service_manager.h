// The tunnel service "WireGuardTunnel$Tarnwick" and the three operations on
// it through the service control manager. Each operation opens its own
// handles and closes them (service handle first) before it returns.
#pragma once

#include <windows.h>

#include <string>

#include "service/debug_log.h"

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
struct ServiceCalls {
  decltype(&::GetModuleFileNameW) GetModuleFileNameW = ::GetModuleFileNameW;
  decltype(&::OpenSCManagerW) OpenSCManagerW = ::OpenSCManagerW;
  decltype(&::CreateServiceW) CreateServiceW = ::CreateServiceW;
  decltype(&::OpenServiceW) OpenServiceW = ::OpenServiceW;
  decltype(&::ChangeServiceConfig2W) ChangeServiceConfig2W = ::ChangeServiceConfig2W;
  decltype(&::StartServiceW) StartServiceW = ::StartServiceW;
  decltype(&::ControlService) ControlService = ::ControlService;
  decltype(&::QueryServiceStatusEx) QueryServiceStatusEx = ::QueryServiceStatusEx;
  decltype(&::DeleteService) DeleteService = ::DeleteService;
  decltype(&::CloseServiceHandle) CloseServiceHandle = ::CloseServiceHandle;
  decltype(&::GetLastError) GetLastError = ::GetLastError;
  decltype(&::Sleep) Sleep = ::Sleep;
  void (*DebugLog)(const std::wstring& message) = ::DebugLog;
};

// The service's command line: "<exe>" /service "<config path>", the path
// taken as given.
[[nodiscard]] std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                                    const std::wstring& config_path);

}  // namespace tarnwick

// Creates the service (or opens the existing one, leaving its stored
// configuration alone), sets its SID type and starts it. True when it exists
// afterwards and is started or already running; does not wait for running.
[[nodiscard]] bool InstallAndStartTunnel(const std::wstring& config_path);
// Stops the service, waits up to 10 s for it to stop, and deletes it. True
// when deleted, already marked for deletion, or not installed.
[[nodiscard]] bool StopAndRemoveTunnel();
// True only when the service is in the running state. Never logs.
[[nodiscard]] bool IsTunnelRunning();

// The same operations over a given table of Windows calls.
[[nodiscard]] bool InstallAndStartTunnel(const std::wstring& config_path,
                                         const tarnwick::ServiceCalls& calls);
[[nodiscard]] bool StopAndRemoveTunnel(const tarnwick::ServiceCalls& calls);
[[nodiscard]] bool IsTunnelRunning(const tarnwick::ServiceCalls& calls);
