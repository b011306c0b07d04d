// The handler of the channel "com.tarnwick.vpn/tunnel": the only place where
// a request of the UI becomes an action on the tunnel. Every call gets
// exactly one answer before the handler returns.
#pragma once

#include <memory>

#include "embedding/method_call.h"
#include "embedding/method_result.h"
#include "service/service_manager.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

// startTunnel, stopTunnel, getStatus and getStats; NotImplemented for any
// other name.
void HandleTunnelMethodCall(const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result,
                            const TunnelChannelCalls& calls = {},
                            const ServiceCalls& service_calls = {});

}  // namespace tarnwick
