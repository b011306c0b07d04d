#include "tunnel_channel/config_staging.h"

#include "platform/unique_handle.h"

namespace tarnwick {
namespace {

constexpr DWORD kPathBufferSize = MAX_PATH;  // 260, the terminator included

// A security descriptor made from SDDL; empty when the text does not parse.
UniqueLocalMemory DescriptorFromSddl(const TunnelChannelCalls& calls, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!calls.ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
    return UniqueLocalMemory();
  }
  return UniqueLocalMemory(descriptor);
}

// Not inheritable by child processes; valid while the descriptor lives.
SECURITY_ATTRIBUTES AttributesOf(const UniqueLocalMemory& descriptor) {
  return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
}

}  // namespace

std::wstring GetProgramDataDirectory(const TunnelChannelCalls& calls) {
  wchar_t buffer[kPathBufferSize];
  const DWORD length = calls.GetEnvironmentVariableW(L"PROGRAMDATA", buffer, kPathBufferSize);
  // 0: missing, empty or failed; 260 and up: too long, the call reports the
  // size it would need and the buffer holds nothing usable.
  if (length == 0 || length >= kPathBufferSize) return {};

  // The backslash goes in whatever the value ends with; a doubled one is
  // harmless to the file system and the path is used as built.
  std::wstring folder(buffer, length);
  folder += L"\\Tarnwick";

  const UniqueLocalMemory descriptor = DescriptorFromSddl(calls, kConfigFolderSddl);
  if (!descriptor) return {};
  SECURITY_ATTRIBUTES attributes = AttributesOf(descriptor);
  if (!calls.CreateDirectoryW(folder.c_str(), &attributes) &&
      calls.GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  return folder;
}

std::wstring WriteTunnelConfig(const std::string& config, const TunnelChannelCalls& calls) {
  const std::wstring folder = GetProgramDataDirectory(calls);
  if (folder.empty()) return {};
  const std::wstring path = folder + L"\\tarnwick.conf";

  // The text goes to a file of this process first and replaces tarnwick.conf
  // in one step, so a failed write never destroys the working configuration.
  const std::wstring temporary =
      path + L"." + std::to_wstring(calls.GetCurrentProcessId()) + L".tmp";

  const UniqueLocalMemory descriptor = DescriptorFromSddl(calls, kConfigFileSddl);
  if (!descriptor) return {};
  SECURITY_ATTRIBUTES attributes = AttributesOf(descriptor);

  // A leftover of an earlier process with the same id is removed; CREATE_NEW
  // then makes sure the file written is one this call created with its own
  // permissions, never someone else's file reopened.
  calls.DeleteFileW(temporary.c_str());
  UniqueFileHandle file(calls.CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, &attributes,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};

  // One write with a 32-bit count; a text of 4 GiB or more cannot pass the
  // full-width comparison below.
  DWORD written = 0;
  const BOOL wrote = calls.WriteFile(file.get(), config.data(), static_cast<DWORD>(config.size()),
                                     &written, nullptr);
  const bool complete =
      wrote && static_cast<size_t>(written) == config.size() && calls.FlushFileBuffers(file.get());
  file.reset();

  if (!complete || !calls.MoveFileExW(temporary.c_str(), path.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    calls.DeleteFileW(temporary.c_str());
    return {};
  }
  return path;
}

}  // namespace tarnwick
