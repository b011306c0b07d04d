// The handler of the channel "com.tarnwick.vpn/tunnel": the only place where
// a request of the UI becomes an action on the tunnel. Every call gets
// exactly one answer: at once on the UI thread, except for a start or stop
// that the worker takes, which is answered from the worker once its change
// has run (or never, when the worker is stopped before it runs, as for an
// engine that ends).
#pragma once

#include <memory>

#include "embedding/method_call.h"
#include "embedding/method_result.h"
#include "service/service_manager.h"
#include "tunnel_channel/elevation_worker.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

// startTunnel, stopTunnel, getStatus and getStats; NotImplemented for any
// other name. Runs on the UI thread; calls is for the traffic counters,
// the worker stages and elevates with its own.
void HandleTunnelMethodCall(const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result, ElevationWorker& worker,
                            const TunnelChannelCalls& calls = {},
                            const ServiceCalls& service_calls = {});

}  // namespace tarnwick
