#include "tunnel_channel/tunnel_channel_registration.h"

#include <memory>
#include <utility>

#include "embedding/standard_method_codec.h"
#include "tunnel_channel/tunnel_method_handler.h"

namespace tarnwick {

TunnelChannel::TunnelChannel(flutter::BinaryMessenger* messenger, HWND owner,
                             TunnelChannelCalls calls, ServiceCalls service_calls)
    : calls_(calls),
      service_calls_(std::move(service_calls)),
      worker_(owner, std::move(calls)),
      channel_(messenger, kTunnelChannelName, &flutter::StandardMethodCodec::GetInstance()) {
  // Messages come on the UI thread while the engine lives, which this
  // object outlives.
  channel_.SetMethodCallHandler(
      [this](const flutter::MethodCall& call, std::unique_ptr<flutter::MethodResult> result) {
        HandleTunnelMethodCall(call, std::move(result), worker_, calls_, service_calls_);
      });
}

}  // namespace tarnwick
