#include "tests/support/tunnel_service.h"

#include <chrono>
#include <memory>

#include "platform/unique_handle.h"

namespace tarnwick::e2e {
namespace {

constexpr DWORD kPollMs = 50;

UniqueServiceHandle OpenManager(DWORD access) {
  return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

UniqueServiceHandle OpenTunnel(const UniqueServiceHandle& manager, DWORD access) {
  if (!manager) return {};
  return UniqueServiceHandle(::OpenServiceW(manager.get(), kTunnelServiceName, access));
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  return ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(status),
                                sizeof(*status), &needed) != FALSE;
}

template <typename Done>
bool PollUntil(DWORD timeout_ms, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::Sleep(kPollMs);
  }
}

std::vector<std::wstring> StoredDependencies() {
  std::vector<std::wstring> dependencies;
  const std::wstring key =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + kTunnelServiceName;
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DependOnService", RRF_RT_REG_MULTI_SZ,
                     nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return dependencies;
  }
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DependOnService", RRF_RT_REG_MULTI_SZ,
                     nullptr, buffer.data(), &bytes) != ERROR_SUCCESS) {
    return dependencies;
  }
  for (const wchar_t* d = buffer.data(); *d; d += wcslen(d) + 1) dependencies.emplace_back(d);
  return dependencies;
}

}  // namespace

TunnelServiceInfo QueryTunnelService() {
  TunnelServiceInfo info;
  const UniqueServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
  const UniqueServiceHandle service =
      OpenTunnel(manager, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
  if (!service) return info;
  info.exists = true;

  SERVICE_STATUS_PROCESS status{};
  if (QueryStatus(service.get(), &status)) {
    info.state = status.dwCurrentState;
    info.win32_exit_code = status.dwWin32ExitCode;
    info.service_exit_code = status.dwServiceSpecificExitCode;
    info.process_id = status.dwProcessId;
  }

  DWORD needed = 0;
  ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  if (needed == 0) return info;
  // QUERY_SERVICE_CONFIGW holds pointers into the same buffer.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[needed]);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
  if (!::QueryServiceConfigW(service.get(), config, needed, &needed)) return info;
  info.service_type = config->dwServiceType;
  info.start_type = config->dwStartType;
  info.error_control = config->dwErrorControl;
  if (config->lpBinaryPathName) info.binary_path = config->lpBinaryPathName;
  if (config->lpDisplayName) info.display_name = config->lpDisplayName;
  if (config->lpServiceStartName) info.account = config->lpServiceStartName;
  for (const wchar_t* dependency = config->lpDependencies; dependency && *dependency;
       dependency += wcslen(dependency) + 1) {
    info.dependencies.emplace_back(dependency);
  }
  // Wine's manager stores the dependencies but reports none; they are read
  // where it stores them, the same place Windows keeps them.
  if (info.dependencies.empty()) info.dependencies = StoredDependencies();
  return info;
}

bool WaitForTunnelServiceState(DWORD state, DWORD timeout_ms) {
  return PollUntil(timeout_ms, [state] {
    const TunnelServiceInfo info = QueryTunnelService();
    return info.exists && info.state == state;
  });
}

bool WaitForTunnelServiceGone(DWORD timeout_ms) {
  return PollUntil(timeout_ms, [] { return !QueryTunnelService().exists; });
}

bool RemoveTunnelService(DWORD timeout_ms) {
  {
    const UniqueServiceHandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
    const UniqueServiceHandle service = OpenTunnel(manager, SERVICE_ALL_ACCESS);
    if (!service) return !QueryTunnelService().exists;

    SERVICE_STATUS ignored{};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    SERVICE_STATUS_PROCESS status{};
    const bool stopped = PollUntil(timeout_ms / 2, [&] {
      return !QueryStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED;
    });
    // A service that will not stop is ended, so no test leaves a process.
    if (!stopped && status.dwProcessId != 0) {
      UniqueKernelHandle process(
          ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
      if (process) {
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), timeout_ms / 4);
      }
    }
    ::DeleteService(service.get());
  }
  return WaitForTunnelServiceGone(timeout_ms / 2);
}

}  // namespace tarnwick::e2e
