// The handler of the channel "com.tarnwick.vpn/tunnel": the only place where
// a request of the UI becomes an action on the tunnel. Every call gets
// exactly one answer before the handler returns.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "embedding/method_call.h"
#include "embedding/method_result.h"
#include "tunnel_channel/elevation.h"

// startTunnel, stopTunnel, getStatus and getStats; NotImplemented for any
// other name.
void HandleTunnelMethodCall(const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result);

namespace tarnwick {

// What the handler does to the machine, replaceable by tests; defaults to
// the real operations.
struct TunnelOperations {
  std::function<std::wstring(const std::string& config)> WriteTunnelConfig;
  std::function<ElevationOutcome(const std::wstring& parameters)> RunSelfElevated;
  std::function<bool()> IsTunnelRunning;

  TunnelOperations();
};

void HandleTunnelMethodCall(const TunnelOperations& operations,
                            const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result);

}  // namespace tarnwick
