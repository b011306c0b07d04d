// The machine-wide lock that makes elevated copies change the service one
// at a time. It lives in a private namespace bounded by the Administrators
// group, where no other account can create or hold it first; where the
// system offers no private namespace it is a mutex in Global\. Only SYSTEM
// and administrators may open it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/system_error.h"
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

  // Why the operation must not go on (the lock was not had in time, or
  // could not be made); nothing when it may.
  [[nodiscard]] const std::optional<Failure>& failure() const { return failure_; }
  // Why the operation goes on without the lock: a lock object of someone
  // else's stands at its name, which is passed by (the user's change is
  // neither refused for it nor kept waiting on it). For a warning line.
  [[nodiscard]] const std::optional<std::wstring>& passed_by() const { return passed_by_; }

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
  std::optional<Failure> failure_;
  std::optional<std::wstring> passed_by_;
};

}  // namespace tarnwick
