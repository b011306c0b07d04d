#include "service/service_host.h"

#include "service/unique_handle.h"

int RunTunnelService(const wchar_t* config_path) {
  return RunTunnelService(config_path, tarnwick::ServiceHostCalls{});
}

int RunTunnelService(const wchar_t* config_path, const tarnwick::ServiceHostCalls& calls) {
  // Restricts every later load of this process too, including whatever the
  // tunnel library loads itself. If it fails, the flags below still keep
  // tunnel.dll itself out of the current directory and PATH.
  (void)calls.SetDefaultDllDirectories(tarnwick::kTunnelLibrarySearchFlags);

  tarnwick::UniqueLibrary library(
      calls.LoadLibraryExW(tarnwick::kTunnelLibraryName, nullptr,
                           tarnwick::kTunnelLibrarySearchFlags),
      calls.FreeLibrary);
  if (!library) {
    calls.DebugLog(L"RunTunnelService: failed to load tunnel.dll");
    return 1;
  }

  const FARPROC proc = calls.GetProcAddress(library.get(), tarnwick::kTunnelServiceExportName);
  if (proc == nullptr) {
    calls.DebugLog(L"RunTunnelService: WireGuardTunnelService export not found");
    return 1;
  }
  // FARPROC is the generic export type; the detour through void(*)() keeps
  // the compiler from warning about the function-type cast.
  const auto tunnel_service = reinterpret_cast<tarnwick::WireGuardTunnelServiceFn>(
      reinterpret_cast<void (*)()>(proc));

  const BOOL result = tunnel_service(config_path != nullptr ? config_path : L"");
  library.reset();
  return result != 0 ? 0 : 1;
}
