#include "service/service_manager.h"

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

}  // namespace

std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                      const std::wstring& config_path) {
  return QuoteArgument(exe_path) + L" " + kServiceSwitch + L" " + QuoteArgument(config_path);
}

bool InstallAndStartTunnel(const std::wstring& config_path, const ServiceCalls& calls) {
  const auto log = [&calls](const wchar_t* message) {
    DebugLog(message, calls.OutputDebugStringW);
  };

  wchar_t exe_buffer[kModulePathChars] = {};
  const DWORD exe_length = calls.GetModuleFileNameW(nullptr, exe_buffer, kModulePathChars);
  // A full buffer means the path may have been cut; a service pointing at a
  // truncated path would never start, so refuse before touching the manager.
  if (exe_length == 0 || exe_length >= kModulePathChars) {
    log(L"InstallAndStartTunnel: could not resolve exe path");
    return false;
  }

  const UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    log(L"InstallAndStartTunnel: OpenSCManagerW failed");
    return false;
  }

  const std::wstring binary_path =
      TunnelServiceCommandLine(std::wstring(exe_buffer, exe_length), config_path);
  // Declared after the manager so it is closed first on every path.
  UniqueServiceHandle service(calls.CreateServiceW(
      manager.get(), kTunnelServiceName, kTunnelServiceDisplayName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path.c_str(),
      nullptr, nullptr, kTunnelServiceDependencies, nullptr, nullptr));
  // Only an existing service is opened; any other failure (such as a service
  // still marked for deletion) is final.
  if (!service && calls.GetLastError() == ERROR_SERVICE_EXISTS) {
    service.reset(calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  }
  if (!service) {
    log(L"InstallAndStartTunnel: CreateServiceW/OpenServiceW failed");
    return false;
  }

  SERVICE_SID_INFO sid_info{};
  sid_info.dwServiceSidType = SERVICE_SID_TYPE_UNRESTRICTED;
  if (!calls.ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_SERVICE_SID_INFO, &sid_info)) {
    log(L"InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed");
  }

  bool started = calls.StartServiceW(service.get(), 0, nullptr) != FALSE;
  if (!started && calls.GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) started = true;
  if (!started) log(L"InstallAndStartTunnel: StartServiceW failed");
  return started;
}

bool StopAndRemoveTunnel(const ServiceCalls& calls) {
  const auto log = [&calls](const wchar_t* message) {
    DebugLog(message, calls.OutputDebugStringW);
  };

  UniqueServiceHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    log(L"StopAndRemoveTunnel: OpenSCManagerW failed");
    return false;
  }

  const UniqueServiceHandle service(
      calls.OpenServiceW(manager.get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    // Read before the close, which may overwrite the thread's last error.
    const DWORD error = calls.GetLastError();
    manager.reset();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    log(L"StopAndRemoveTunnel: OpenServiceW failed");
    return false;
  }

  // A service that is not running refuses the stop; deletion follows anyway.
  SERVICE_STATUS ignored{};
  (void)calls.ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);

  DWORD waited_ms = 0;
  do {
    DWORD state = 0;
    if (!QueryState(calls, service.get(), &state) || state == SERVICE_STOPPED) break;
    calls.Sleep(kStopPollIntervalMs);
    waited_ms += kStopPollIntervalMs;
  } while (waited_ms < kStopWaitLimitMs);

  // Deletion is requested even if the service did not stop: the manager
  // removes a service marked for deletion once it has stopped.
  bool removed = calls.DeleteService(service.get()) != FALSE;
  if (!removed && calls.GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) removed = true;
  if (!removed) log(L"StopAndRemoveTunnel: DeleteService failed");
  return removed;
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
