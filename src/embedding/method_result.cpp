#include "embedding/method_result.h"

#include <iostream>
#include <utility>

#include "embedding/method_codec.h"

namespace flutter {

ReplyManager::ReplyManager(BinaryReply reply) : reply_(std::move(reply)) {}

ReplyManager::~ReplyManager() {
  // Nothing is sent in place of the missing answer: the engine's handle for
  // that message stays unanswered.
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory "
                 "leak."
              << std::endl;
  }
}

void ReplyManager::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be "
                 "called,"
              << " and it can be called exactly once. Ignoring duplicate "
                 "result."
              << std::endl;
    return;
  }
  const bool has_bytes = data != nullptr && !data->empty();
  const uint8_t* bytes = has_bytes ? data->data() : nullptr;
  const size_t size = has_bytes ? data->size() : 0;
  reply_(bytes, size);
  // Releases what the reply holds (for the messenger's reply, its messenger
  // reference and response handle) and marks this result answered.
  reply_ = nullptr;
}

EngineMethodResult::EngineMethodResult(BinaryReply reply, const MethodCodec* codec)
    : reply_manager_(std::make_unique<ReplyManager>(std::move(reply))), codec_(codec) {}

EngineMethodResult::~EngineMethodResult() = default;

// Encoding comes before the once-only test, so a duplicate answer is still
// encoded and then refused.
void EngineMethodResult::SuccessInternal(const EncodableValue* result) {
  const auto envelope = codec_->EncodeSuccessEnvelope(result);
  reply_manager_->SendResponseData(envelope.get());
}

void EngineMethodResult::ErrorInternal(const std::string& error_code,
                                       const std::string& error_message,
                                       const EncodableValue* error_details) {
  const auto envelope = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
  reply_manager_->SendResponseData(envelope.get());
}

void EngineMethodResult::NotImplementedInternal() { reply_manager_->SendResponseData(nullptr); }

}  // namespace flutter
