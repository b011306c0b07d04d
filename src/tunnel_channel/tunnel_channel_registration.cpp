#include "tunnel_channel/tunnel_channel_registration.h"

#include <memory>

#include "embedding/method_channel.h"
#include "embedding/standard_method_codec.h"
#include "tunnel_channel/tunnel_method_handler.h"

namespace tarnwick {
namespace {

// The process-wide holder: made on first use (thread-safe, and that is also
// when its exit-time destruction is registered). At exit it destroys only
// the channel object; by then the messenger and engine may be gone, and the
// channel never calls them from its destructor.
std::unique_ptr<flutter::MethodChannel>& TunnelChannelHolder() {
  static std::unique_ptr<flutter::MethodChannel> holder;
  return holder;
}

}  // namespace

void RegisterTunnelChannel(flutter::BinaryMessenger* messenger) {
  std::unique_ptr<flutter::MethodChannel>& holder = TunnelChannelHolder();
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  holder = std::make_unique<flutter::MethodChannel>(messenger, kTunnelChannelName, &codec);
  holder->SetMethodCallHandler(
      [](const flutter::MethodCall& call, std::unique_ptr<flutter::MethodResult> result) {
        HandleTunnelMethodCall(call, std::move(result));
      });
}

}  // namespace tarnwick
