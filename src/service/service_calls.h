// The Windows calls of the service subsystem (the operations, the operation
// lock, the trust checks they make, the service host and their lines),
// defaulting to the real ones. Handles are closed by their owners, not
// through this table.
#pragma once

#include <windows.h>

#include <sddl.h>

#include "platform/calls.h"
#include "platform/system_library.h"
#include "service/debug_log.h"
#include "trust/trust_calls.h"

namespace tarnwick {

inline constexpr wchar_t kKernel32[] = L"kernel32.dll";

struct ServiceCalls : TrustCalls, LineCalls {
  Call<decltype(::GetModuleFileNameW)> GetModuleFileNameW = ::GetModuleFileNameW;
  Call<decltype(::OpenSCManagerW)> OpenSCManagerW = ::OpenSCManagerW;
  Call<decltype(::CreateServiceW)> CreateServiceW = ::CreateServiceW;
  Call<decltype(::OpenServiceW)> OpenServiceW = ::OpenServiceW;
  Call<decltype(::ChangeServiceConfigW)> ChangeServiceConfigW = ::ChangeServiceConfigW;
  Call<decltype(::ChangeServiceConfig2W)> ChangeServiceConfig2W = ::ChangeServiceConfig2W;
  Call<decltype(::StartServiceW)> StartServiceW = ::StartServiceW;
  Call<decltype(::ControlService)> ControlService = ::ControlService;
  Call<decltype(::QueryServiceStatusEx)> QueryServiceStatusEx = ::QueryServiceStatusEx;
  Call<decltype(::DeleteService)> DeleteService = ::DeleteService;
  Call<decltype(::Sleep)> Sleep = ::Sleep;
  Call<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)>
      ConvertStringSecurityDescriptorToSecurityDescriptorW =
          ::ConvertStringSecurityDescriptorToSecurityDescriptorW;
  // The operation lock. Not every system offers private namespaces (some
  // answer null, where a further call may end the process), so their calls
  // are found at run time, never imported; the lock closes what it opened
  // through them.
  Call<HANDLE(LPCWSTR, ULONG)> CreateBoundaryDescriptorW =
      SystemLibraryCall<HANDLE(LPCWSTR, ULONG)>(kKernel32, "CreateBoundaryDescriptorW",
                                                static_cast<HANDLE>(nullptr));
  Call<BOOL(HANDLE*, PSID)> AddSIDToBoundaryDescriptor =
      SystemLibraryCall<BOOL(HANDLE*, PSID)>(kKernel32, "AddSIDToBoundaryDescriptor", FALSE);
  Call<HANDLE(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)> CreatePrivateNamespaceW =
      SystemLibraryCall<HANDLE(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)>(
          kKernel32, "CreatePrivateNamespaceW", static_cast<HANDLE>(nullptr));
  Call<HANDLE(LPVOID, LPCWSTR)> OpenPrivateNamespaceW = SystemLibraryCall<HANDLE(LPVOID, LPCWSTR)>(
      kKernel32, "OpenPrivateNamespaceW", static_cast<HANDLE>(nullptr));
  Call<BOOLEAN(HANDLE, ULONG)> ClosePrivateNamespace = SystemLibraryCall<BOOLEAN(HANDLE, ULONG)>(
      kKernel32, "ClosePrivateNamespace", static_cast<BOOLEAN>(FALSE));
  Call<void(HANDLE)> DeleteBoundaryDescriptor =
      SystemLibraryCall<void(HANDLE)>(kKernel32, "DeleteBoundaryDescriptor");
  Call<decltype(::CreateMutexW)> CreateMutexW = ::CreateMutexW;
  Call<decltype(::WaitForSingleObject)> WaitForSingleObject = ::WaitForSingleObject;
  Call<decltype(::ReleaseMutex)> ReleaseMutex = ::ReleaseMutex;
  // The service host.
  Call<decltype(::SetDefaultDllDirectories)> SetDefaultDllDirectories = ::SetDefaultDllDirectories;
  Call<decltype(::LoadLibraryExW)> LoadLibraryExW = ::LoadLibraryExW;
  Call<decltype(::GetProcAddress)> GetProcAddress = ::GetProcAddress;
};

}  // namespace tarnwick
