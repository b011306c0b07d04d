// The Windows calls of the uninstall's removal of the data folder, defaulting
// to the real ones. Handles are closed by their owners, not through this
// table.
#pragma once

#include <windows.h>

#include <winternl.h>

#include "platform/calls.h"
#include "platform/random_name.h"
#include "platform/system_library.h"
#include "service/debug_log.h"
#include "trust/trust_calls.h"

namespace tarnwick {

inline constexpr wchar_t kNtdll[] = L"ntdll.dll";
// What a native call gives when ntdll.dll has no such export.
inline constexpr NTSTATUS kStatusProcedureNotFound = static_cast<NTSTATUS>(0xC000007AL);

// The native calls by their documented signatures. The file information
// class is passed as its number: the SDK's enumeration names only the first.
using NtCreateFileFunction = NTSTATUS(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                      LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
using NtSetInformationFileFunction = NTSTATUS(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
using RtlNtStatusToDosErrorFunction = ULONG(NTSTATUS);

struct UninstallCalls : TrustCalls, LineCalls {
  // Only an elevated copy removes anything.
  Call<decltype(::OpenProcessToken)> OpenProcessToken = ::OpenProcessToken;
  Call<decltype(::GetTokenInformation)> GetTokenInformation = ::GetTokenInformation;
  // The upgrade's marker and its age.
  Call<decltype(::RegOpenKeyExW)> RegOpenKeyExW = ::RegOpenKeyExW;
  Call<decltype(::RegQueryInfoKeyW)> RegQueryInfoKeyW = ::RegQueryInfoKeyW;
  Call<decltype(::RegDeleteValueW)> RegDeleteValueW = ::RegDeleteValueW;
  Call<decltype(::GetSystemTimeAsFileTime)> GetSystemTimeAsFileTime = ::GetSystemTimeAsFileTime;
  // Entries opened and moved relative to their folder's handle, by name:
  // the documented Win32 calls take only paths, which are resolved anew
  // through every folder on them. Found in ntdll.dll at run time.
  Call<NtCreateFileFunction> NtCreateFile =
      SystemLibraryCall<NtCreateFileFunction>(kNtdll, "NtCreateFile", kStatusProcedureNotFound);
  Call<NtSetInformationFileFunction> NtSetInformationFile =
      SystemLibraryCall<NtSetInformationFileFunction>(kNtdll, "NtSetInformationFile",
                                                      kStatusProcedureNotFound);
  Call<RtlNtStatusToDosErrorFunction> RtlNtStatusToDosError =
      SystemLibraryCall<RtlNtStatusToDosErrorFunction>(kNtdll, "RtlNtStatusToDosError",
                                                       static_cast<ULONG>(ERROR_PROC_NOT_FOUND));
  // Listing a folder and deleting through a handle.
  Call<decltype(::GetFileInformationByHandleEx)> GetFileInformationByHandleEx =
      ::GetFileInformationByHandleEx;
  Call<decltype(::SetFileInformationByHandle)> SetFileInformationByHandle =
      ::SetFileInformationByHandle;
  // What must wait for a restart: the quarantine's name and the schedule.
  GenRandomCall BCryptGenRandom = SystemGenRandom();
  Call<decltype(::MoveFileExW)> MoveFileExW = ::MoveFileExW;
};

}  // namespace tarnwick
