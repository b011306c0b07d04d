// The answer to one method call, and the engine-bound implementation that
// encodes it and sends it back through the message's reply. A message is
// answered at most once: later answers are refused with a line on standard
// error, and a result destroyed unanswered warns and sends nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"

namespace flutter {

class MethodCodec;

// Answers one incoming message with (bytes, size); (null, 0) is the empty
// reply. Copyable, may be empty.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

class MethodResult {
 public:
  MethodResult() = default;
  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;
  virtual ~MethodResult() = default;

  void Success(const EncodableValue& result) { SuccessInternal(&result); }
  void Success() { SuccessInternal(nullptr); }
  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code, const std::string& error_message) {
    ErrorInternal(error_code, error_message, nullptr);
  }
  void NotImplemented() { NotImplementedInternal(); }

  // What implementations provide; a codec decoding a reply envelope calls
  // these directly. Null means no value, no details.
  virtual void SuccessInternal(const EncodableValue* result) = 0;
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const EncodableValue* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

// Sends at most one reply. Owned by one result; never copied or moved.
class ReplyManager {
 public:
  explicit ReplyManager(BinaryReply reply);
  ReplyManager(const ReplyManager&) = delete;
  ReplyManager& operator=(const ReplyManager&) = delete;
  // Warns if no answer was ever sent.
  ~ReplyManager();

  // data null or empty sends the empty reply. Refused, with a line on
  // standard error, once an answer has been sent.
  void SendResponseData(const std::vector<uint8_t>* data);

 private:
  BinaryReply reply_;
};

class EngineMethodResult : public MethodResult {
 public:
  // codec must outlive the result.
  EngineMethodResult(BinaryReply reply, const MethodCodec* codec);
  ~EngineMethodResult() override;

  void SuccessInternal(const EncodableValue* result) override;
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const EncodableValue* error_details) override;
  void NotImplementedInternal() override;

 private:
  std::unique_ptr<ReplyManager> reply_manager_;
  const MethodCodec* codec_;
};

}  // namespace flutter
