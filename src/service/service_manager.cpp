#include "service/service_manager.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/command_line.h"
#include "platform/modules.h"
#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "service/debug_log.h"
#include "service/operation_lock.h"
#include "trust/program_folder.h"
#include "trust/tunnel_config.h"

namespace tarnwick {
namespace {

// Reads the status; false when the query itself fails.
bool QueryStatus(const ServiceCalls& calls, SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  return calls.QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                    reinterpret_cast<LPBYTE>(status), sizeof(*status),
                                    &needed) != FALSE;
}

// Asks the service to stop and polls for the stopped state every 200 ms for
// at most limit_ms. True when the stopped state was seen; a failed query
// counts as stopped, as a deleted service can no longer be asked.
bool StopAndWait(const ServiceCalls& calls, SC_HANDLE service, DWORD limit_ms) {
  // A service that is not running refuses the stop; the first query says so.
  SERVICE_STATUS ignored{};
  (void)calls.ControlService(service, SERVICE_CONTROL_STOP, &ignored);
  DWORD waited_ms = 0;
  do {
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(calls, service, &status) || status.dwCurrentState == SERVICE_STOPPED) {
      return true;
    }
    calls.Sleep(kStopPollIntervalMs);
    waited_ms += kStopPollIntervalMs;
  } while (waited_ms < limit_ms);
  return false;
}

// A crashed tunnel comes back by itself: restarted after a short delay, at
// most twice within a day. A clean stop, or a tunnel that stops reporting an
// error (such as a configuration it rejects), is no crash and is left alone:
// the flag that would make those count stays off.
bool SetRestartOnCrash(const ServiceCalls& calls, SC_HANDLE service) {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                         {SC_ACTION_RESTART, kRestartDelayMs},
                         {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure_actions{};
  failure_actions.dwResetPeriod = kFailureCountResetSeconds;
  failure_actions.cActions = sizeof(actions) / sizeof(actions[0]);
  failure_actions.lpsaActions = actions;
  return calls.ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions) !=
         FALSE;
}

// One operation's diagnostic lines, each beginning with its name. Errors
// end the operation; warnings are failures it goes on after.
class OperationLog {
 public:
  OperationLog(const wchar_t* operation, const ServiceCalls& calls)
      : operation_(operation), calls_(calls) {}

  void Error(const std::wstring& message) const { Write(message, EVENTLOG_ERROR_TYPE); }
  void Warning(const std::wstring& message) const { Write(message, EVENTLOG_WARNING_TYPE); }
  // The call that failed with the thread's last error, read at once:
  // closing a handle may overwrite it.
  void CallError(const wchar_t* call) const { Error(CallFailed(call, calls_.GetLastError())); }
  void CallWarning(const wchar_t* call) const { Warning(CallFailed(call, calls_.GetLastError())); }

 private:
  void Write(const std::wstring& message, WORD type) const {
    ReportLine(std::wstring(operation_) + L": " + message, calls_, type);
  }

  const wchar_t* const operation_;
  const ServiceCalls& calls_;
};

// What every change to the service holds while it runs: the operation lock
// (or, when another account's object stands at its name, a warning that it
// goes on without) and the service manager. False when the change cannot
// go on, its line written.
class ServiceChange {
 public:
  ServiceChange(const ServiceCalls& calls, const OperationLog& log) : lock_(calls) {
    if (lock_.failure()) {
      log.Error(lock_.failure()->text);
      return;
    }
    if (lock_.passed_by()) log.Warning(*lock_.passed_by());
    manager_.reset(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager_) log.CallError(L"OpenSCManagerW");
  }

  explicit operator bool() const { return static_cast<bool>(manager_); }
  [[nodiscard]] SC_HANDLE manager() const { return manager_.get(); }

 private:
  const ServiceOperationLock lock_;
  UniqueServiceHandle manager_;
};

// The service's command line, for this executable and the configuration
// file a privileged copy can vouch for; nothing (its line written) for
// anything else.
std::optional<std::wstring> VouchedCommandLine(const std::wstring& config_path,
                                               const ServiceCalls& calls, const OperationLog& log) {
  const ModulePath exe = ModuleFilePath(calls.GetModuleFileNameW, calls.GetLastError);
  // A service pointing at a cut path would never start, so refuse before
  // touching the manager.
  if (!exe) {
    log.Error(L"could not resolve exe path: " + SystemErrorText(exe.error));
    return std::nullopt;
  }
  // The service runs this executable as SYSTEM at every boot, and it loads
  // tunnel.dll from beside it: whoever could change either would run code
  // as SYSTEM.
  if (!UnprotectedProgramFolderAllowed(calls)) {
    if (const auto refusal = CheckProgramFolder(exe.path, calls)) {
      log.Error(L"program folder is not protected: " + refusal->text);
      return std::nullopt;
    }
  }
  // The service runs as SYSTEM from this file at every boot: what it reads
  // must be what the user staged, and only they or an administrator may
  // change it. Its command line names the file as the system does.
  const ConfigLocation location = TunnelConfigLocation(calls);
  if (const auto refusal = CheckTunnelConfigPath(config_path, location, calls)) {
    log.Error(refusal->text);
    return std::nullopt;
  }
  std::optional<std::wstring> command_line = TunnelServiceCommandLine(exe.path, location.file);
  if (!command_line) log.Error(L"executable path cannot be passed as one argument: " + exe.path);
  return command_line;
}

// Creates the service, or opens the one that exists (*existed). Only an
// existing service is opened; any other failure (such as a service still
// marked for deletion) is final.
UniqueServiceHandle CreateOrOpen(SC_HANDLE manager, const std::wstring& binary_path,
                                 const ServiceCalls& calls, const OperationLog& log,
                                 bool* existed) {
  UniqueServiceHandle service(calls.CreateServiceW(
      manager, kTunnelServiceName, kTunnelServiceDisplayName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path.c_str(),
      nullptr, nullptr, kTunnelServiceDependencies, nullptr, nullptr));
  *existed = false;
  if (service) return service;
  const DWORD create_error = calls.GetLastError();
  if (create_error == ERROR_SERVICE_EXISTS) {
    service.reset(calls.OpenServiceW(manager, kTunnelServiceName, SERVICE_ALL_ACCESS));
    *existed = static_cast<bool>(service);
  }
  if (!service) {
    const DWORD error = create_error == ERROR_SERVICE_EXISTS ? calls.GetLastError() : create_error;
    log.Error(CallFailed(L"CreateServiceW/OpenServiceW", error));
  }
  return service;
}

// An existing service may have been installed from another folder, or with
// another file: it is made to run this executable with this file.
bool RewriteStoredCommandLine(SC_HANDLE service, const std::wstring& binary_path,
                              const ServiceCalls& calls, const OperationLog& log) {
  if (!calls.ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr,
                                  kTunnelServiceDependencies, nullptr, nullptr,
                                  kTunnelServiceDisplayName)) {
    log.CallError(L"ChangeServiceConfigW");
    return false;
  }
  return true;
}

// The service's SID type and its restart after a crash; a failure of either
// is only a warning.
void ApplyServiceSettings(SC_HANDLE service, const ServiceCalls& calls, const OperationLog& log) {
  SERVICE_SID_INFO sid_info{};
  sid_info.dwServiceSidType = SERVICE_SID_TYPE_UNRESTRICTED;
  if (!calls.ChangeServiceConfig2W(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid_info)) {
    log.CallWarning(L"ChangeServiceConfig2W(SID)");
  }
  if (!SetRestartOnCrash(calls, service)) {
    log.CallWarning(L"ChangeServiceConfig2W(failure actions)");
  }
}

// Waits, within kStartConfirmWaitMs, for a started service to run; what
// became of it otherwise. The first look comes after the shortest pause and
// the pauses grow from there to a tenth of the service's own wait hint
// (within bounds), so a tunnel that comes up at once is seen at once and
// one that takes long is not asked too often.
std::optional<Failure> ConfirmRunning(const ServiceCalls& calls, SC_HANDLE service) {
  DWORD waited_ms = 0;
  DWORD pause = kStartPollMinMs;
  for (;;) {
    calls.Sleep(pause);
    waited_ms += pause;
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(calls, service, &status)) {
      return Failure{CallFailed(L"QueryServiceStatusEx", calls.GetLastError())};
    }
    if (status.dwCurrentState == SERVICE_RUNNING) return std::nullopt;
    if (status.dwCurrentState == SERVICE_STOPPED) {
      return Failure{L"service stopped while starting: exit code " +
                     std::to_wstring(status.dwWin32ExitCode) + L", service-specific " +
                     std::to_wstring(status.dwServiceSpecificExitCode)};
    }
    if (waited_ms >= kStartConfirmWaitMs) {
      return Failure{L"service still starting after " + std::to_wstring(kStartConfirmWaitMs) +
                     L" ms"};
    }
    const DWORD longest =
        std::clamp<DWORD>(status.dwWaitHint / 10, kStartPollMinMs, kStartPollMaxMs);
    pause = std::min({2 * pause, longest, kStartConfirmWaitMs - waited_ms});
  }
}

// Connected means running: the tunnel library may still reject the
// configuration after the manager has started the process.
std::optional<Failure> StartAndConfirm(SC_HANDLE service, const ServiceCalls& calls) {
  if (!calls.StartServiceW(service, 0, nullptr)) {
    const DWORD error = calls.GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) {
      return Failure{CallFailed(L"StartServiceW", error)};
    }
  }
  return ConfirmRunning(calls, service);
}

// After a start that did not end running: the user is told the connect
// failed, so nothing may start at the next boot either. Stops (bounded) and
// asks for the deletion, which the manager carries out once it has stopped.
void RemoveAfterFailedStart(SC_HANDLE service, const ServiceCalls& calls, const OperationLog& log) {
  if (!StopAndWait(calls, service, kCleanupStopWaitMs)) {
    log.Error(L"service did not stop after the failed start; it is deleted once it stops");
  }
  if (!calls.DeleteService(service)) {
    const DWORD error = calls.GetLastError();
    if (error != ERROR_SERVICE_MARKED_FOR_DELETE) log.Error(CallFailed(L"DeleteService", error));
  }
}

}  // namespace

std::optional<std::wstring> TunnelServiceCommandLine(const std::wstring& exe_path,
                                                     const std::wstring& config_path) {
  const std::optional<std::wstring> exe = QuoteArgument(exe_path);
  const std::optional<std::wstring> config = QuoteArgument(config_path);
  if (!exe || !config) return std::nullopt;
  return *exe + L" " + kServiceSwitch + L" " + *config;
}

bool InstallAndStartTunnel(const std::wstring& config_path, const ServiceCalls& calls) {
  const OperationLog log(L"InstallAndStartTunnel", calls);
  const std::optional<std::wstring> binary_path = VouchedCommandLine(config_path, calls, log);
  if (!binary_path) return false;
  const ServiceChange change(calls, log);
  if (!change) return false;
  // Made after the manager, so it is closed first on every path.
  bool existed = false;
  const UniqueServiceHandle service =
      CreateOrOpen(change.manager(), *binary_path, calls, log, &existed);
  if (!service) return false;
  if (existed && !RewriteStoredCommandLine(service.get(), *binary_path, calls, log)) return false;
  ApplyServiceSettings(service.get(), calls, log);
  // A running tunnel keeps the configuration it started with; it is
  // restarted so the one just written takes effect.
  if (existed && !StopAndWait(calls, service.get(), kRestartStopWaitMs)) {
    log.Error(L"service did not stop");
    return false;
  }
  const std::optional<Failure> failure = StartAndConfirm(service.get(), calls);
  if (!failure) return true;
  log.Error(failure->text);
  RemoveAfterFailedStart(service.get(), calls, log);
  return false;
}

bool StopAndRemoveTunnel(const ServiceCalls& calls) {
  const OperationLog log(L"StopAndRemoveTunnel", calls);
  const ServiceChange change(calls, log);
  if (!change) return false;
  const UniqueServiceHandle service(
      calls.OpenServiceW(change.manager(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    const DWORD error = calls.GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    log.Error(CallFailed(L"OpenServiceW", error));
    return false;
  }
  const bool stopped = StopAndWait(calls, service.get(), kStopWaitLimitMs);
  // Deletion is requested even if the service did not stop: the manager
  // removes a service marked for deletion once it has stopped.
  bool removed = true;
  if (!calls.DeleteService(service.get())) {
    const DWORD error = calls.GetLastError();
    removed = error == ERROR_SERVICE_MARKED_FOR_DELETE;
    if (!removed) log.Error(CallFailed(L"DeleteService", error));
  }
  // The tunnel may still carry traffic: the caller must not be told it is
  // gone.
  if (!stopped) log.Error(L"service did not stop");
  return removed && stopped;
}

bool IsTunnelRunning(const ServiceCalls& calls) {
  const UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  const UniqueServiceHandle service(
      calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_QUERY_STATUS));
  if (!service) return false;
  SERVICE_STATUS_PROCESS status{};
  return QueryStatus(calls, service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
}

}  // namespace tarnwick
