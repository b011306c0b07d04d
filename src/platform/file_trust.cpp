#include "platform/file_trust.h"

#include <sddl.h>

#include "platform/system_error.h"

namespace tarnwick {
namespace {

bool IsOneOf(PSID sid, const std::vector<PSID>& trusted) {
  for (PSID candidate : trusted) {
    if (candidate != nullptr && ::EqualSid(sid, candidate)) return true;
  }
  return false;
}

}  // namespace

PathFault InspectPath(const std::wstring& path, PathKind kind, DWORD access,
                      InspectedPath* inspected, const FileTrustCalls& calls) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of its target;
  // backup semantics let a directory be opened at all.
  inspected->handle.reset(calls.CreateFileW(
      path.c_str(), access | READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const auto failed = [&](PathFault fault, DWORD error) {
    inspected->error = error;
    return fault;
  };
  if (!inspected->handle) return failed(PathFault::kUnopenable, calls.GetLastError());
  if (!calls.GetFileInformationByHandle(inspected->handle.get(), &inspected->information)) {
    return failed(PathFault::kUnopenable, calls.GetLastError());
  }
  // Both are asked: some file systems show a link only on the path, others
  // only on the opened object.
  const DWORD path_attributes = calls.GetFileAttributesW(path.c_str());
  if (path_attributes == INVALID_FILE_ATTRIBUTES) {
    return failed(PathFault::kUnopenable, calls.GetLastError());
  }
  const DWORD object_attributes = inspected->information.dwFileAttributes;
  if (((path_attributes | object_attributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return PathFault::kReparsePoint;
  }
  const bool directory = (object_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (directory != (kind == PathKind::kDirectory)) return PathFault::kWrongKind;
  // A second name may lie in a folder someone else controls, who could then
  // rewrite the content through it.
  if (kind == PathKind::kFile && inspected->information.nNumberOfLinks != 1) {
    return PathFault::kHardLinks;
  }

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read =
      calls.GetSecurityInfo(inspected->handle.get(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &inspected->owner, nullptr, &inspected->dacl, nullptr, &descriptor);
  if (read != ERROR_SUCCESS) return failed(PathFault::kNoSecurity, read);
  inspected->descriptor.reset(descriptor);
  if (inspected->owner == nullptr || !::IsValidSid(inspected->owner)) {
    return PathFault::kNoSecurity;
  }
  return PathFault::kNone;
}

UniqueLocalMemory WellKnownSid(Principal principal) {
  const wchar_t* text = L"S-1-5-18";
  switch (principal) {
    case Principal::kSystem: text = L"S-1-5-18"; break;
    case Principal::kAdministrators: text = L"S-1-5-32-544"; break;
    case Principal::kTrustedInstaller:
      text = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
      break;
  }
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(text, &sid)) return UniqueLocalMemory();
  return UniqueLocalMemory(sid);
}

bool IsSystemOrAdministrators(PSID sid) {
  if (sid == nullptr || !::IsValidSid(sid)) return false;
  const UniqueLocalMemory system = WellKnownSid(Principal::kSystem);
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  return IsOneOf(sid, {system.get(), administrators.get()});
}

bool OnlyTrustedCanChange(PSID owner, const ACL* dacl, const std::vector<PSID>& trusted,
                          ACCESS_MASK rights) {
  if (owner == nullptr || !::IsValidSid(owner) || !IsOneOf(owner, trusted)) return false;
  if (dacl == nullptr) return false;

  UniqueLocalMemory owner_rights;
  {
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-3-4", &sid)) return false;
    owner_rights.reset(sid);
  }

  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), index, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // Inherit-only entries apply to children, which are judged on their own.
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: break;
      case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        // Grants in shapes files never carry: not judged, so not trusted.
        return false;
      default:
        // Denials only take rights away; audit and label entries grant none.
        continue;
    }
    // The plain and callback forms share the layout of a plain allow entry.
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & rights) == 0) continue;
    PSID grantee = const_cast<DWORD*>(&allowed->SidStart);
    if (::EqualSid(grantee, owner_rights.get())) continue;  // the owner, already trusted
    if (!IsOneOf(grantee, trusted)) return false;
  }
  return true;
}

std::wstring DescribePathFault(PathFault fault, DWORD error) {
  const wchar_t* words = L"is not trusted";
  switch (fault) {
    case PathFault::kNone: words = L"trusted"; break;
    case PathFault::kUnopenable: words = L"cannot be opened"; break;
    case PathFault::kReparsePoint: words = L"is a link"; break;
    case PathFault::kWrongKind: words = L"is not of the expected kind"; break;
    case PathFault::kHardLinks: words = L"has more than one name"; break;
    case PathFault::kNoSecurity: words = L"has no readable owner and permissions"; break;
  }
  if (error == ERROR_SUCCESS) return words;
  return std::wstring(words) + L": " + SystemErrorText(error);
}

}  // namespace tarnwick
