#include "tunnel_channel/config_staging.h"

#include <optional>
#include <vector>

#include "platform/random_name.h"
#include "platform/security_descriptor.h"
#include "platform/unique_handle.h"
#include "trust/tunnel_config.h"

namespace tarnwick {
namespace {

// A descriptor of the configuration's permissions; empty when the text
// does not parse.
UniqueLocalMemory DescriptorFromSddl(const TunnelChannelCalls& calls, const wchar_t* sddl) {
  return SecurityDescriptorFromSddl(sddl,
                                    calls.ConvertStringSecurityDescriptorToSecurityDescriptorW);
}

// The TOKEN_USER of this process, whose SID is the user's; empty on failure.
std::vector<BYTE> CurrentUser(const TunnelChannelCalls& calls) {
  UniqueKernelHandle token;
  if (!calls.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  calls.GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<BYTE> user(size);
  if (!calls.GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return {};
  return user;
}

// Any local user may create folders in ProgramData, so whatever stands at
// the folder's path is vouched for before a key is written into it: a real
// folder, owned by this user, SYSTEM or administrators. One this user owns
// gets the protected permissions again, whatever it had before, so a folder
// with looser ones is tightened.
bool VouchForFolder(const std::wstring& folder, const TunnelChannelCalls& calls) {
  InspectedPath seen;
  PathFault fault = InspectPath(folder, PathKind::kDirectory, WRITE_DAC, &seen, calls);
  // A folder of SYSTEM or administrators may not let this user change its
  // permissions; it is still judged, by its owner, from a reading handle.
  if (fault == PathFault::kUnopenable) {
    fault = InspectPath(folder, PathKind::kDirectory, 0, &seen, calls);
  }
  if (fault != PathFault::kNone) return false;

  const std::vector<BYTE> user = CurrentUser(calls);
  if (user.empty()) return false;
  const PSID user_sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  if (!::EqualSid(seen.owner, user_sid)) return IsSystemOrAdministrators(seen.owner);

  const UniqueLocalMemory descriptor = DescriptorFromSddl(calls, kConfigFolderSddl);
  if (!descriptor) return false;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) {
    return false;
  }
  return calls.SetSecurityInfo(seen.handle.get(), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace

std::wstring GetProgramDataDirectory(const TunnelChannelCalls& calls) {
  // The known folder, where the privileged copies look for it: the
  // environment is the user's to change, and a folder named there would
  // stage the file where no privileged copy accepts it.
  const std::wstring folder = TunnelConfigLocation(calls).folder;
  if (folder.empty()) return {};

  const UniqueLocalMemory descriptor = DescriptorFromSddl(calls, kConfigFolderSddl);
  if (!descriptor) return {};
  SECURITY_ATTRIBUTES attributes = AttributesOf(descriptor);
  if (!calls.CreateDirectoryW(folder.c_str(), &attributes) &&
      calls.GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  if (!VouchForFolder(folder, calls)) return {};
  return folder;
}

std::wstring WriteTunnelConfig(const std::string& config, const TunnelChannelCalls& calls) {
  const std::wstring folder = GetProgramDataDirectory(calls);
  if (folder.empty()) return {};
  const std::wstring path = folder + L"\\" + kConfigFileName;

  // The text goes to a new file of this call first and replaces
  // the configuration file in one step, so a failed write never destroys the working
  // configuration.
  const std::optional<std::wstring> suffix = UnpredictableName(calls.BCryptGenRandom);
  if (!suffix) return {};
  const std::wstring temporary = path + L"." + *suffix + L".tmp";

  const UniqueLocalMemory descriptor = DescriptorFromSddl(calls, kConfigFileSddl);
  if (!descriptor) return {};
  SECURITY_ATTRIBUTES attributes = AttributesOf(descriptor);

  // CREATE_NEW: the file written is one this call created with its own
  // permissions, never something that already stood there.
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
