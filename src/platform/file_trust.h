// What a privileged copy may rely on before it uses a path it did not make
// itself: the object is what it claims to be (a real directory or a file
// with one name, never a link to somewhere else), and only principals it
// trusts can change it.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <string>
#include <vector>

#include "platform/calls.h"
#include "platform/unique_handle.h"

namespace tarnwick {

// The calls behind the checks; the trust module's table derives from this
// one, and the subsystems' tables from that, so a subsystem still has one
// table.
struct FileTrustCalls {
  Call<decltype(::GetFileAttributesW)> GetFileAttributesW = ::GetFileAttributesW;
  Call<decltype(::CreateFileW)> CreateFileW = ::CreateFileW;
  Call<decltype(::GetFileInformationByHandle)> GetFileInformationByHandle =
      ::GetFileInformationByHandle;
  Call<decltype(::GetSecurityInfo)> GetSecurityInfo = ::GetSecurityInfo;
  Call<decltype(::GetLastError)> GetLastError = ::GetLastError;
};

enum class PathKind { kDirectory, kFile };

// Why a path was refused; kNone when it was not.
enum class PathFault {
  kNone,
  kUnopenable,    // missing, or not openable for reading its security
  kReparsePoint,  // a link or junction, on the path or on the opened object
  kWrongKind,     // a file where a directory belongs, or the other way round
  kHardLinks,     // a file with more than one name
  kNoSecurity,    // owner and DACL could not be read
};

// A path opened without following links, with what was read of it.
struct InspectedPath {
  UniqueFileHandle handle;
  BY_HANDLE_FILE_INFORMATION information{};
  UniqueLocalMemory descriptor;  // holds owner and dacl
  PSID owner = nullptr;
  PACL dacl = nullptr;
  // What the system said when a call failed (kUnopenable, kNoSecurity).
  DWORD error = ERROR_SUCCESS;
};

// Opens path as kind, without following a link, with `access` (READ_CONTROL
// and FILE_READ_ATTRIBUTES are always asked for), and reads its owner and
// DACL. A file must have exactly one name.
[[nodiscard]] PathFault InspectPath(const std::wstring& path, PathKind kind, DWORD access,
                                    InspectedPath* inspected, const FileTrustCalls& calls = {});

// Rights that change an object: write or append its data (add entries to a
// folder), delete it or its entries, change its permissions or owner.
// (FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are FILE_WRITE_DATA and
// FILE_APPEND_DATA under their folder names.)
inline constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA |
                                             FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                                             GENERIC_WRITE | GENERIC_ALL;
// Rights over a folder that let someone take away or swap what is already
// in it: delete or rename it or its entries, change its permissions or
// owner. Adding new entries is not among them.
inline constexpr ACCESS_MASK kReplaceRights =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// A well-known principal as a SID of its own.
enum class Principal { kSystem, kAdministrators, kTrustedInstaller };
[[nodiscard]] UniqueLocalMemory WellKnownSid(Principal principal);

// True when sid is SYSTEM or the Administrators group: an owner only the
// machine's administrators can be.
[[nodiscard]] bool IsSystemOrAdministrators(PSID sid);

// True when only the trusted SIDs hold `rights` over the object: its owner
// (who may always rewrite the DACL) is one of them, and no ACE that applies
// to the object grants anyone else any of those rights. OWNER RIGHTS stands
// for the owner. A missing (null) DACL grants everyone everything.
[[nodiscard]] bool OnlyTrustedCanChange(PSID owner, const ACL* dacl,
                                        const std::vector<PSID>& trusted,
                                        ACCESS_MASK rights = kChangeRights);

// Short words for a fault, for diagnostic lines, with the system's code and
// text when a call failed: "cannot be opened: 2 (...)".
[[nodiscard]] std::wstring DescribePathFault(PathFault fault, DWORD error = ERROR_SUCCESS);

}  // namespace tarnwick
