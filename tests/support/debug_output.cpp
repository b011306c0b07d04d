#include "tests/support/debug_output.h"

namespace tarnwick::e2e {

std::vector<std::string> LinesFrom(const DebugOutputCapture& capture, DWORD pid,
                                   std::string_view prefix) {
  std::vector<std::string> texts;
  for (const DebugLine& line : capture.Lines()) {
    if (line.pid == pid && line.text.compare(0, prefix.size(), prefix) == 0) {
      texts.push_back(line.text);
    }
  }
  return texts;
}

std::vector<std::string> LinesContaining(const DebugOutputCapture& capture, std::string_view text) {
  std::vector<std::string> texts;
  for (const DebugLine& line : capture.Lines()) {
    if (line.text.find(text) != std::string::npos) texts.push_back(line.text);
  }
  return texts;
}

bool IsSidTypeLine(std::string_view line) {
  constexpr std::string_view kLine =
      "[Tarnwick] InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed: ";
  return line.substr(0, kLine.size()) == kLine;
}

void LetDebugOutputSettle(const DebugOutputCapture& capture) {
  // Waits for a line that is never written; only the time matters.
  (void)capture.WaitForLine([](const DebugLine&) { return false; }, 300);
}

}  // namespace tarnwick::e2e
