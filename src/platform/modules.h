// The running executable's own path and typed lookups of a library's
// exports, written once for every subsystem that needs them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/calls.h"

namespace tarnwick {

// GetModuleFileNameW's buffer; a result that fills it may be cut short.
constexpr DWORD kModulePathChars = MAX_PATH;

// The running executable's full path, or why the system did not give it
// whole: the call's own error, or ERROR_INSUFFICIENT_BUFFER for a path of
// 260 characters or more, which may be cut short (and whatever a cut path
// names is not this executable).
struct ModulePath {
  std::wstring path;  // empty when not given whole
  DWORD error = ERROR_SUCCESS;

  explicit operator bool() const { return !path.empty(); }
};

[[nodiscard]] ModulePath ModuleFilePath(
    const Call<decltype(::GetModuleFileNameW)>& get_module_file_name = ::GetModuleFileNameW,
    const Call<decltype(::GetLastError)>& get_last_error = ::GetLastError);

// Export `name` of module as a pointer of the declared Signature; null when
// the module has no such export.
template <typename Signature>
Signature* ProcAddress(
    HMODULE module, const char* name,
    const Call<decltype(::GetProcAddress)>& get_proc_address = ::GetProcAddress) {
  const FARPROC proc = get_proc_address(module, name);
  if (proc == nullptr) return nullptr;
  // FARPROC is the generic export type; the detour through void(*)() keeps
  // the compiler from warning about the function-type cast.
  return reinterpret_cast<Signature*>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace tarnwick
