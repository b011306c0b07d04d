#include "service/operation_lock.h"

#include "platform/file_trust.h"
#include "platform/security_descriptor.h"
#include "platform/system_error.h"
#include "platform/unique_handle.h"

namespace tarnwick {

ServiceOperationLock::ServiceOperationLock(const ServiceCalls& calls) : calls_(calls) {
  const UniqueLocalMemory descriptor = SecurityDescriptorFromSddl(
      kOperationLockSddl, calls_.ConvertStringSecurityDescriptorToSecurityDescriptorW);
  if (!descriptor) {
    failure_ = Failure{
        CallFailed(L"ConvertStringSecurityDescriptorToSecurityDescriptorW", calls_.GetLastError())};
    return;
  }
  const SECURITY_ATTRIBUTES attributes = AttributesOf(descriptor);
  const std::wstring name = OpenNamespace(attributes);

  SECURITY_ATTRIBUTES mutex_attributes = attributes;
  mutex_.reset(calls_.CreateMutexW(&mutex_attributes, FALSE, name.c_str()));
  if (!mutex_) {
    // Something of another's stands at the name (access denied to a mutex
    // made by another account, or another kind of object): waiting could
    // never end, and refusing would let that account hold every change
    // hostage.
    passed_by_ = L"going on without the operation lock " + name + L": " +
                 CallFailed(L"CreateMutexW", calls_.GetLastError());
    return;
  }
  // Anyone may create an object under the global name first, and hold it
  // to keep every change waiting: only one that SYSTEM or an administrator
  // made is waited on.
  if (!OwnedByAdministrators()) {
    mutex_.reset();
    passed_by_ = L"going on without the operation lock " + name +
                 L": it was made by an account other than SYSTEM or Administrators";
    return;
  }
  // An abandoned lock was held by a copy that died mid-operation: the
  // service is in whatever state it left, which this operation handles.
  const DWORD waited = calls_.WaitForSingleObject(mutex_.get(), kServiceOperationWaitMs);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  if (waited == WAIT_TIMEOUT) {
    failure_ = Failure{L"another service operation did not end in time"};
  } else if (!held_) {
    failure_ = Failure{CallFailed(L"WaitForSingleObject", calls_.GetLastError())};
  }
}

ServiceOperationLock::~ServiceOperationLock() {
  if (held_) calls_.ReleaseMutex(mutex_.get());
  mutex_.reset();
  if (namespace_ != nullptr) (void)calls_.ClosePrivateNamespace(namespace_, 0);
  if (boundary_ != nullptr) calls_.DeleteBoundaryDescriptor(boundary_);
}

bool ServiceOperationLock::OwnedByAdministrators() const {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read =
      calls_.GetSecurityInfo(mutex_.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                             nullptr, nullptr, nullptr, &descriptor);
  const UniqueLocalMemory descriptor_owner(descriptor);
  return read == ERROR_SUCCESS && IsSystemOrAdministrators(owner);
}

std::wstring ServiceOperationLock::OpenNamespace(const SECURITY_ATTRIBUTES& attributes) {
  boundary_ = calls_.CreateBoundaryDescriptorW(kOperationNamespace, 0);
  // No private namespaces here: the global name is all there is.
  if (boundary_ == nullptr) return kOperationMutexFallbackName;

  // Only a process whose token holds every SID of the boundary can create
  // the namespace: an elevated administrator, or SYSTEM.
  const UniqueLocalMemory administrators = WellKnownSid(Principal::kAdministrators);
  if (administrators && calls_.AddSIDToBoundaryDescriptor(&boundary_, administrators.get())) {
    SECURITY_ATTRIBUTES namespace_attributes = attributes;
    namespace_ =
        calls_.CreatePrivateNamespaceW(&namespace_attributes, boundary_, kOperationNamespace);
    // Another copy made it first: it is the same namespace, by its boundary.
    if (namespace_ == nullptr && calls_.GetLastError() == ERROR_ALREADY_EXISTS) {
      namespace_ = calls_.OpenPrivateNamespaceW(boundary_, kOperationNamespace);
    }
    if (namespace_ != nullptr) return kOperationMutexName;
  }
  return kOperationMutexFallbackName;
}

}  // namespace tarnwick
