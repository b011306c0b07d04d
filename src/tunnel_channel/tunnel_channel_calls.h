// The Windows calls of the tunnel channel (configuration staging, the
// elevated self-invocation and its worker thread), defaulting to the real
// ones. Handles and
// system-allocated memory are given back by their owners, not through here.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
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
  // The worker thread that runs the elevations.
  Call<decltype(::CoInitializeEx)> CoInitializeEx = ::CoInitializeEx;
  Call<decltype(::CoUninitialize)> CoUninitialize = ::CoUninitialize;
};

}  // namespace tarnwick
