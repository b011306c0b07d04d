// The Windows calls of the tunnel channel (configuration staging and the
// elevated self-invocation), defaulting to the real ones. Handles and
// system-allocated memory are given back by their owners, not through here.
#pragma once

#include <windows.h>

#include <sddl.h>
#include <shellapi.h>

#include "platform/calls.h"

namespace tarnwick {

struct TunnelChannelCalls {
  // Configuration staging.
  Call<decltype(::GetEnvironmentVariableW)> GetEnvironmentVariableW = ::GetEnvironmentVariableW;
  Call<decltype(::CreateDirectoryW)> CreateDirectoryW = ::CreateDirectoryW;
  Call<decltype(::GetLastError)> GetLastError = ::GetLastError;
  Call<decltype(::CreateFileW)> CreateFileW = ::CreateFileW;
  Call<decltype(::WriteFile)> WriteFile = ::WriteFile;
  Call<decltype(::FlushFileBuffers)> FlushFileBuffers = ::FlushFileBuffers;
  Call<decltype(::MoveFileExW)> MoveFileExW = ::MoveFileExW;
  Call<decltype(::DeleteFileW)> DeleteFileW = ::DeleteFileW;
  Call<decltype(::GetCurrentProcessId)> GetCurrentProcessId = ::GetCurrentProcessId;
  Call<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)>
      ConvertStringSecurityDescriptorToSecurityDescriptorW =
          ::ConvertStringSecurityDescriptorToSecurityDescriptorW;

  // Elevated self-invocation.
  Call<decltype(::GetModuleFileNameW)> GetModuleFileNameW = ::GetModuleFileNameW;
  Call<decltype(::ShellExecuteExW)> ShellExecuteExW = ::ShellExecuteExW;
  Call<decltype(::WaitForSingleObject)> WaitForSingleObject = ::WaitForSingleObject;
  Call<decltype(::GetExitCodeProcess)> GetExitCodeProcess = ::GetExitCodeProcess;
};

}  // namespace tarnwick
