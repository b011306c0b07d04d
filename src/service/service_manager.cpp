#include "service/service_manager.h"

#include <algorithm>

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

// Waits, within kStartConfirmWaitMs, for a started service to run. Empty
// when it runs; otherwise what became of it, for the line. Polled often
// (a tenth of the service's own wait hint, within bounds), so a tunnel that
// comes up at once is seen at once.
std::wstring ConfirmRunning(const ServiceCalls& calls, SC_HANDLE service) {
  DWORD waited_ms = 0;
  for (;;) {
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(calls, service, &status)) {
      return CallFailed(L"QueryServiceStatusEx", calls.GetLastError());
    }
    if (status.dwCurrentState == SERVICE_RUNNING) return {};
    if (status.dwCurrentState == SERVICE_STOPPED) {
      return L"service stopped while starting: exit code " +
             std::to_wstring(status.dwWin32ExitCode) + L", service-specific " +
             std::to_wstring(status.dwServiceSpecificExitCode);
    }
    if (waited_ms >= kStartConfirmWaitMs) {
      return L"service still starting after " + std::to_wstring(kStartConfirmWaitMs) + L" ms";
    }
    const DWORD pause =
        std::min(std::clamp<DWORD>(status.dwWaitHint / 10, kStartPollMinMs, kStartPollMaxMs),
                 kStartConfirmWaitMs - waited_ms);
    calls.Sleep(pause);
    waited_ms += pause;
  }
}

// After a start that did not end running: the user is told the connect
// failed, so nothing may start at the next boot either. Stops (bounded) and
// asks for the deletion, which the manager carries out once it has stopped.
void RemoveAfterFailedStart(const ServiceCalls& calls, SC_HANDLE service,
                            const std::function<void(const std::wstring&)>& log) {
  if (!StopAndWait(calls, service, kCleanupStopWaitMs)) {
    log(L"service did not stop after the failed start; it is deleted once it stops");
  }
  if (!calls.DeleteService(service)) {
    const DWORD error = calls.GetLastError();
    if (error != ERROR_SERVICE_MARKED_FOR_DELETE) log(CallFailed(L"DeleteService", error));
  }
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

}  // namespace

std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                      const std::wstring& config_path) {
  const std::wstring exe = QuoteArgument(exe_path);
  const std::wstring config = QuoteArgument(config_path);
  if (exe.empty() || config.empty()) return {};
  return exe + L" " + kServiceSwitch + L" " + config;
}

bool InstallAndStartTunnel(const std::wstring& config_path, const ServiceCalls& calls) {
  // Errors end the install; warnings are failures it goes on after.
  const auto log = [&calls](const std::wstring& message, WORD type = EVENTLOG_ERROR_TYPE) {
    ReportLine(L"InstallAndStartTunnel: " + message, calls, type);
  };
  // Read at once: closing a handle may overwrite the thread's last error.
  const auto log_failed = [&](const wchar_t* call, WORD type = EVENTLOG_ERROR_TYPE) {
    log(CallFailed(call, calls.GetLastError()), type);
  };

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
  if (!lock.proceed()) {
    log(lock.why());
    return false;
  }
  if (!lock.why().empty()) log(lock.why(), EVENTLOG_WARNING_TYPE);

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
    log_failed(L"ChangeServiceConfig2W(SID)", EVENTLOG_WARNING_TYPE);
  }
  if (!SetRestartOnCrash(calls, service.get())) {
    log_failed(L"ChangeServiceConfig2W(failure actions)", EVENTLOG_WARNING_TYPE);
  }

  // A running tunnel keeps the configuration it started with; it is
  // restarted so the one just written takes effect.
  if (existed && !StopAndWait(calls, service.get(), kRestartStopWaitMs)) {
    log(L"service did not stop");
    return false;
  }

  // Connected means running: the tunnel library may still reject the
  // configuration after the manager has started the process.
  std::wstring failure;
  if (!calls.StartServiceW(service.get(), 0, nullptr)) {
    const DWORD error = calls.GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) failure = CallFailed(L"StartServiceW", error);
  }
  if (failure.empty()) failure = ConfirmRunning(calls, service.get());
  if (failure.empty()) return true;
  log(failure);
  RemoveAfterFailedStart(calls, service.get(), log);
  return false;
}

bool StopAndRemoveTunnel(const ServiceCalls& calls) {
  const auto log = [&calls](const std::wstring& message, WORD type = EVENTLOG_ERROR_TYPE) {
    ReportLine(L"StopAndRemoveTunnel: " + message, calls, type);
  };

  const ServiceOperationLock lock(calls);
  if (!lock.proceed()) {
    log(lock.why());
    return false;
  }
  if (!lock.why().empty()) log(lock.why(), EVENTLOG_WARNING_TYPE);

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

  const bool stopped = StopAndWait(calls, service.get(), kStopWaitLimitMs);

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
  SERVICE_STATUS_PROCESS status{};
  return QueryStatus(calls, service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
}

}  // namespace tarnwick
