// The fuzz targets over the codec layer, callable without libFuzzer so an
// ordinary test can replay regression inputs through them. Each returns 0
// and aborts the process when an invariant breaks.
#ifndef TARNWICK_FUZZ_FUZZ_TARGETS_H_
#define TARNWICK_FUZZ_FUZZ_TARGETS_H_

#include <cstddef>
#include <cstdint>

namespace tarnwick {

int FuzzReadValue(const uint8_t* data, size_t size);
int FuzzDecodeMethodCall(const uint8_t* data, size_t size);
int FuzzDecodeResponseEnvelope(const uint8_t* data, size_t size);
int FuzzRoundTrip(const uint8_t* data, size_t size);

}  // namespace tarnwick

// Built as a libFuzzer program, a target file also defines the entry point
// and keeps the codec's diagnostic lines off the terminal.
#ifdef TARNWICK_FUZZ_MAIN
#include <iostream>
#include <streambuf>

namespace tarnwick {
// Swallows the codec's diagnostic lines whole, not a character at a time.
class DiscardingStreambuf : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};
}  // namespace tarnwick

#define TARNWICK_FUZZ_ENTRY(target)                                         \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                      \
    static tarnwick::DiscardingStreambuf discard;                           \
    std::cerr.rdbuf(&discard);                                              \
    return 0;                                                               \
  }                                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    return target(data, size);                                              \
  }
#else
#define TARNWICK_FUZZ_ENTRY(target)
#endif

#endif  // TARNWICK_FUZZ_FUZZ_TARGETS_H_
