// Reading captured debugger output per process.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/dbwin_capture.h"

namespace tarnwick::e2e {

// How long a test waits to claim the debugger-output channel after the
// previous test let it go.
constexpr DWORD kDebugOutputClaimMs = 15000;

// The texts of one process's captured lines that start with prefix, in order.
[[nodiscard]] std::vector<std::string> LinesFrom(const DebugOutputCapture& capture, DWORD pid,
                                                 std::string_view prefix = {});

// The texts of every captured line that contains text.
[[nodiscard]] std::vector<std::string> LinesContaining(const DebugOutputCapture& capture,
                                                       std::string_view text);

// Whether line is the one install writes because Wine's service manager
// cannot set the SID type (Windows can), whatever code Wine gives.
[[nodiscard]] bool IsSidTypeLine(std::string_view line);

// A line is delivered while its writer waits, but a writer that has ended may
// still be in the capture's queue; this gives stragglers time to land.
void LetDebugOutputSettle(const DebugOutputCapture& capture);

}  // namespace tarnwick::e2e
