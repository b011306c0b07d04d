#include "trust/program_folder.h"

#include "platform/unique_handle.h"

namespace tarnwick {
namespace {

// Who may change what the SYSTEM service runs.
bool OnlySystemAdministratorsAndInstallerCanChange(const InspectedPath& path) {
  const UniqueLocalMemory system = WellKnownSid(Principal::kSystem);
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  const UniqueLocalMemory installer = WellKnownSid(Principal::kTrustedInstaller);
  return OnlyTrustedCanChange(path.owner, path.dacl,
                              {system.get(), administrators.get(), installer.get()});
}

}  // namespace

bool UnprotectedProgramFolderAllowed(const TrustCalls& calls) {
  // Read as any type, so that a string "1" (whose UTF-16 bytes are as long
  // as a DWORD) is told apart by its type.
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status =
      calls.RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kAllowUnprotectedProgramFolderValue,
                         RRF_RT_ANY, &type, &value, &size);
  return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}

std::optional<Refusal> CheckProgramFolder(const std::wstring& exe_path, const TrustCalls& calls) {
  const size_t separator = exe_path.find_last_of(L'\\');
  if (separator == std::wstring::npos || separator == 0) {
    return Refusal{exe_path + L" is not in a folder"};
  }
  // A drive's root keeps its backslash: "C:" alone is that drive's current
  // folder.
  const bool drive_root = separator == 2 && exe_path[1] == L':';
  const std::wstring folder = exe_path.substr(0, drive_root ? separator + 1 : separator);
  // The folder first: whoever can change it can replace anything in it.
  const struct {
    std::wstring path;
    PathKind kind;
  } objects[] = {
      {folder, PathKind::kDirectory},
      {exe_path, PathKind::kFile},
      {exe_path.substr(0, separator + 1) + kTunnelLibraryName, PathKind::kFile},
  };
  for (const auto& object : objects) {
    InspectedPath seen;
    const PathFault fault = InspectPath(object.path, object.kind, 0, &seen, calls);
    if (fault != PathFault::kNone) {
      return Refusal{object.path + L" " + DescribePathFault(fault, seen.error)};
    }
    if (!OnlySystemAdministratorsAndInstallerCanChange(seen)) {
      return Refusal{object.path + L" can be changed by others"};
    }
  }
  return std::nullopt;
}

}  // namespace tarnwick
