// Frames method calls and reply envelopes as bytes. A codec keeps no state;
// every operation is const and may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"

namespace flutter {

class MethodResult;

class MethodCodec {
 public:
  MethodCodec() = default;
  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;
  virtual ~MethodCodec() = default;

  // Null when the message is not a method call.
  virtual std::unique_ptr<MethodCall> DecodeMethodCall(const uint8_t* message,
                                                       size_t message_size) const = 0;

  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall& call) const = 0;

  // result may be null: a success without a value.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result) const = 0;

  // An empty message and null details are left out of the envelope.
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const = 0;

  // Hands a decoded reply envelope to result; false (result untouched) when
  // the bytes are not an envelope.
  virtual bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                      MethodResult* result) const = 0;
};

}  // namespace flutter
