#include "embedding/method_channel.h"

#include <iostream>
#include <utility>

namespace flutter {

void MethodChannel::SetMethodCallHandler(MethodCallHandler handler) const {
  if (!handler) {
    messenger_->SetMessageHandler(name_, nullptr);
    return;
  }
  BinaryMessageHandler on_message = [handler = std::move(handler), codec = codec_, name = name_](
                                        const uint8_t* message, size_t message_size,
                                        BinaryReply reply) {
    auto result = std::make_unique<EngineMethodResult>(std::move(reply), codec);
    std::unique_ptr<MethodCall> call = codec->DecodeMethodCall(message, message_size);
    if (!call) {
      std::cerr << "Unable to construct method call from message on channel " << name << std::endl;
      // The engine still gets its one answer: the empty reply.
      result->NotImplemented();
      return;
    }
    handler(*call, std::move(result));
  };
  messenger_->SetMessageHandler(name_, std::move(on_message));
}

}  // namespace flutter
