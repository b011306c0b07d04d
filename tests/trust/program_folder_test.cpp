// The program folder the SYSTEM service would run from, and the
// administrator's switch that lets a development machine do without the
// check: real files of the prefix with Windows-like owners and permissions
// scripted, the registry value through the seam.
#include "trust/program_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/paths.h"
#include "tests/support/security.h"

namespace {

using tarnwick::CheckProgramFolder;
using tarnwick::TrustCalls;

constexpr wchar_t kInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// C:\ as Windows sets it up: authenticated users may create folders there.
constexpr wchar_t kDriveRoot[] =
    L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
    L"(A;;LC;;;AU)";

std::wstring Text(const std::optional<tarnwick::Refusal>& refusal) {
  return refusal ? refusal->text : L"";
}

TEST(ProgramFolderCheckTest, ExecutableFolderAndTunnelLibraryMustBeProtected) {
  // Program Files' own descriptor, and what it passes on to the files the
  // installer writes there.
  const std::wstring program_files =
      std::wstring(L"O:") + kInstaller +
      L"D:PAI(A;OICIIO;GA;;;CO)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;BA)"
      L"(A;;0x1301bf;;;BA)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;BU)(A;CIIO;GA;;;" +
      kInstaller + L")(A;;FA;;;" + kInstaller + L")";
  const std::wstring installed = L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";

  tarnwick::e2e::TempDir root;
  const std::wstring folder = root.MakeDir(L"Tarnwick");
  const std::wstring exe = folder + L"\\tarnwick.exe";
  const std::wstring dll = folder + L"\\tunnel.dll";
  ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(exe, "MZ"));
  const struct {
    const char* name;
    std::wstring folder_sddl, exe_sddl, dll_sddl;
    bool dll_present;
    std::wstring refusal;  // empty: protected
  } rows[] = {
      {"installed under Program Files", program_files, installed, installed, true, L""},
      {"folder of SYSTEM, files of TrustedInstaller",
       L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
       std::wstring(L"O:") + kInstaller + L"D:P(A;;FA;;;" + kInstaller + L")(A;;0x1200a9;;;BU)",
       installed, true, L""},
      {"users may write the folder", program_files + L"(A;OICI;0x1301bf;;;BU)", installed,
       installed, true, folder + L" can be changed by others"},
      {"executable owned by a user", program_files, L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)",
       installed, true, exe + L" can be changed by others"},
      {"everyone may rewrite tunnel.dll", program_files, installed, installed + L"(A;;FW;;;WD)",
       true, dll + L" can be changed by others"},
      {"tunnel.dll missing", program_files, installed, installed, false,
       dll + L" cannot be opened: " + tarnwick::SystemErrorText(ERROR_FILE_NOT_FOUND)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.dll_present) {
      ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(dll, "MZ"));
    } else {
      ::DeleteFileW(dll.c_str());
    }
    TrustCalls calls;
    tarnwick::e2e::ScriptedSecurity security;
    security.Install(calls);
    security.SetDefault(kDriveRoot);  // every folder above
    security.Set(folder, row.folder_sddl);
    security.Set(exe, row.exe_sddl);
    security.Set(dll, row.dll_sddl);
    EXPECT_EQ(Text(CheckProgramFolder(exe, calls)), row.refusal);
  }
}

// Only a local fixed drive (a network drive's "Administrators" are the
// server's), judged from its root down: a folder above the program folder
// that others may delete, rename or re-permission refuses it; creating
// entries there does not.
TEST(ProgramFolderCheckTest, FoldersAboveAreJudgedFromALocalDrivesRoot) {
  const std::wstring trusted = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  tarnwick::e2e::TempDir root;
  const std::wstring parent = root.MakeDir(L"parent");
  const std::wstring folder = root.MakeDir(L"parent\\Tarnwick");
  const std::wstring exe = folder + L"\\tarnwick.exe";
  ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(exe, "MZ"));
  ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(folder + L"\\tunnel.dll", "MZ"));
  const std::wstring unc = L"\\\\server\\share\\Tarnwick\\tarnwick.exe";
  const std::wstring changed = parent + L" can be changed by others";
  const struct {
    const char* name;
    std::wstring exe, parent_sddl;
    UINT drive;
    std::wstring refusal;
    DWORD parent_link = 0;  // what the parent's path adds to its attributes
  } rows[] = {
      {"each like C:\\, where users may create folders", exe, kDriveRoot, DRIVE_FIXED, L""},
      {"the same behind \\\\?\\", L"\\\\?\\" + exe, kDriveRoot, DRIVE_FIXED, L""},
      {"users may delete the parent's entries", exe, trusted + L"(A;;0x40;;;BU)", DRIVE_FIXED,
       changed},
      {"users may rename the parent", exe, trusted + L"(A;;SD;;;BU)", DRIVE_FIXED, changed},
      {"users may re-permission it", exe, trusted + L"(A;;WD;;;BU)", DRIVE_FIXED, changed},
      {"users may take it over", exe, trusted + L"(A;;WO;;;BU)", DRIVE_FIXED, changed},
      {"users hold full control", exe, trusted + L"(A;;FA;;;BU)", DRIVE_FIXED, changed},
      {"a linked parent", exe, trusted, DRIVE_FIXED, parent + L" is a link",
       FILE_ATTRIBUTE_REPARSE_POINT},
      {"a network path", unc, trusted, DRIVE_FIXED, unc + L" is not on a local drive"},
      {"a network path behind \\\\?\\UNC\\", L"\\\\?\\UNC" + unc.substr(1), trusted, DRIVE_FIXED,
       L"\\\\?\\UNC" + unc.substr(1) + L" is not on a local drive"},
      {"a removable drive", exe, trusted, DRIVE_REMOVABLE,
       exe.substr(0, 3) + L" is not a local fixed drive"},
      {"a network drive", exe, trusted, DRIVE_REMOTE,
       exe.substr(0, 3) + L" is not a local fixed drive"},
  };
  for (const auto& row : rows) {
    TrustCalls calls;
    tarnwick::e2e::ScriptedSecurity security;
    security.Install(calls);
    security.SetDefault(kDriveRoot);
    for (const std::wstring& path : {folder, exe, folder + L"\\tunnel.dll"})
      security.Set(path, trusted);
    security.Set(parent, row.parent_sddl);
    calls.GetDriveTypeW = [&](LPCWSTR) { return row.drive; };
    calls.GetFileAttributesW = [&](LPCWSTR path) {
      const DWORD attributes = ::GetFileAttributesW(path);
      return parent == path ? attributes | row.parent_link : attributes;
    };
    EXPECT_EQ(Text(CheckProgramFolder(row.exe, calls)), row.refusal) << row.name;
  }
}

// "C:" alone is the drive's current folder: a program in a drive's root is
// judged by the root itself, first.
TEST(ProgramFolderCheckTest, ProgramInADrivesRootIsJudgedByTheRoot) {
  TrustCalls calls;
  tarnwick::e2e::ScriptedSecurity security;
  security.Install(calls);
  (void)CheckProgramFolder(L"C:\\tarnwick.exe", calls);
  ASSERT_FALSE(security.opened().empty());
  EXPECT_EQ(security.opened().front(), L"C:\\");
}

TEST(ProgramFolderCheckTest, OnlyADwordOneSwitchesTheCheckOff) {
  const struct {
    const char* name;
    LSTATUS status;
    DWORD type;
    std::vector<BYTE> data;
    bool allowed;
  } rows[] = {
      {"absent", ERROR_FILE_NOT_FOUND, REG_NONE, {}, false},
      {"REG_DWORD 1", ERROR_SUCCESS, REG_DWORD, {1, 0, 0, 0}, true},
      {"REG_DWORD 0", ERROR_SUCCESS, REG_DWORD, {0, 0, 0, 0}, false},
      {"REG_SZ \"1\", as long as a DWORD", ERROR_SUCCESS, REG_SZ, {'1', 0, 0, 0}, false},
      {"REG_QWORD 1", ERROR_SUCCESS, REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false},
      {"REG_BINARY 01 00 00 00, the bytes of a DWORD 1",
       ERROR_SUCCESS,
       REG_BINARY,
       {1, 0, 0, 0},
       false},
  };
  for (const auto& row : rows) {
    TrustCalls calls;
    calls.RegGetValueW = [&](HKEY key, LPCWSTR subkey, LPCWSTR value, DWORD flags, LPDWORD type,
                             PVOID data, LPDWORD size) -> LSTATUS {
      EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
      EXPECT_STREQ(subkey, tarnwick::kPolicyKey);
      EXPECT_STREQ(value, tarnwick::kAllowUnprotectedProgramFolderValue);
      // Any type is asked for: the caller judges it.
      EXPECT_EQ(flags, static_cast<DWORD>(RRF_RT_ANY));
      if (row.status != ERROR_SUCCESS) return row.status;
      if (type != nullptr) *type = row.type;
      const DWORD needed = static_cast<DWORD>(row.data.size());
      const bool fits = data != nullptr && *size >= needed;
      if (fits) std::memcpy(data, row.data.data(), needed);
      *size = needed;
      return fits || data == nullptr ? ERROR_SUCCESS : ERROR_MORE_DATA;
    };
    EXPECT_EQ(tarnwick::UnprotectedProgramFolderAllowed(calls), row.allowed) << row.name;
  }
}

}  // namespace
