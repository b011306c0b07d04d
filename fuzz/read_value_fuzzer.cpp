// Arbitrary bytes through ReadValue, value after value until the input is
// used up: no crash, no read outside the buffer, no allocation beyond what
// the input can hold (the runner caps single allocations).
#include "embedding/byte_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

namespace tarnwick {

int FuzzReadValue(const uint8_t* data, size_t size) {
  const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
  flutter::ByteBufferStreamReader reader(data, size);
  // Every successful read consumes its type byte, so this ends; the bound
  // only guards against a reader that stops moving.
  for (size_t reads = 0; reads <= size && reader.location() < size; ++reads) {
    const size_t before = reader.location();
    const flutter::EncodableValue value = serializer.ReadValue(&reader);
    TARNWICK_FUZZ_CHECK(reader.location() > before);
    // The ordering must at least be irreflexive on anything decoded.
    TARNWICK_FUZZ_CHECK(!(value < value));
  }
  // Skipping to an alignment may pass the end, never by a full alignment.
  TARNWICK_FUZZ_CHECK(reader.location() < size + 8);
  return 0;
}

}  // namespace tarnwick

TARNWICK_FUZZ_ENTRY(tarnwick::FuzzReadValue)
