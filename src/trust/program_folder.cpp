#include "trust/program_folder.h"

#include <vector>

#include "platform/unique_handle.h"

namespace tarnwick {
namespace {

// Who may change what the SYSTEM service runs: `rights` held by anyone
// else refuse the object.
bool OnlySystemAdministratorsAndInstallerHold(const InspectedPath& path, ACCESS_MASK rights) {
  const UniqueLocalMemory system = WellKnownSid(Principal::kSystem);
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  const UniqueLocalMemory installer = WellKnownSid(Principal::kTrustedInstaller);
  return OnlyTrustedCanChange(path.owner, path.dacl,
                              {system.get(), administrators.get(), installer.get()}, rights);
}

bool IsDriveLetterPath(const std::wstring& path) {
  return path.size() >= 3 &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && path[2] == L'\\';
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
  // "\\?\C:\..." names the same file as "C:\..."; a network path (also as
  // "\\?\UNC\...") is refused: its "Administrators" are the server's.
  constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
  std::wstring path = exe_path;
  if (path.rfind(kLongPathPrefix, 0) == 0 && IsDriveLetterPath(path.substr(4))) {
    path.erase(0, 4);
  }
  if (!IsDriveLetterPath(path)) return Refusal{exe_path + L" is not on a local drive"};
  const std::wstring root = path.substr(0, 3);
  if (calls.GetDriveTypeW(root.c_str()) != DRIVE_FIXED) {
    return Refusal{root + L" is not a local fixed drive"};
  }
  const size_t separator = path.find_last_of(L'\\');
  // A drive's root keeps its backslash: "C:" alone is that drive's current
  // folder.
  const std::wstring folder = separator == 2 ? root : path.substr(0, separator);

  struct Object {
    std::wstring path;
    PathKind kind;
    ACCESS_MASK rights;
  };
  std::vector<Object> objects;
  // From the drive's root down: whoever may delete, rename or re-permission
  // a folder above the program folder can put another in its place. Adding
  // entries there moves nothing (users may create folders in C:\).
  for (size_t at = 2; folder.size() > root.size() && at < folder.size();
       at = folder.find(L'\\', at + 1)) {
    objects.push_back(
        {at == 2 ? root : folder.substr(0, at), PathKind::kDirectory, kReplaceRights});
  }
  // Then the folder itself: whoever can change it can replace anything in it.
  objects.push_back({folder, PathKind::kDirectory, kChangeRights});
  objects.push_back({path, PathKind::kFile, kChangeRights});
  objects.push_back(
      {path.substr(0, separator + 1) + kTunnelLibraryName, PathKind::kFile, kChangeRights});
  for (const Object& object : objects) {
    InspectedPath seen;
    const PathFault fault = InspectPath(object.path, object.kind, 0, &seen, calls);
    if (fault != PathFault::kNone) {
      return Refusal{object.path + L" " + DescribePathFault(fault, seen.error)};
    }
    if (!OnlySystemAdministratorsAndInstallerHold(seen, object.rights)) {
      return Refusal{object.path + L" can be changed by others"};
    }
  }
  return std::nullopt;
}

}  // namespace tarnwick
