// Opens the channel "com.tarnwick.vpn/tunnel" on the engine's messenger with
// the tunnel method handler bound, and keeps it for the rest of the process.
#pragma once

#include "embedding/binary_messenger.h"
#include "embedding/flutter_engine.h"

// Called once the view controller has its engine and view, after the
// plug-ins are registered.
void RegisterTunnelChannel(flutter::FlutterEngine* engine);

namespace tarnwick {

inline constexpr char kTunnelChannelName[] = "com.tarnwick.vpn/tunnel";

// The same on a given messenger. A channel held from an earlier call is
// replaced; its binding stays on its own messenger.
void RegisterTunnelChannel(flutter::BinaryMessenger* messenger);

}  // namespace tarnwick
