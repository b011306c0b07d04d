// The Windows calls of the tunnel channel (configuration staging, the
// elevated self-invocation and the traffic counters), defaulting to the
// real ones. Handles and system-allocated memory are given back by their
// owners, not through here.
#pragma once

#include <windows.h>

// Winsock and its address types before IP Helper, whose interface calls
// need them (one block each, so no sorting swaps them).
#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <bcrypt.h>
#include <sddl.h>
#include <shellapi.h>

#include "platform/calls.h"
#include "platform/file_trust.h"

namespace tarnwick {

struct TunnelChannelCalls : TrustCalls {
  // Configuration staging.
  Call<decltype(::GetEnvironmentVariableW)> GetEnvironmentVariableW = ::GetEnvironmentVariableW;
  Call<decltype(::CreateDirectoryW)> CreateDirectoryW = ::CreateDirectoryW;
  Call<decltype(::GetLastError)> GetLastError = ::GetLastError;
  Call<decltype(::WriteFile)> WriteFile = ::WriteFile;
  Call<decltype(::FlushFileBuffers)> FlushFileBuffers = ::FlushFileBuffers;
  Call<decltype(::MoveFileExW)> MoveFileExW = ::MoveFileExW;
  Call<decltype(::DeleteFileW)> DeleteFileW = ::DeleteFileW;
  Call<decltype(::BCryptGenRandom)> BCryptGenRandom = ::BCryptGenRandom;
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

  // Traffic counters of the tunnel's adapter.
  Call<decltype(::ConvertInterfaceAliasToLuid)> ConvertInterfaceAliasToLuid =
      ::ConvertInterfaceAliasToLuid;
  Call<decltype(::GetIfEntry2)> GetIfEntry2 = ::GetIfEntry2;
};

}  // namespace tarnwick
