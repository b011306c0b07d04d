// The file trust checks: the one table of owners and permissions a
// privileged copy accepts or refuses, and how a path is inspected without
// following links, on real files of the prefix with what Wine cannot show
// (links, second names, failing calls) scripted.
#include "platform/file_trust.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/paths.h"
#include "tests/support/security.h"

namespace {

using tarnwick::InspectedPath;
using tarnwick::InspectPath;
using tarnwick::OnlyTrustedCanChange;
using tarnwick::PathFault;
using tarnwick::PathKind;
using tarnwick::UniqueLocalMemory;

UniqueLocalMemory Sid(const wchar_t* text) {
  PSID sid = nullptr;
  EXPECT_TRUE(::ConvertStringSidToSidW(text, &sid)) << "bad SID";
  return UniqueLocalMemory(sid);
}

// Judges owner and DACL of the SDDL against SYSTEM and administrators.
bool Trusted(const std::wstring& sddl) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (tarnwick::e2e::AnswerWithSddl(sddl, &owner, &dacl, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocalMemory owner_of_descriptor(descriptor);
  const UniqueLocalMemory system = Sid(L"S-1-5-18");
  const UniqueLocalMemory administrators = Sid(L"S-1-5-32-544");
  return OnlyTrustedCanChange(owner, dacl, {system.get(), administrators.get()});
}

TEST(FileTrustTest, OnlyTrustedPrincipalsMayChangeTheObject) {
  // SYSTEM and administrators with full control; each row adds one entry.
  const std::wstring base = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
  const struct {
    const char* name;
    std::wstring sddl;
    bool trusted;
  } rows[] = {
      {"SYSTEM and administrators alone", base, true},
      {"users may read and run", base + L"(A;;0x1200a9;;;BU)", true},
      {"owner rights stand for the trusted owner", base + L"(A;;FA;;;OW)", true},
      {"a grant to children only", base + L"(A;OICIIO;GA;;;BU)", true},
      {"a denial to users", base + L"(D;;FA;;;BU)", true},
      {"users may write data (add a file)", base + L"(A;;0x2;;;BU)", false},
      {"users may append (add a peer, a folder)", base + L"(A;;0x4;;;BU)", false},
      {"users hold GENERIC_ALL", base + L"(A;;GA;;;BU)", false},
      {"users hold GENERIC_WRITE", base + L"(A;;GW;;;BU)", false},
      {"users may delete it", base + L"(A;;SD;;;BU)", false},
      {"users may take ownership", base + L"(A;;WO;;;BU)", false},
      {"users may change permissions", base + L"(A;;WD;;;BU)", false},
      {"users may delete entries", base + L"(A;;0x40;;;BU)", false},
      {"owned by a user", L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)", false},
      {"no DACL: everyone may do everything", L"O:BA", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Trusted(row.sddl), row.trusted) << row.name;
  }
}

// Entries SDDL cannot write here, built by hand: each grants only reading
// to users, so judged as a plain allow entry it would pass.
TEST(FileTrustTest, GrantsInShapesFilesNeverCarryAreNotTrusted) {
  const UniqueLocalMemory system = Sid(L"S-1-5-18");
  const UniqueLocalMemory administrators = Sid(L"S-1-5-32-544");
  const UniqueLocalMemory users = Sid(L"S-1-5-32-545");
  const struct {
    const char* name;
    BYTE type;
    ACCESS_MASK mask;
    bool trusted;
  } rows[] = {
      {"plain allow, read", ACCESS_ALLOWED_ACE_TYPE, FILE_GENERIC_READ, true},
      // A callback entry grants when its condition holds: judged by its rights.
      {"callback allow, read", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, FILE_GENERIC_READ, true},
      {"callback allow, append", ACCESS_ALLOWED_CALLBACK_ACE_TYPE, FILE_APPEND_DATA, false},
      {"object allow, read", ACCESS_ALLOWED_OBJECT_ACE_TYPE, FILE_GENERIC_READ, false},
  };
  for (const auto& row : rows) {
    alignas(DWORD) BYTE buffer[256] = {};
    auto* dacl = reinterpret_cast<PACL>(buffer);
    ASSERT_TRUE(::InitializeAcl(dacl, sizeof(buffer), ACL_REVISION));
    ASSERT_TRUE(::AddAccessAllowedAce(dacl, ACL_REVISION, FILE_ALL_ACCESS, system.get()));
    ASSERT_TRUE(::AddAccessAllowedAce(dacl, ACL_REVISION, row.mask, users.get()));
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 1, &ace));
    static_cast<ACE_HEADER*>(ace)->AceType = row.type;
    EXPECT_EQ(
        OnlyTrustedCanChange(administrators.get(), dacl, {system.get(), administrators.get()}),
        row.trusted)
        << row.name;
  }
}

TEST(FileTrustTest, InspectionOpensWithoutFollowingLinksAndSaysWhy) {
  tarnwick::e2e::TempDir temp;
  const std::wstring folder = temp.MakeDir(L"folder");
  const std::wstring file = temp.Join(L"file.conf");
  ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(file, "x"));
  constexpr DWORD kLink = FILE_ATTRIBUTE_REPARSE_POINT;
  const struct {
    const char* name;
    std::wstring path;
    PathKind kind;
    DWORD path_link;    // added to what the path reports
    DWORD object_link;  // added to what the opened object reports
    DWORD links;        // the object's names; 0: as it is
    DWORD security_error;
    PathFault fault;
    DWORD error;
  } rows[] = {
      {"a plain file", file, PathKind::kFile, 0, 0, 0, 0, PathFault::kNone, 0},
      {"a real folder", folder, PathKind::kDirectory, 0, 0, 0, 0, PathFault::kNone, 0},
      {"a link seen only by its path", file, PathKind::kFile, kLink, 0, 0, 0,
       PathFault::kReparsePoint, 0},
      {"a link seen only by the opened object", folder, PathKind::kDirectory, 0, kLink, 0, 0,
       PathFault::kReparsePoint, 0},
      {"a folder where a file belongs", folder, PathKind::kFile, 0, 0, 0, 0, PathFault::kWrongKind,
       0},
      {"a file with a second name", file, PathKind::kFile, 0, 0, 2, 0, PathFault::kHardLinks, 0},
      {"missing", temp.Join(L"gone.conf"), PathKind::kFile, 0, 0, 0, 0, PathFault::kUnopenable,
       ERROR_FILE_NOT_FOUND},
      {"security unreadable", file, PathKind::kFile, 0, 0, 0, ERROR_ACCESS_DENIED,
       PathFault::kNoSecurity, ERROR_ACCESS_DENIED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    tarnwick::FileTrustCalls calls;
    // As Windows opens: a folder only with backup semantics, a link as
    // itself only when asked (otherwise what it points to, no link).
    DWORD flags = 0;
    calls.CreateFileW = [&](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD asked, HANDLE model) {
      flags = asked;
      if (row.kind == PathKind::kDirectory && (asked & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      return ::CreateFileW(path, access, share, security, disposition, asked, model);
    };
    calls.GetFileAttributesW = [&](LPCWSTR path) {
      const DWORD attributes = ::GetFileAttributesW(path);
      return attributes == INVALID_FILE_ATTRIBUTES ? attributes : attributes | row.path_link;
    };
    calls.GetFileInformationByHandle = [&](HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
      const BOOL ok = ::GetFileInformationByHandle(handle, info);
      if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) info->dwFileAttributes |= row.object_link;
      if (row.links != 0) info->nNumberOfLinks = row.links;
      return ok;
    };
    if (row.security_error != 0) {
      calls.GetSecurityInfo = [&](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                  PACL*, PSECURITY_DESCRIPTOR*) { return row.security_error; };
    }
    InspectedPath seen;
    EXPECT_EQ(InspectPath(row.path, row.kind, 0, &seen, calls), row.fault);
    EXPECT_EQ(seen.error, row.error);
    if (row.fault == PathFault::kNone) EXPECT_NE(seen.owner, nullptr);
  }
}

}  // namespace
