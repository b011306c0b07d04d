// Decode, encode, decode, encode: whatever the reader makes of arbitrary
// bytes, the writer's encoding of it must read back to the same value and
// encode to the same bytes, with no diagnostic on the way.
#include <iostream>
#include <streambuf>
#include <vector>

#include "embedding/byte_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"

namespace tarnwick {
namespace {

// Counts what is written to std::cerr while it is installed, passing
// nothing on.
class DiagnosticCounter : public std::streambuf {
 public:
  DiagnosticCounter() : previous_(std::cerr.rdbuf(this)) {}
  ~DiagnosticCounter() override { std::cerr.rdbuf(previous_); }
  size_t characters = 0;

 protected:
  int_type overflow(int_type c) override {
    ++characters;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize count) override {
    characters += static_cast<size_t>(count);
    return count;
  }

 private:
  std::streambuf* previous_;
};

std::vector<uint8_t> Encode(const flutter::EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

}  // namespace

int FuzzRoundTrip(const uint8_t* data, size_t size) {
  const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
  flutter::ByteBufferStreamReader reader(data, size);
  const flutter::EncodableValue first = serializer.ReadValue(&reader);
  const std::vector<uint8_t> encoded = Encode(first);

  DiagnosticCounter diagnostics;
  flutter::ByteBufferStreamReader again(encoded.data(), encoded.size());
  const flutter::EncodableValue second = serializer.ReadValue(&again);
  TARNWICK_FUZZ_CHECK(diagnostics.characters == 0);
  TARNWICK_FUZZ_CHECK(again.location() == encoded.size());
  TARNWICK_FUZZ_CHECK(!(first < second) && !(second < first));
  TARNWICK_FUZZ_CHECK(Encode(second) == encoded);
  return 0;
}

}  // namespace tarnwick

TARNWICK_FUZZ_ENTRY(tarnwick::FuzzRoundTrip)
