// The channel "com.tarnwick.vpn/tunnel" on the engine's messenger with the
// tunnel method handler bound, and the worker that runs its elevated
// copies. Owned by the window that hosts the engine.
#pragma once

#include "embedding/binary_messenger.h"
#include "embedding/method_channel.h"
#include "service/service_manager.h"
#include "tunnel_channel/elevation_worker.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

inline constexpr char kTunnelChannelName[] = "com.tarnwick.vpn/tunnel";

class TunnelChannel {
 public:
  // Binds the handler on the messenger, once the view controller has its
  // engine and view and the plug-ins are registered. Prompts belong to the
  // window owner. The binding stays on the messenger for the engine's life,
  // so this object must outlive the engine.
  TunnelChannel(flutter::BinaryMessenger* messenger, HWND owner, TunnelChannelCalls calls = {},
                ServiceCalls service_calls = {});
  // Waits for an elevated copy still running (ElevationWorker).
  ~TunnelChannel() = default;

  TunnelChannel(const TunnelChannel&) = delete;
  TunnelChannel& operator=(const TunnelChannel&) = delete;

  // For the window's end: tunnel changes not yet started are dropped
  // unanswered, the running one goes on. Does not wait.
  void StopChanges() { worker_.Stop(); }

 private:
  const TunnelChannelCalls calls_;
  const ServiceCalls service_calls_;
  ElevationWorker worker_;
  flutter::MethodChannel channel_;
};

}  // namespace tarnwick
