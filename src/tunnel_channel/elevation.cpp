#include "tunnel_channel/elevation.h"

#include "platform/unique_handle.h"

namespace tarnwick {

ElevationOutcome RunSelfElevated(const std::wstring& parameters, const TunnelChannelCalls& calls) {
  wchar_t module_path[MAX_PATH];
  const DWORD length = calls.GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  // A result of exactly MAX_PATH means the path was cut to fit: starting
  // whatever that names would be wrong, so no prompt is shown.
  if (length == 0 || length >= MAX_PATH) return kFailed;
  const std::wstring executable(module_path, length);

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = executable.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = nullptr;
  info.nShow = SW_HIDE;

  // Blocks while the elevation prompt is up.
  if (!calls.ShellExecuteExW(&info)) {
    return calls.GetLastError() == ERROR_CANCELLED ? kCancelled : kFailed;
  }
  const UniqueKernelHandle process(info.hProcess);
  if (!process) return kFailed;

  // After a time-out the copy is left running: it may still finish the
  // service change, and a later status query shows what it did.
  if (calls.WaitForSingleObject(process.get(), kElevatedHelperTimeoutMs) != WAIT_OBJECT_0) {
    return kFailed;
  }
  DWORD exit_code = 1;
  if (!calls.GetExitCodeProcess(process.get(), &exit_code)) return kFailed;
  return exit_code == 0 ? kSucceeded : kFailed;
}

}  // namespace tarnwick
