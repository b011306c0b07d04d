#include "service/service_manager.h"

#include "service/unique_handle.h"

using tarnwick::ServiceCalls;
using tarnwick::UniqueScHandle;

namespace tarnwick {

std::wstring TunnelServiceCommandLine(const std::wstring& exe_path,
                                      const std::wstring& config_path) {
  std::wstring command_line;
  command_line.reserve(exe_path.size() + config_path.size() + 14);
  command_line.append(L"\"").append(exe_path).append(L"\" /service \"");
  command_line.append(config_path).append(L"\"");
  return command_line;
}

namespace {

// Reads the current state; false when the query itself fails.
bool QueryState(const ServiceCalls& calls, SC_HANDLE service, DWORD* state) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!calls.QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<LPBYTE>(&status), sizeof(status),
                                  &needed)) {
    return false;
  }
  *state = status.dwCurrentState;
  return true;
}

}  // namespace
}  // namespace tarnwick

bool InstallAndStartTunnel(const std::wstring& config_path) {
  return InstallAndStartTunnel(config_path, ServiceCalls{});
}

bool StopAndRemoveTunnel() { return StopAndRemoveTunnel(ServiceCalls{}); }

bool IsTunnelRunning() { return IsTunnelRunning(ServiceCalls{}); }

bool InstallAndStartTunnel(const std::wstring& config_path, const ServiceCalls& calls) {
  wchar_t exe_buffer[tarnwick::kModulePathChars] = {};
  const DWORD exe_length =
      calls.GetModuleFileNameW(nullptr, exe_buffer, tarnwick::kModulePathChars);
  // A full buffer means the path may have been cut; a service pointing at a
  // truncated path would never start, so refuse before touching the manager.
  if (exe_length == 0 || exe_length >= tarnwick::kModulePathChars) {
    calls.DebugLog(L"InstallAndStartTunnel: could not resolve exe path");
    return false;
  }

  UniqueScHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS),
                         calls.CloseServiceHandle);
  if (!manager) {
    calls.DebugLog(L"InstallAndStartTunnel: OpenSCManagerW failed");
    return false;
  }

  const std::wstring binary_path = tarnwick::TunnelServiceCommandLine(
      std::wstring(exe_buffer, exe_length), config_path);
  // Declared after the manager so it is closed first on every path.
  UniqueScHandle service(
      calls.CreateServiceW(manager.get(), tarnwick::kTunnelServiceName,
                           tarnwick::kTunnelServiceDisplayName, SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                           SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr,
                           tarnwick::kTunnelServiceDependencies, nullptr, nullptr),
      calls.CloseServiceHandle);
  // Only an existing service is opened; any other failure (such as a service
  // still marked for deletion) is final.
  if (!service && calls.GetLastError() == ERROR_SERVICE_EXISTS) {
    service = UniqueScHandle(
        calls.OpenServiceW(manager.get(), tarnwick::kTunnelServiceName, SERVICE_ALL_ACCESS),
        calls.CloseServiceHandle);
  }
  if (!service) {
    calls.DebugLog(L"InstallAndStartTunnel: CreateServiceW/OpenServiceW failed");
    return false;
  }

  SERVICE_SID_INFO sid_info{};
  sid_info.dwServiceSidType = SERVICE_SID_TYPE_UNRESTRICTED;
  if (!calls.ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_SERVICE_SID_INFO,
                                   &sid_info)) {
    calls.DebugLog(L"InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed");
  }

  bool started = calls.StartServiceW(service.get(), 0, nullptr) != FALSE;
  if (!started && calls.GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) started = true;
  if (!started) calls.DebugLog(L"InstallAndStartTunnel: StartServiceW failed");
  return started;
}

bool StopAndRemoveTunnel(const ServiceCalls& calls) {
  UniqueScHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS),
                         calls.CloseServiceHandle);
  if (!manager) {
    calls.DebugLog(L"StopAndRemoveTunnel: OpenSCManagerW failed");
    return false;
  }

  UniqueScHandle service(
      calls.OpenServiceW(manager.get(), tarnwick::kTunnelServiceName, SERVICE_ALL_ACCESS),
      calls.CloseServiceHandle);
  if (!service) {
    // Read before the close, which may overwrite the thread's last error.
    const DWORD error = calls.GetLastError();
    manager.reset();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    calls.DebugLog(L"StopAndRemoveTunnel: OpenServiceW failed");
    return false;
  }

  // A service that is not running refuses the stop; deletion follows anyway.
  SERVICE_STATUS ignored{};
  (void)calls.ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);

  DWORD waited_ms = 0;
  do {
    DWORD state = 0;
    if (!tarnwick::QueryState(calls, service.get(), &state) || state == SERVICE_STOPPED) break;
    calls.Sleep(tarnwick::kStopPollIntervalMs);
    waited_ms += tarnwick::kStopPollIntervalMs;
  } while (waited_ms < tarnwick::kStopWaitLimitMs);

  // Deletion is requested even if the service did not stop: the manager
  // removes a service marked for deletion once it has stopped.
  bool removed = calls.DeleteService(service.get()) != FALSE;
  if (!removed && calls.GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) removed = true;
  if (!removed) calls.DebugLog(L"StopAndRemoveTunnel: DeleteService failed");
  return removed;
}

bool IsTunnelRunning(const ServiceCalls& calls) {
  UniqueScHandle manager(calls.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT),
                         calls.CloseServiceHandle);
  if (!manager) return false;
  UniqueScHandle service(
      calls.OpenServiceW(manager.get(), tarnwick::kTunnelServiceName, SERVICE_QUERY_STATUS),
      calls.CloseServiceHandle);
  if (!service) return false;
  DWORD state = 0;
  return tarnwick::QueryState(calls, service.get(), &state) && state == SERVICE_RUNNING;
}
