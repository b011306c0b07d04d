#include "service/service_manager.h"

#include "platform/command_line.h"
#include "platform/modules.h"
#include "platform/security_descriptor.h"
#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "service/debug_log.h"
#include "trust/program_folder.h"
#include "trust/tunnel_config.h"

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

// Holds the machine-wide service operation lock while it lives. When it is
// not held, why is in refusal().
class ServiceOperationLock {
 public:
  explicit ServiceOperationLock(const ServiceCalls& calls) : calls_(calls) {
    const UniqueLocalMemory descriptor = SecurityDescriptorFromSddl(
        kServiceOperationMutexSddl, calls_.ConvertStringSecurityDescriptorToSecurityDescriptorW);
    if (!descriptor) {
      refusal_ = CallFailed(L"ConvertStringSecurityDescriptorToSecurityDescriptorW",
                            calls_.GetLastError());
      return;
    }
    SECURITY_ATTRIBUTES attributes = AttributesOf(descriptor);
    mutex_.reset(calls_.CreateMutexW(&attributes, FALSE, kServiceOperationMutexName));
    if (!mutex_) {
      refusal_ = CallFailed(L"CreateMutexW", calls_.GetLastError());
      return;
    }
    // An abandoned lock was held by a copy that died mid-operation: the
    // service is in whatever state it left, which this operation handles.
    const DWORD waited = calls_.WaitForSingleObject(mutex_.get(), kServiceOperationWaitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (waited == WAIT_TIMEOUT) {
      refusal_ = L"another service operation did not end in time";
    } else if (!held_) {
      refusal_ = CallFailed(L"WaitForSingleObject", calls_.GetLastError());
    }
  }
  ~ServiceOperationLock() {
    if (held_) calls_.ReleaseMutex(mutex_.get());
  }
  ServiceOperationLock(const ServiceOperationLock&) = delete;
  ServiceOperationLock& operator=(const ServiceOperationLock&) = delete;

  bool held() const { return held_; }
  const std::wstring& refusal() const { return refusal_; }

 private:
  const ServiceCalls& calls_;
  UniqueKernelHandle mutex_;
  bool held_ = false;
  std::wstring refusal_;
};

}  // namespace

std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                      const std::wstring& config_path) {
  const std::wstring exe = QuoteArgument(exe_path);
  const std::wstring config = QuoteArgument(config_path);
  if (exe.empty() || config.empty()) return {};
  return exe + L" " + kServiceSwitch + L" " + config;
}

bool InstallAndStartTunnel(const std::wstring& config_path, const ServiceCalls& calls) {
  const auto log = [&calls](const std::wstring& message) {
    DebugLog(L"InstallAndStartTunnel: " + message, calls.OutputDebugStringW);
  };
  // Read at once: closing a handle may overwrite the thread's last error.
  const auto log_failed = [&](const wchar_t* call) { log(CallFailed(call, calls.GetLastError())); };

  DWORD exe_error = ERROR_SUCCESS;
  const std::wstring exe_path =
      ModuleFilePath(&exe_error, calls.GetModuleFileNameW, calls.GetLastError);
  // A service pointing at a cut path would never start, so refuse before
  // touching the manager.
  if (exe_path.empty()) {
    log(L"could not resolve exe path: " + SystemErrorText(exe_error));
    return false;
  }

  // The service runs this executable as SYSTEM at every boot, and it loads
  // tunnel.dll from beside it: whoever could change either would run code as
  // SYSTEM.
  if (!UnprotectedProgramFolderAllowed(calls)) {
    if (const auto refusal = CheckProgramFolder(exe_path, calls)) {
      log(L"program folder is not protected: " + refusal->text);
      return false;
    }
  }

  // The service runs as SYSTEM from this file at every boot: what it reads
  // must be what the user staged, and only they or an administrator may
  // change it. Its command line names the file as the system does.
  const ConfigLocation location = TunnelConfigLocation(calls);
  if (const auto refusal = CheckTunnelConfigPath(config_path, location, calls)) {
    log(refusal->text);
    return false;
  }
  const std::wstring binary_path = TunnelServiceCommandLine(exe_path, location.file);

  const ServiceOperationLock lock(calls);
  if (!lock.held()) {
    log(lock.refusal());
    return false;
  }

  const UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    log_failed(L"OpenSCManagerW");
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
  if (!service) {
    const DWORD create_error = calls.GetLastError();
    if (create_error == ERROR_SERVICE_EXISTS) {
      service.reset(calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
      existed = static_cast<bool>(service);
    }
    if (!service) {
      const DWORD error =
          create_error == ERROR_SERVICE_EXISTS ? calls.GetLastError() : create_error;
      log(CallFailed(L"CreateServiceW/OpenServiceW", error));
      return false;
    }
  }

  // An existing service may have been installed from another folder, or
  // with another file: it is made to run this executable with this file.
  if (existed && !calls.ChangeServiceConfigW(
                     service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                     SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr,
                     kTunnelServiceDependencies, nullptr, nullptr, kTunnelServiceDisplayName)) {
    log_failed(L"ChangeServiceConfigW");
    return false;
  }

  SERVICE_SID_INFO sid_info{};
  sid_info.dwServiceSidType = SERVICE_SID_TYPE_UNRESTRICTED;
  if (!calls.ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_SERVICE_SID_INFO, &sid_info)) {
    log_failed(L"ChangeServiceConfig2W(SID)");
  }

  // A running tunnel keeps the configuration it started with; it is
  // restarted so the one just written takes effect.
  if (existed && !StopAndWait(calls, service.get())) {
    log(L"service did not stop");
    return false;
  }

  if (!calls.StartServiceW(service.get(), 0, nullptr)) {
    const DWORD error = calls.GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) {
      log(CallFailed(L"StartServiceW", error));
      return false;
    }
  }
  return true;
}

bool StopAndRemoveTunnel(const ServiceCalls& calls) {
  const auto log = [&calls](const std::wstring& message) {
    DebugLog(L"StopAndRemoveTunnel: " + message, calls.OutputDebugStringW);
  };

  const ServiceOperationLock lock(calls);
  if (!lock.held()) {
    log(lock.refusal());
    return false;
  }

  UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    log(CallFailed(L"OpenSCManagerW", calls.GetLastError()));
    return false;
  }

  const UniqueServiceHandle service(
      calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    // Read before the close, which may overwrite the thread's last error.
    const DWORD error = calls.GetLastError();
    manager.reset();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    log(CallFailed(L"OpenServiceW", error));
    return false;
  }

  const bool stopped = StopAndWait(calls, service.get());

  // Deletion is requested even if the service did not stop: the manager
  // removes a service marked for deletion once it has stopped.
  bool removed = true;
  if (!calls.DeleteService(service.get())) {
    const DWORD error = calls.GetLastError();
    removed = error == ERROR_SERVICE_MARKED_FOR_DELETE;
    if (!removed) log(CallFailed(L"DeleteService", error));
  }
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
