// Every change to the tunnel service needs administrator rights, which the
// interactive process lacks: a second copy of this executable is started
// with the shell's "runas" verb (the user confirms each time) and a
// service-control switch, and what happened is reduced to three outcomes.
#pragma once

#include <string>

#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

enum ElevationOutcome : int { kSucceeded = 0, kCancelled = 1, kFailed = 2 };

// How long the elevated copy may run before the caller gives up on it.
constexpr DWORD kElevatedHelperTimeoutMs = 20000;

// Starts this executable elevated with the parameters as given (a caller
// quotes any path itself) and waits for it at most kElevatedHelperTimeoutMs.
[[nodiscard]] ElevationOutcome RunSelfElevated(const std::wstring& parameters,
                                               const TunnelChannelCalls& calls = {});

}  // namespace tarnwick
