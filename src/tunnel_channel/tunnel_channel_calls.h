// The Windows calls of the tunnel channel (configuration staging, the
// elevated self-invocation and its worker thread, the traffic counters),
// defaulting to the real ones. Handles and system-allocated memory are given
// back by their owners, not through here.
#pragma once

#include <windows.h>

// Winsock and its address types before IP Helper, whose interface calls
// need them (one block each, so no sorting swaps them).
#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <bcrypt.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

#include "platform/calls.h"
#include "platform/random_name.h"
#include "platform/system_library.h"
#include "trust/trust_calls.h"

namespace tarnwick {

struct TunnelChannelCalls : TrustCalls {
  // Configuration staging (the folder's location comes from the trust
  // module's known-folder call).
  Call<decltype(::CreateDirectoryW)> CreateDirectoryW = ::CreateDirectoryW;
  Call<decltype(::WriteFile)> WriteFile = ::WriteFile;
  Call<decltype(::FlushFileBuffers)> FlushFileBuffers = ::FlushFileBuffers;
  Call<decltype(::MoveFileExW)> MoveFileExW = ::MoveFileExW;
  Call<decltype(::DeleteFileW)> DeleteFileW = ::DeleteFileW;
  GenRandomCall BCryptGenRandom = SystemGenRandom();
  Call<decltype(::OpenProcessToken)> OpenProcessToken = ::OpenProcessToken;
  Call<decltype(::GetTokenInformation)> GetTokenInformation = ::GetTokenInformation;
  Call<decltype(::SetSecurityInfo)> SetSecurityInfo = ::SetSecurityInfo;
  Call<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)>
      ConvertStringSecurityDescriptorToSecurityDescriptorW =
          ::ConvertStringSecurityDescriptorToSecurityDescriptorW;

  // Elevated self-invocation.
  Call<decltype(::GetModuleFileNameW)> GetModuleFileNameW = ::GetModuleFileNameW;
  Call<decltype(::ShellExecuteExW)> ShellExecuteExW = ::ShellExecuteExW;
  Call<decltype(::WaitForSingleObject)> WaitForSingleObject = ::WaitForSingleObject;
  Call<decltype(::GetExitCodeProcess)> GetExitCodeProcess = ::GetExitCodeProcess;

  // Traffic counters of the tunnel's adapter. iphlpapi.dll is not a known
  // DLL either: taken from System32 only.
  Call<decltype(::ConvertInterfaceAliasToLuid)> ConvertInterfaceAliasToLuid =
      SystemLibraryCall<decltype(::ConvertInterfaceAliasToLuid)>(
          L"iphlpapi.dll", "ConvertInterfaceAliasToLuid", NETIO_STATUS{ERROR_MOD_NOT_FOUND});
  Call<decltype(::GetIfEntry2)> GetIfEntry2 = SystemLibraryCall<decltype(::GetIfEntry2)>(
      L"iphlpapi.dll", "GetIfEntry2", NETIO_STATUS{ERROR_MOD_NOT_FOUND});

  // The worker thread that runs the elevations.
  Call<decltype(::CoInitializeEx)> CoInitializeEx = ::CoInitializeEx;
  Call<decltype(::CoUninitialize)> CoUninitialize = ::CoUninitialize;
};

}  // namespace tarnwick
