// The tunnel service (kTunnelServiceName) as the real service control
// manager sees it, for tests that install it through the product, and its
// removal whatever state a failed test left it in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/tunnel_identity.h"
namespace tarnwick::e2e {

struct TunnelServiceInfo {
  bool exists = false;
  // From the status query.
  DWORD state = 0;
  DWORD win32_exit_code = 0;
  DWORD service_exit_code = 0;
  DWORD process_id = 0;
  // From the stored configuration.
  DWORD service_type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::wstring binary_path;
  std::wstring display_name;
  std::wstring account;
  std::vector<std::wstring> dependencies;
};

[[nodiscard]] TunnelServiceInfo QueryTunnelService();

// Poll the manager every few milliseconds; true when reached in time.
[[nodiscard]] bool WaitForTunnelServiceState(DWORD state, DWORD timeout_ms);
[[nodiscard]] bool WaitForTunnelServiceGone(DWORD timeout_ms);

// Stops the service (ending its process if it will not stop), deletes it and
// waits until the manager has forgotten it. True when it is gone.
bool RemoveTunnelService(DWORD timeout_ms = 15000);

// Removes the service when the scope ends, also when a test fails early.
class TunnelServiceCleanup {
 public:
  TunnelServiceCleanup() = default;
  ~TunnelServiceCleanup() { RemoveTunnelService(); }
  TunnelServiceCleanup(const TunnelServiceCleanup&) = delete;
  TunnelServiceCleanup& operator=(const TunnelServiceCleanup&) = delete;
};

}  // namespace tarnwick::e2e
