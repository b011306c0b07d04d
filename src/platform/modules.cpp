#include "platform/modules.h"

namespace tarnwick {

std::wstring ModuleFilePath(DWORD* error,
                            const Call<decltype(::GetModuleFileNameW)>& get_module_file_name,
                            const Call<decltype(::GetLastError)>& get_last_error) {
  wchar_t buffer[kModulePathChars] = {};
  const DWORD length = get_module_file_name(nullptr, buffer, kModulePathChars);
  if (length == 0) {
    *error = get_last_error();
    return {};
  }
  if (length >= kModulePathChars) {
    *error = ERROR_INSUFFICIENT_BUFFER;
    return {};
  }
  *error = ERROR_SUCCESS;
  return std::wstring(buffer, length);
}

}  // namespace tarnwick
