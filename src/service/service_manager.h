// The tunnel service "WireGuardTunnel$Tarnwick" and the three operations on
// it through the service control manager. Each operation opens its own
// handles and closes them (service handle first) before it returns.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <string>

#include "platform/calls.h"
#include "trust/trust_calls.h"

namespace tarnwick {

inline constexpr wchar_t kTunnelServiceName[] = L"WireGuardTunnel$Tarnwick";
inline constexpr wchar_t kTunnelServiceDisplayName[] = L"Tarnwick WireGuard Tunnel";
// A double-NUL-terminated list: the literal's own terminator is the second NUL.
inline constexpr wchar_t kTunnelServiceDependencies[] = L"Nsi\0TcpIp\0";

// A stop is polled for this often, for at most this long.
constexpr DWORD kStopPollIntervalMs = 200;
constexpr DWORD kStopWaitLimitMs = 10000;

// Elevated copies change the service one at a time, machine-wide; only
// SYSTEM and administrators may open the lock. A copy waits this long for
// the one before it (which is itself bounded by its stop waits).
inline constexpr wchar_t kServiceOperationMutexName[] = L"Global\\TarnwickServiceOperation";
inline constexpr wchar_t kServiceOperationMutexSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr DWORD kServiceOperationWaitMs = 30000;

// The Windows calls of the service subsystem (the operations, the trust
// checks they make, the service host and the data folder's removal),
// defaulting to the real ones.
// Handles are closed by their owners, not through this table.
struct ServiceCalls : TrustCalls {
  Call<decltype(::GetModuleFileNameW)> GetModuleFileNameW = ::GetModuleFileNameW;
  Call<decltype(::OpenSCManagerW)> OpenSCManagerW = ::OpenSCManagerW;
  Call<decltype(::CreateServiceW)> CreateServiceW = ::CreateServiceW;
  Call<decltype(::OpenServiceW)> OpenServiceW = ::OpenServiceW;
  Call<decltype(::ChangeServiceConfigW)> ChangeServiceConfigW = ::ChangeServiceConfigW;
  Call<decltype(::ChangeServiceConfig2W)> ChangeServiceConfig2W = ::ChangeServiceConfig2W;
  Call<decltype(::StartServiceW)> StartServiceW = ::StartServiceW;
  Call<decltype(::ControlService)> ControlService = ::ControlService;
  Call<decltype(::QueryServiceStatusEx)> QueryServiceStatusEx = ::QueryServiceStatusEx;
  Call<decltype(::DeleteService)> DeleteService = ::DeleteService;
  Call<decltype(::Sleep)> Sleep = ::Sleep;
  Call<decltype(::OutputDebugStringW)> OutputDebugStringW = ::OutputDebugStringW;
  Call<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)>
      ConvertStringSecurityDescriptorToSecurityDescriptorW =
          ::ConvertStringSecurityDescriptorToSecurityDescriptorW;
  Call<decltype(::CreateMutexW)> CreateMutexW = ::CreateMutexW;
  Call<decltype(::WaitForSingleObject)> WaitForSingleObject = ::WaitForSingleObject;
  Call<decltype(::ReleaseMutex)> ReleaseMutex = ::ReleaseMutex;
  // The service host.
  Call<decltype(::SetDefaultDllDirectories)> SetDefaultDllDirectories = ::SetDefaultDllDirectories;
  Call<decltype(::LoadLibraryExW)> LoadLibraryExW = ::LoadLibraryExW;
  Call<decltype(::GetProcAddress)> GetProcAddress = ::GetProcAddress;
  // The uninstall's removal of the data folder.
  Call<decltype(::OpenProcessToken)> OpenProcessToken = ::OpenProcessToken;
  Call<decltype(::GetTokenInformation)> GetTokenInformation = ::GetTokenInformation;
  Call<decltype(::GetFileInformationByHandleEx)> GetFileInformationByHandleEx =
      ::GetFileInformationByHandleEx;
  Call<decltype(::OpenFileById)> OpenFileById = ::OpenFileById;
  Call<decltype(::SetFileInformationByHandle)> SetFileInformationByHandle =
      ::SetFileInformationByHandle;
  Call<decltype(::MoveFileExW)> MoveFileExW = ::MoveFileExW;
};

// The service's command line: "<exe>" /service "<config path>"; empty when
// either path cannot be passed as one argument.
[[nodiscard]] std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                                    const std::wstring& config_path);

// Creates the service, or rewrites the stored configuration of the existing
// one (restarting it when it runs), sets its SID type and starts it; only
// for the configuration file a privileged copy can vouch for
// (CheckTunnelConfigPath), and only from a protected program folder
// (CheckProgramFolder) unless the administrator's development switch is on.
// True when it exists afterwards with this configuration and is started or
// running; does not wait for running.
[[nodiscard]] bool InstallAndStartTunnel(const std::wstring& config_path,
                                         const ServiceCalls& calls = {});
// Stops the service, waits up to 10 s for it to stop, and deletes it. True
// when it stopped and is deleted (or already marked for deletion), or was
// not installed; false when it did not stop in time, though the manager
// then removes it once it stops.
[[nodiscard]] bool StopAndRemoveTunnel(const ServiceCalls& calls = {});
// True only when the service is in the running state. Never logs.
[[nodiscard]] bool IsTunnelRunning(const ServiceCalls& calls = {});

}  // namespace tarnwick
