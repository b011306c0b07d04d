// A working tunnel service for the stand-in library: it is dispatched by the
// real service control manager, checks its configuration file and then runs
// until it is told to stop. It moves no packets.
#include "standins/tunnel/tunnel_service.h"

#include <atomic>
#include <string>

#include "platform/unique_handle.h"
#include "standins/tunnel/wireguard_config.h"

namespace {

using tarnwick::UniqueFileHandle;
using tarnwick::UniqueKernelHandle;

// A configuration is a few hundred bytes; anything this large is not one.
constexpr LONGLONG kMaxConfigBytes = 1 << 20;
constexpr DWORD kStartWaitHintMs = 3000;

// Shared between the export's thread, the service-main thread and the
// dispatcher's control-handler calls.
struct ServiceState {
  std::wstring config_path;
  SERVICE_STATUS_HANDLE status_handle = nullptr;
  HANDLE stop_event = nullptr;
  std::atomic<bool> ran_cleanly{false};
};
ServiceState g_service;

void Log(const std::wstring& message) {
  const std::wstring line = tarnwick::kTunnelStandinLogPrefix + message + L"\n";
  ::OutputDebugStringW(line.c_str());
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void Report(DWORD state, DWORD win32_exit_code = NO_ERROR, DWORD specific_exit_code = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN) : 0;
  status.dwWin32ExitCode = win32_exit_code;
  status.dwServiceSpecificExitCode = specific_exit_code;
  status.dwWaitHint = state == SERVICE_START_PENDING ? kStartWaitHintMs : 0;
  ::SetServiceStatus(g_service.status_handle, &status);
}

void ReportFailure(tarnwick::TunnelStandinExitCode code) {
  Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, code);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Log(control == SERVICE_CONTROL_STOP ? L"stop requested" : L"shutdown requested");
      Report(SERVICE_STOP_PENDING);
      ::SetEvent(g_service.stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Reads the whole file; false with the Windows error when it cannot.
bool ReadConfigFile(const std::wstring& path, std::string* text, DWORD* error) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) {
    *error = ::GetLastError();
    return false;
  }
  if (size.QuadPart > kMaxConfigBytes) {
    *error = ERROR_FILE_TOO_LARGE;
    return false;
  }
  text->resize(static_cast<size_t>(size.QuadPart));
  if (text->empty()) return true;
  DWORD read = 0;
  if (!::ReadFile(file.get(), &(*text)[0], static_cast<DWORD>(text->size()), &read, nullptr)) {
    *error = ::GetLastError();
    return false;
  }
  if (read != text->size()) {
    *error = ERROR_HANDLE_EOF;  // the file shrank while we read it
    return false;
  }
  return true;
}

void RunService(DWORD argc, LPWSTR* argv) {
  // An own-process service may be named anything; the manager passes the
  // name it started us under.
  const wchar_t* name = argc > 0 && argv[0] != nullptr ? argv[0] : L"";
  g_service.status_handle = ::RegisterServiceCtrlHandlerExW(name, ControlHandler, nullptr);
  if (g_service.status_handle == nullptr) {
    Log(L"cannot register the control handler, error " + std::to_wstring(::GetLastError()));
    return;
  }
  Report(SERVICE_START_PENDING);

  std::string text;
  DWORD error = 0;
  if (!ReadConfigFile(g_service.config_path, &text, &error)) {
    Log(L"cannot read configuration \"" + g_service.config_path + L"\", error " +
        std::to_wstring(error));
    ReportFailure(tarnwick::kTunnelConfigUnreadable);
    return;
  }
  const tarnwick::WireGuardConfigCheck check = tarnwick::CheckWireGuardConfig(text);
  if (!check.valid) {
    Log(L"configuration \"" + g_service.config_path + L"\" is invalid: " + Widen(check.problem));
    ReportFailure(tarnwick::kTunnelConfigInvalid);
    return;
  }
  Log(L"read configuration \"" + g_service.config_path + L"\": " +
      std::to_wstring(check.peer_count) + (check.peer_count == 1 ? L" peer" : L" peers"));

  Report(SERVICE_RUNNING);
  Log(L"running");
  ::WaitForSingleObject(g_service.stop_event, INFINITE);
  g_service.ran_cleanly = true;
  Log(L"stopped");
  // Last: once stopped is reported the manager may end the process.
  Report(SERVICE_STOPPED);
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  try {
    RunService(argc, argv);
  } catch (...) {
    // Out of memory; the manager sees the service end without a report.
  }
}

}  // namespace

BOOL WINAPI WireGuardTunnelService(const wchar_t* config_path) {
  try {
    g_service.config_path = config_path != nullptr ? config_path : L"";
    g_service.ran_cleanly = false;
    UniqueKernelHandle stop_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_event) {
      Log(L"cannot create the stop event, error " + std::to_wstring(::GetLastError()));
      return FALSE;
    }
    g_service.stop_event = stop_event.get();

    wchar_t no_name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{no_name, ServiceMain}, {nullptr, nullptr}};
    const BOOL dispatched = ::StartServiceCtrlDispatcherW(table);
    const DWORD error = ::GetLastError();
    g_service.stop_event = nullptr;
    if (!dispatched) {
      Log(L"not started by the service control manager, error " + std::to_wstring(error));
      return FALSE;
    }
    return g_service.ran_cleanly ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}
