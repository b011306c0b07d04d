#include "embedding/standard_method_codec.h"

#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "embedding/byte_streams.h"
#include "embedding/method_result.h"

namespace flutter {

namespace {

// One codec per serializer, for the life of the process. Never destroyed,
// so a codec reference stays valid even in exit-time handlers. Guarded,
// because GetInstance may be reached from any thread that opens a channel.
struct CodecRegistry {
  std::mutex lock;
  std::map<const StandardCodecSerializer*, std::unique_ptr<StandardMethodCodec>> codecs;
};

CodecRegistry& Registry() {
  static CodecRegistry* registry = new CodecRegistry();
  return *registry;
}

// Envelope markers: the first byte of every reply.
constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::GetInstance();
  }
  CodecRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto found = registry.codecs.find(serializer);
  if (found == registry.codecs.end()) {
    std::unique_ptr<StandardMethodCodec> codec(new StandardMethodCodec(serializer));
    found = registry.codecs.emplace(serializer, std::move(codec)).first;
  }
  return *found->second;
}

StandardMethodCodec::StandardMethodCodec(const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall> StandardMethodCodec::DecodeMethodCall(const uint8_t* message,
                                                                  size_t message_size) const {
  ByteBufferStreamReader reader(message, message_size);
  EncodableValue name = serializer_->ReadValue(&reader);
  std::string* method_name = std::get_if<std::string>(&name);
  if (method_name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string." << std::endl;
    return nullptr;
  }
  // A message that ends after the name reads null arguments here. Bytes
  // after the arguments are ignored.
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&reader));
  return std::make_unique<MethodCall>(std::move(*method_name), std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall& call) const {
  const EncodableValue name(call.method_name());
  const EncodableValue no_arguments;
  auto message = std::make_unique<std::vector<uint8_t>>();
  internal::AppendMessage(*serializer_, std::nullopt,
                          {&name, call.arguments() != nullptr ? call.arguments() : &no_arguments},
                          message.get());
  return message;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(
    const EncodableValue* result) const {
  const EncodableValue no_result;
  auto envelope = std::make_unique<std::vector<uint8_t>>();
  internal::AppendMessage(*serializer_, kSuccessEnvelope, {result != nullptr ? result : &no_result},
                          envelope.get());
  return envelope;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  // An empty message and absent details both go as null.
  const EncodableValue code(error_code);
  const EncodableValue message =
      error_message.empty() ? EncodableValue() : EncodableValue(error_message);
  const EncodableValue no_details;
  auto envelope = std::make_unique<std::vector<uint8_t>>();
  internal::AppendMessage(*serializer_, kErrorEnvelope,
                          {&code, &message, error_details != nullptr ? error_details : &no_details},
                          envelope.get());
  return envelope;
}

bool StandardMethodCodec::DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                                 MethodResult* result) const {
  ByteBufferStreamReader reader(response, response_size);
  // An empty response reads 0 here (reported) and goes on as a success.
  switch (reader.ReadByte()) {
    case kSuccessEnvelope: {
      const EncodableValue value = serializer_->ReadValue(&reader);
      result->SuccessInternal(value.IsNull() ? nullptr : &value);
      return true;
    }
    case kErrorEnvelope: {
      const EncodableValue code = serializer_->ReadValue(&reader);
      const EncodableValue message = serializer_->ReadValue(&reader);
      const EncodableValue details = serializer_->ReadValue(&reader);
      // Checked access: a code that is not a string, or a message that is
      // neither null nor a string, throws before result is touched.
      static const std::string kNoMessage;
      const std::string& message_text =
          message.IsNull() ? kNoMessage : std::get<std::string>(message);
      const std::string& code_text = std::get<std::string>(code);
      result->ErrorInternal(code_text, message_text, details.IsNull() ? nullptr : &details);
      return true;
    }
    default: return false;
  }
}

}  // namespace flutter
