// The machine-wide lock that makes elevated copies change the service one
// at a time. It lives in a private namespace bounded by the Administrators
// group, where no other account can create or hold it first; where the
// system offers no private namespace it is a mutex in Global\. Only SYSTEM
// and administrators may open it.
#pragma once

#include <windows.h>

#include <string>

#include "platform/tunnel_identity.h"
#include "platform/unique_handle.h"
#include "service/service_calls.h"

namespace tarnwick {

// Owned by Administrators, whether SYSTEM or an elevated administrator
// makes it: a lock object of any other owner is not ours.
inline constexpr wchar_t kOperationLockSddl[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// How long a copy waits for the one before it.
constexpr DWORD kServiceOperationWaitMs = 3000;

// Held while it lives, when it could be had.
class ServiceOperationLock {
 public:
  explicit ServiceOperationLock(const ServiceCalls& calls);
  ~ServiceOperationLock();
  ServiceOperationLock(const ServiceOperationLock&) = delete;
  ServiceOperationLock& operator=(const ServiceOperationLock&) = delete;

  // Whether the operation may go on: the lock is held, or a lock object of
  // someone else's stands at its name, which is passed by (the user's
  // change is not refused for it, nor kept waiting on it).
  [[nodiscard]] bool proceed() const { return held_ || bypassed_; }
  // Why it is not held; empty when it is.
  [[nodiscard]] const std::wstring& why() const { return why_; }

 private:
  // The mutex's name: in the private namespace when the system offers one.
  std::wstring OpenNamespace(const SECURITY_ATTRIBUTES& attributes);
  // Whether the mutex is owned by SYSTEM or Administrators.
  bool OwnedByAdministrators() const;

  const ServiceCalls& calls_;
  HANDLE boundary_ = nullptr;
  HANDLE namespace_ = nullptr;
  UniqueKernelHandle mutex_;
  bool held_ = false;
  bool bypassed_ = false;
  std::wstring why_;
};

}  // namespace tarnwick
