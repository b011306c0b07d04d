// Opens the channel "com.tarnwick.vpn/tunnel" on the engine's messenger with
// the tunnel method handler bound, and keeps it for the rest of the process.
#pragma once

#include "embedding/binary_messenger.h"

namespace tarnwick {

inline constexpr char kTunnelChannelName[] = "com.tarnwick.vpn/tunnel";

// Called once the view controller has its engine and view, after the
// plug-ins are registered, with the engine's messenger. A channel held from
// an earlier call is replaced; its binding stays on its own messenger.
void RegisterTunnelChannel(flutter::BinaryMessenger* messenger);

}  // namespace tarnwick
