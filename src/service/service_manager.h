// The tunnel service "WireGuardTunnel$Tarnwick" and the three operations on
// it through the service control manager. Each operation opens its own
// handles and closes them (service handle first) before it returns.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>

#include "platform/calls.h"
#include "platform/file_trust.h"

namespace tarnwick {

inline constexpr wchar_t kTunnelServiceName[] = L"WireGuardTunnel$Tarnwick";
inline constexpr wchar_t kTunnelServiceDisplayName[] = L"Tarnwick WireGuard Tunnel";
// A double-NUL-terminated list: the literal's own terminator is the second NUL.
inline constexpr wchar_t kTunnelServiceDependencies[] = L"Nsi\0TcpIp\0";

// The one configuration the service may be given, below the ProgramData
// known folder.
inline constexpr wchar_t kConfigFolderName[] = L"Tarnwick";
inline constexpr wchar_t kConfigFileName[] = L"tarnwick.conf";

// The library the service host loads from the program folder.
inline constexpr wchar_t kTunnelLibraryName[] = L"tunnel.dll";

// The administrator's switch for development machines, whose build folder
// anyone may change: REG_DWORD 1 lets the service be installed from an
// unprotected program folder. Any other value or type leaves the check on.
inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Tarnwick";
inline constexpr wchar_t kAllowUnprotectedProgramFolderValue[] = L"AllowUnprotectedProgramFolder";

// GetModuleFileNameW's buffer; a result that fills it may be cut short.
constexpr DWORD kModulePathChars = MAX_PATH;
// A stop is polled for this often, for at most this long.
constexpr DWORD kStopPollIntervalMs = 200;
constexpr DWORD kStopWaitLimitMs = 10000;

// Elevated copies change the service one at a time, machine-wide; only
// SYSTEM and administrators may open the lock. A copy waits this long for
// the one before it (which is itself bounded by its stop waits).
inline constexpr wchar_t kServiceOperationMutexName[] = L"Global\\TarnwickServiceOperation";
inline constexpr wchar_t kServiceOperationMutexSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr DWORD kServiceOperationWaitMs = 30000;

// The Windows calls of the service subsystem (the operations, the checks of
// the configuration path and the service host), defaulting to the real
// ones. Handles are closed by their owners, not through this table.
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
  Call<decltype(::GetLastError)> GetLastError = ::GetLastError;
  Call<decltype(::Sleep)> Sleep = ::Sleep;
  Call<decltype(::OutputDebugStringW)> OutputDebugStringW = ::OutputDebugStringW;
  Call<decltype(::SHGetKnownFolderPath)> SHGetKnownFolderPath = ::SHGetKnownFolderPath;
  Call<decltype(::CreateMutexW)> CreateMutexW = ::CreateMutexW;
  Call<decltype(::WaitForSingleObject)> WaitForSingleObject = ::WaitForSingleObject;
  Call<decltype(::ReleaseMutex)> ReleaseMutex = ::ReleaseMutex;
  Call<decltype(::RegGetValueW)> RegGetValueW = ::RegGetValueW;
  // The service host.
  Call<decltype(::SetDefaultDllDirectories)> SetDefaultDllDirectories = ::SetDefaultDllDirectories;
  Call<decltype(::LoadLibraryExW)> LoadLibraryExW = ::LoadLibraryExW;
  Call<decltype(::GetProcAddress)> GetProcAddress = ::GetProcAddress;
};

// The service's command line: "<exe>" /service "<config path>"; empty when
// either path cannot be passed as one argument.
[[nodiscard]] std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                                    const std::wstring& config_path);

// What is wrong with a configuration path handed to a privileged copy, in a
// few words for its diagnostic line; empty when the path is the ProgramData
// configuration file, a file with one name in a real folder, and neither
// can be changed by anyone but SYSTEM, administrators and the file's owner.
[[nodiscard]] std::wstring CheckTunnelConfigPath(const std::wstring& config_path,
                                                 const ServiceCalls& calls = {});

// What is wrong with the program folder the service would run from, in a
// few words for its diagnostic line: the file or folder that someone other
// than SYSTEM, administrators or TrustedInstaller could change (owner or
// DACL), or could not vouch for (missing, a link, a second name); empty when
// the executable, its folder and the tunnel library there are all protected.
[[nodiscard]] std::wstring CheckProgramFolder(const std::wstring& exe_path,
                                              const ServiceCalls& calls = {});

// Creates the service, or rewrites the stored configuration of the existing
// one (restarting it when it runs), sets its SID type and starts it; only
// from a protected program folder (CheckProgramFolder), unless the
// administrator's AllowUnprotectedProgramFolder value is 1. True when it
// exists afterwards with this configuration and is started or running;
// does not wait for running.
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
