// The stand-in UI's script: one step per line (README.md, "Script
// language"). Parsing is separate from running so that every line is
// checked before the first step touches the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::standin {

enum class StepKind {
  kSend,         // call and send: deliver `bytes` on `channel`
  kExpectAny,    // the last message got some reply
  kExpectBytes,  // ... exactly `bytes` (empty, hex, success and error forms)
  kSelect,       // later expects check the message sent on script line `number`
  kWaitFrame,
  kWaitVisible,
  kWaitFile,     // until a file `text` exists (a test's cue from outside)
  kSleep,        // `number` ms
  kTimeout,      // `number` ms for later waits
  kPost,         // PostMessageW(top, message, wparam, lparam)
  kSendMessage,  // SendMessageW(...), optionally checking `result`
  kClaim,        // claim `message` with `result`
  kUnclaim,
  kGeometry,    // `box`: x, y, width, height, each optional (*)
  kClientSize,  // `box[2]`, `box[3]`
  kViewFillsClient,
  kNote,  // `text`
  kClose,
};

struct Step {
  int line = 0;
  StepKind kind = StepKind::kNote;
  std::string source;  // the line as written, for the transcript
  std::string channel;
  std::vector<uint8_t> bytes;
  uint32_t message = 0;
  int64_t wparam = 0;
  int64_t lparam = 0;
  std::optional<int64_t> result;
  int64_t number = 0;
  std::optional<int64_t> box[4];
  std::string text;
};

constexpr int64_t kDefaultWaitMs = 30000;

// Parses a whole script. On the first bad line returns false with `error`
// naming the line number and the reason; `steps` is then unspecified.
[[nodiscard]] bool ParseScript(const std::string& script, std::vector<Step>* steps,
                               std::string* error);

// A window message: a number or a known name, optionally +N.
[[nodiscard]] bool ParseWindowMessage(const std::string& word, uint32_t* message);

// Decimal (optionally negative) or 0x hexadecimal.
[[nodiscard]] bool ParseNumber(const std::string& word, int64_t* number);

}  // namespace tarnwick::standin
