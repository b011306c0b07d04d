// Every change to the tunnel service needs administrator rights, which the
// interactive process lacks: a second copy of this executable is started
// with the shell's "runas" verb (the user confirms each time) and a
// service-control switch, and what happened is reduced to three outcomes.
#pragma once

#include <string>

#include "platform/unique_handle.h"
#include "service/service_manager.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

enum ElevationOutcome : int { kSucceeded = 0, kCancelled = 1, kFailed = 2 };

// How long the elevated copy may run before the caller gives up on it.
constexpr DWORD kElevatedHelperTimeoutMs = 20000;

// The elevated copy's own waits fit inside that, with room for the process
// to start and for its checks and calls to the service manager: a change
// that completes is never answered as failed.
constexpr DWORD kElevatedCopyOverheadMs = 3000;
static_assert(kInstallWaitBudgetMs + kElevatedCopyOverheadMs < kElevatedHelperTimeoutMs,
              "an install may outlast the interactive copy's wait");
static_assert(kRemoveWaitBudgetMs + kElevatedCopyOverheadMs < kElevatedHelperTimeoutMs,
              "a removal may outlast the interactive copy's wait");

// What one elevated copy leaves for the next: a copy still running when its
// wait ran out may still be changing the service.
struct ElevationState {
  UniqueKernelHandle unfinished_copy;
};

// Starts this executable elevated with the parameters as given (a caller
// quotes any path itself), its prompt owned by the window owner (may be
// null), and waits for it at most kElevatedHelperTimeoutMs. While a copy
// kept in state still runs, fails without starting another; empty
// parameters (no switch) fail without starting one.
[[nodiscard]] ElevationOutcome RunSelfElevated(const std::wstring& parameters, HWND owner,
                                               ElevationState& state,
                                               const TunnelChannelCalls& calls = {});

}  // namespace tarnwick
