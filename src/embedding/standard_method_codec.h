// The method codec over the standard message format: a call is the method
// name then the arguments; a reply is 0 then the result, or 1 then code,
// message and details.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_codec.h"
#include "embedding/standard_codec_serializer.h"

namespace flutter {

class StandardMethodCodec : public MethodCodec {
 public:
  // The one codec bound to serializer (null: the process-wide serializer).
  // Codecs live until the process ends, so the reference stays valid.
  static const StandardMethodCodec& GetInstance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

  std::unique_ptr<MethodCall> DecodeMethodCall(const uint8_t* message,
                                               size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall& call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  // An error envelope whose code is not a string, or whose message is
  // neither null nor a string, throws std::bad_variant_access before result
  // is touched.
  bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                              MethodResult* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter
