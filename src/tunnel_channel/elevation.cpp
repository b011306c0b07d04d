#include "tunnel_channel/elevation.h"

#include <utility>

#include "platform/modules.h"

namespace tarnwick {

ElevationOutcome RunSelfElevated(const std::wstring& parameters, HWND owner, ElevationState& state,
                                 const TunnelChannelCalls& calls) {
  // Two elevated copies would change the service at once: no prompt while
  // the last one is still at work. Any other answer than "still running"
  // lets it go, so a handle that cannot be waited on blocks nothing.
  if (state.unfinished_copy) {
    if (calls.WaitForSingleObject(state.unfinished_copy.get(), 0) == WAIT_TIMEOUT) return kFailed;
    state.unfinished_copy.reset();
  }

  // Without a switch the copy would be the interactive application, which
  // brings this window forward and ends with 0: never a change.
  if (parameters.empty()) return kFailed;

  // A path cut to fit the buffer names something else: no prompt is shown.
  const ModulePath executable = ModuleFilePath(calls.GetModuleFileNameW, calls.GetLastError);
  if (!executable) return kFailed;

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // Runs on the tunnel worker, which has no message loop: the shell must
  // finish its work before the call returns, not post it to this thread.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  // The prompt comes up in front of this window and belongs to it.
  info.hwnd = owner;
  info.lpVerb = L"runas";
  info.lpFile = executable.path.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = nullptr;
  info.nShow = SW_HIDE;

  // Blocks while the elevation prompt is up.
  if (!calls.ShellExecuteExW(&info)) {
    return calls.GetLastError() == ERROR_CANCELLED ? kCancelled : kFailed;
  }
  UniqueKernelHandle process(info.hProcess);
  if (!process) return kFailed;

  const DWORD waited = calls.WaitForSingleObject(process.get(), kElevatedHelperTimeoutMs);
  if (waited == WAIT_TIMEOUT) {
    // Left running: it may still finish the service change, and a later
    // status query shows what it did. It is kept to hold off the next copy.
    state.unfinished_copy = std::move(process);
    return kFailed;
  }
  if (waited != WAIT_OBJECT_0) return kFailed;
  DWORD exit_code = 1;
  if (!calls.GetExitCodeProcess(process.get(), &exit_code)) return kFailed;
  return exit_code == 0 ? kSucceeded : kFailed;
}

}  // namespace tarnwick
