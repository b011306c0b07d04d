#include "service/service_manager.h"

#include <sddl.h>

#include "platform/command_line.h"
#include "platform/unique_handle.h"
#include "service/debug_log.h"

namespace tarnwick {
namespace {

// Reads the current state; false when the query itself fails.
bool QueryState(const ServiceCalls& calls, SC_HANDLE service, DWORD* state) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!calls.QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed)) {
    return false;
  }
  *state = status.dwCurrentState;
  return true;
}

// Asks the service to stop and polls for the stopped state, at most 50
// times 200 ms. True when the stopped state was seen; a failed query counts
// as stopped, as a deleted service can no longer be asked.
bool StopAndWait(const ServiceCalls& calls, SC_HANDLE service) {
  // A service that is not running refuses the stop; the first query says so.
  SERVICE_STATUS ignored{};
  (void)calls.ControlService(service, SERVICE_CONTROL_STOP, &ignored);
  DWORD waited_ms = 0;
  do {
    DWORD state = 0;
    if (!QueryState(calls, service, &state) || state == SERVICE_STOPPED) return true;
    calls.Sleep(kStopPollIntervalMs);
    waited_ms += kStopPollIntervalMs;
  } while (waited_ms < kStopWaitLimitMs);
  return false;
}

// Holds the machine-wide service operation lock while it lives.
class ServiceOperationLock {
 public:
  explicit ServiceOperationLock(const ServiceCalls& calls) : calls_(calls) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kServiceOperationMutexSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
      return;
    }
    const UniqueLocalMemory descriptor_owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    mutex_.reset(calls_.CreateMutexW(&attributes, FALSE, kServiceOperationMutexName));
    if (!mutex_) return;
    // An abandoned lock was held by a copy that died mid-operation: the
    // service is in whatever state it left, which this operation handles.
    const DWORD waited = calls_.WaitForSingleObject(mutex_.get(), kServiceOperationWaitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  ~ServiceOperationLock() {
    if (held_) calls_.ReleaseMutex(mutex_.get());
  }
  ServiceOperationLock(const ServiceOperationLock&) = delete;
  ServiceOperationLock& operator=(const ServiceOperationLock&) = delete;

  bool held() const { return held_; }

 private:
  const ServiceCalls& calls_;
  UniqueKernelHandle mutex_;
  bool held_ = false;
};

// The trusted principals of a configuration: SYSTEM, administrators and
// the user who wrote the file.
bool OnlyOwnerAndAdministratorsCanChange(const InspectedPath& path, PSID file_owner) {
  const UniqueLocalMemory system = WellKnownSid(Principal::kSystem);
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  return OnlyTrustedCanChange(path.owner, path.dacl,
                              {system.get(), administrators.get(), file_owner});
}

// Who may change what the SYSTEM service runs.
bool OnlySystemAdministratorsAndInstallerCanChange(const InspectedPath& path) {
  const UniqueLocalMemory system = WellKnownSid(Principal::kSystem);
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  const UniqueLocalMemory installer = WellKnownSid(Principal::kTrustedInstaller);
  return OnlyTrustedCanChange(path.owner, path.dacl,
                              {system.get(), administrators.get(), installer.get()});
}

// True only for REG_DWORD 1. Read as any type, so that a string "1" (whose
// UTF-16 bytes are as long as a DWORD) is told apart by its type.
bool UnprotectedProgramFolderAllowed(const ServiceCalls& calls) {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status =
      calls.RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kAllowUnprotectedProgramFolderValue,
                         RRF_RT_ANY, &type, &value, &size);
  return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}

}  // namespace

std::wstring CheckProgramFolder(const std::wstring& exe_path, const ServiceCalls& calls) {
  const size_t separator = exe_path.find_last_of(L'\\');
  if (separator == std::wstring::npos || separator == 0) {
    return exe_path + L" is not in a folder";
  }
  // A drive's root keeps its backslash: "C:" alone is that drive's current
  // folder.
  const bool drive_root = separator == 2 && exe_path[1] == L':';
  const std::wstring folder = exe_path.substr(0, drive_root ? separator + 1 : separator);
  // The folder first: whoever can change it can replace anything in it.
  const struct {
    std::wstring path;
    PathKind kind;
  } objects[] = {
      {folder, PathKind::kDirectory},
      {exe_path, PathKind::kFile},
      {exe_path.substr(0, separator + 1) + kTunnelLibraryName, PathKind::kFile},
  };
  for (const auto& object : objects) {
    InspectedPath seen;
    const PathFault fault = InspectPath(object.path, object.kind, 0, &seen, calls);
    if (fault != PathFault::kNone) return object.path + L" " + DescribePathFault(fault);
    if (!OnlySystemAdministratorsAndInstallerCanChange(seen)) {
      return object.path + L" can be changed by others";
    }
  }
  return {};
}

std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                      const std::wstring& config_path) {
  const std::wstring exe = QuoteArgument(exe_path);
  const std::wstring config = QuoteArgument(config_path);
  if (exe.empty() || config.empty()) return {};
  return exe + L" " + kServiceSwitch + L" " + config;
}

std::wstring CheckTunnelConfigPath(const std::wstring& config_path, const ServiceCalls& calls) {
  if (!IsQuotablePath(config_path))
    return L"configuration path holds a quote or ends in a backslash";

  // The folder comes from the system, not from the caller's environment.
  PWSTR known = nullptr;
  if (FAILED(calls.SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &known))) {
    ::CoTaskMemFree(known);
    return L"ProgramData folder unknown";
  }
  const UniqueCoTaskMemory known_owner(known);
  const std::wstring folder = std::wstring(known) + L"\\" + kConfigFolderName;
  const std::wstring expected = folder + L"\\" + kConfigFileName;
  if (::CompareStringOrdinal(config_path.c_str(), -1, expected.c_str(), -1, TRUE) != CSTR_EQUAL) {
    return L"configuration is not the ProgramData configuration file";
  }

  InspectedPath folder_seen;
  PathFault fault = InspectPath(folder, PathKind::kDirectory, 0, &folder_seen, calls);
  if (fault != PathFault::kNone)
    return std::wstring(L"configuration folder ") + DescribePathFault(fault);
  InspectedPath file_seen;
  fault = InspectPath(expected, PathKind::kFile, 0, &file_seen, calls);
  if (fault != PathFault::kNone)
    return std::wstring(L"configuration file ") + DescribePathFault(fault);

  if (!OnlyOwnerAndAdministratorsCanChange(folder_seen, file_seen.owner)) {
    return L"configuration folder can be changed by others";
  }
  if (!OnlyOwnerAndAdministratorsCanChange(file_seen, file_seen.owner)) {
    return L"configuration file can be changed by others";
  }
  return {};
}

bool InstallAndStartTunnel(const std::wstring& config_path, const ServiceCalls& calls) {
  const auto log = [&calls](const std::wstring& message) {
    DebugLog(L"InstallAndStartTunnel: " + message, calls.OutputDebugStringW);
  };

  wchar_t exe_buffer[kModulePathChars] = {};
  const DWORD exe_length = calls.GetModuleFileNameW(nullptr, exe_buffer, kModulePathChars);
  // A full buffer means the path may have been cut; a service pointing at a
  // truncated path would never start, so refuse before touching the manager.
  if (exe_length == 0 || exe_length >= kModulePathChars) {
    log(L"could not resolve exe path");
    return false;
  }

  const std::wstring exe_path(exe_buffer, exe_length);
  // The service runs this executable as SYSTEM at every boot, and it loads
  // tunnel.dll from beside it: whoever could change either would run code as
  // SYSTEM.
  if (!UnprotectedProgramFolderAllowed(calls)) {
    const std::wstring unprotected = CheckProgramFolder(exe_path, calls);
    if (!unprotected.empty()) {
      log(L"program folder is not protected: " + unprotected);
      return false;
    }
  }

  // The service runs as SYSTEM from this file at every boot: what it reads
  // must be what the user staged, and only they or an administrator may
  // change it.
  const std::wstring refusal = CheckTunnelConfigPath(config_path, calls);
  if (!refusal.empty()) {
    log(refusal);
    return false;
  }
  const std::wstring binary_path = TunnelServiceCommandLine(exe_path, config_path);

  const ServiceOperationLock lock(calls);
  if (!lock.held()) {
    log(L"another service operation did not end in time");
    return false;
  }

  const UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    log(L"OpenSCManagerW failed");
    return false;
  }

  // Declared after the manager so it is closed first on every path.
  UniqueServiceHandle service(calls.CreateServiceW(
      manager.get(), kTunnelServiceName, kTunnelServiceDisplayName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path.c_str(),
      nullptr, nullptr, kTunnelServiceDependencies, nullptr, nullptr));
  // Only an existing service is opened; any other failure (such as a service
  // still marked for deletion) is final.
  bool existed = false;
  if (!service && calls.GetLastError() == ERROR_SERVICE_EXISTS) {
    service.reset(calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
    existed = static_cast<bool>(service);
  }
  if (!service) {
    log(L"CreateServiceW/OpenServiceW failed");
    return false;
  }

  // An existing service may have been installed from another folder, or
  // with another file: it is made to run this executable with this file.
  if (existed && !calls.ChangeServiceConfigW(
                     service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                     SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr,
                     kTunnelServiceDependencies, nullptr, nullptr, kTunnelServiceDisplayName)) {
    log(L"ChangeServiceConfigW failed");
    return false;
  }

  SERVICE_SID_INFO sid_info{};
  sid_info.dwServiceSidType = SERVICE_SID_TYPE_UNRESTRICTED;
  if (!calls.ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_SERVICE_SID_INFO, &sid_info)) {
    log(L"ChangeServiceConfig2W(SID) failed");
  }

  // A running tunnel keeps the configuration it started with; it is
  // restarted so the one just written takes effect.
  if (existed && !StopAndWait(calls, service.get())) {
    log(L"service did not stop");
    return false;
  }

  bool started = calls.StartServiceW(service.get(), 0, nullptr) != FALSE;
  if (!started && calls.GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) started = true;
  if (!started) log(L"StartServiceW failed");
  return started;
}

bool StopAndRemoveTunnel(const ServiceCalls& calls) {
  const auto log = [&calls](const std::wstring& message) {
    DebugLog(L"StopAndRemoveTunnel: " + message, calls.OutputDebugStringW);
  };

  const ServiceOperationLock lock(calls);
  if (!lock.held()) {
    log(L"another service operation did not end in time");
    return false;
  }

  UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    log(L"OpenSCManagerW failed");
    return false;
  }

  const UniqueServiceHandle service(
      calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    // Read before the close, which may overwrite the thread's last error.
    const DWORD error = calls.GetLastError();
    manager.reset();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    log(L"OpenServiceW failed");
    return false;
  }

  const bool stopped = StopAndWait(calls, service.get());

  // Deletion is requested even if the service did not stop: the manager
  // removes a service marked for deletion once it has stopped.
  bool removed = calls.DeleteService(service.get()) != FALSE;
  if (!removed && calls.GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) removed = true;
  if (!removed) log(L"DeleteService failed");
  // The tunnel may still carry traffic: the caller must not be told it is
  // gone.
  if (!stopped) log(L"service did not stop");
  return removed && stopped;
}

bool IsTunnelRunning(const ServiceCalls& calls) {
  const UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  const UniqueServiceHandle service(
      calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_QUERY_STATUS));
  if (!service) return false;
  DWORD state = 0;
  return QueryState(calls, service.get(), &state) && state == SERVICE_RUNNING;
}

}  // namespace tarnwick
