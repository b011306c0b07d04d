// The tunnel configuration's fixed place: "<PROGRAMDATA>\Tarnwick\tarnwick.conf",
// written by the unelevated interactive process and read by path by the
// elevated helper and the service. Failure is an empty path, never a message.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <string>

// The folder "<PROGRAMDATA>\Tarnwick", created if missing; empty on failure.
[[nodiscard]] std::wstring GetProgramDataDirectory();

// Writes the UTF-8 text, byte for byte, to tarnwick.conf in that folder and
// returns the file's full path; empty on failure, with any previous
// tarnwick.conf left as it was.
[[nodiscard]] std::wstring WriteTunnelConfig(const std::string& config);

namespace tarnwick {

// The Windows calls of configuration staging, replaceable by tests.
struct ConfigStagingCalls {
  decltype(&::GetEnvironmentVariableW) GetEnvironmentVariableW = ::GetEnvironmentVariableW;
  decltype(&::CreateDirectoryW) CreateDirectoryW = ::CreateDirectoryW;
  decltype(&::GetLastError) GetLastError = ::GetLastError;
  decltype(&::CreateFileW) CreateFileW = ::CreateFileW;
  decltype(&::WriteFile) WriteFile = ::WriteFile;
  decltype(&::FlushFileBuffers) FlushFileBuffers = ::FlushFileBuffers;
  decltype(&::CloseHandle) CloseHandle = ::CloseHandle;
  decltype(&::MoveFileExW) MoveFileExW = ::MoveFileExW;
  decltype(&::DeleteFileW) DeleteFileW = ::DeleteFileW;
  decltype(&::GetCurrentProcessId) GetCurrentProcessId = ::GetCurrentProcessId;
  decltype(&::ConvertStringSecurityDescriptorToSecurityDescriptorW)
      ConvertStringSecurityDescriptorToSecurityDescriptorW =
          ::ConvertStringSecurityDescriptorToSecurityDescriptorW;
  decltype(&::LocalFree) LocalFree = ::LocalFree;
};

// The configuration holds the tunnel's private key, and ProgramData lets
// every local user read what an unprivileged process creates there. So the
// file admits only the service (SYSTEM), administrators (the elevated
// helper) and its owner, and a folder made here passes the same on.
inline constexpr wchar_t kConfigFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";
inline constexpr wchar_t kConfigFolderSddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)";

[[nodiscard]] std::wstring GetProgramDataDirectory(const ConfigStagingCalls& calls);
[[nodiscard]] std::wstring WriteTunnelConfig(const std::string& config,
                                             const ConfigStagingCalls& calls);

}  // namespace tarnwick
