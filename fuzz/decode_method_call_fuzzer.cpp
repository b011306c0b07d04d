// Arbitrary bytes as an incoming method call, as the method channel
// decodes every message from the engine.
#include "embedding/standard_method_codec.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

namespace tarnwick {

int FuzzDecodeMethodCall(const uint8_t* data, size_t size) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  const auto call = codec.DecodeMethodCall(data, size);
  if (call == nullptr) return 0;
  // A decoded call always owns its arguments, and encodes again.
  TARNWICK_FUZZ_CHECK(call->arguments() != nullptr);
  const auto again = codec.EncodeMethodCall(*call);
  const auto twice = codec.DecodeMethodCall(again->data(), again->size());
  TARNWICK_FUZZ_CHECK(twice != nullptr);
  TARNWICK_FUZZ_CHECK(twice->method_name() == call->method_name());
  return 0;
}

}  // namespace tarnwick

TARNWICK_FUZZ_ENTRY(tarnwick::FuzzDecodeMethodCall)
