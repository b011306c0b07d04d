#include "platform/modules.h"

namespace tarnwick {

ModulePath ModuleFilePath(const Call<decltype(::GetModuleFileNameW)>& get_module_file_name,
                          const Call<decltype(::GetLastError)>& get_last_error) {
  wchar_t buffer[kModulePathChars] = {};
  const DWORD length = get_module_file_name(nullptr, buffer, kModulePathChars);
  if (length == 0) return {{}, get_last_error()};
  if (length >= kModulePathChars) return {{}, ERROR_INSUFFICIENT_BUFFER};
  return {std::wstring(buffer, length), ERROR_SUCCESS};
}

}  // namespace tarnwick
