// Arbitrary bytes as a reply envelope. An error envelope with a code that
// is not a string, or a message that is neither null nor a string, throws
// std::bad_variant_access by design; that alone is caught.
#include <variant>

#include "embedding/method_result.h"
#include "embedding/standard_method_codec.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

namespace tarnwick {
namespace {

class CountingResult : public flutter::MethodResult {
 public:
  int answers = 0;
  void SuccessInternal(const flutter::EncodableValue*) override { ++answers; }
  void ErrorInternal(const std::string&, const std::string&,
                     const flutter::EncodableValue*) override {
    ++answers;
  }
  void NotImplementedInternal() override { ++answers; }
};

}  // namespace

int FuzzDecodeResponseEnvelope(const uint8_t* data, size_t size) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  CountingResult result;
  bool is_envelope = false;
  try {
    is_envelope = codec.DecodeResponseEnvelope(data, size, &result);
  } catch (const std::bad_variant_access&) {
    TARNWICK_FUZZ_CHECK(size > 0 && data[0] == 1);
    TARNWICK_FUZZ_CHECK(result.answers == 0);
    return 0;
  }
  // Only the first byte decides, and an envelope is answered exactly once.
  TARNWICK_FUZZ_CHECK(is_envelope == (size == 0 || data[0] <= 1));
  TARNWICK_FUZZ_CHECK(result.answers == (is_envelope ? 1 : 0));
  return 0;
}

}  // namespace tarnwick

TARNWICK_FUZZ_ENTRY(tarnwick::FuzzDecodeResponseEnvelope)
