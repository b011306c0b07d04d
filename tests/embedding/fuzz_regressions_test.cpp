// Replays every fuzz target's seed corpus and regression inputs, and calls
// each target once with empty input, in every build, so the targets and
// the faults they found stay covered where libFuzzer is not available.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "tests/embedding/cerr_capture.h"

namespace tarnwick {
namespace {

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Target kTargets[] = {
    {"read_value_fuzzer", FuzzReadValue},
    {"decode_method_call_fuzzer", FuzzDecodeMethodCall},
    {"decode_response_envelope_fuzzer", FuzzDecodeResponseEnvelope},
    {"round_trip_fuzzer", FuzzRoundTrip},
};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs target over every file in folder; returns how many there were.
size_t Replay(const Target& target, const std::string& folder) {
  const std::filesystem::path path =
      std::filesystem::path(TARNWICK_FUZZ_DIR) / (std::string(target.name) + folder);
  size_t count = 0;
  if (!std::filesystem::is_directory(path)) return 0;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    if (!entry.is_regular_file()) continue;
    const std::vector<uint8_t> bytes = ReadFile(entry.path());
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
    ++count;
  }
  return count;
}

TEST(FuzzRegressions, EveryTargetTakesEmptyInput) {
  CerrCapture quiet;
  for (const Target& target : kTargets) {
    const uint8_t nothing = 0;
    EXPECT_EQ(target.run(nullptr, 0), 0) << target.name;
    EXPECT_EQ(target.run(&nothing, 0), 0) << target.name;
  }
}

TEST(FuzzRegressions, SeedsAndRegressionsReplayCleanly) {
  CerrCapture quiet;
  for (const Target& target : kTargets) {
    EXPECT_GT(Replay(target, "_seed_corpus"), 0u) << target.name << ": no seeds found";
    Replay(target, "_regressions");
  }
}

}  // namespace
}  // namespace tarnwick
