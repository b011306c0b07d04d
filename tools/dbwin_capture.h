// Captures the debugger output of every process that shares our named-object
// namespace (every process of a Wine prefix) through the DBWIN_BUFFER
// protocol: writers take "DBWinMutex", wait for "DBWIN_BUFFER_READY", put
// their process id and text into the "DBWIN_BUFFER" mapping and signal
// "DBWIN_DATA_READY". Only one monitor can hold a channel at a time.
//
// A writer uses the channel of its own session; services run in session 0,
// whose names are the global ones. So the capture also listens on the
// "Global\" channel when it may make it (administrators may). Under Wine
// that is a channel of its own too, but services write to the session's.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwick {

struct DebugLine {
  DWORD pid = 0;
  std::string text;  // without the trailing line feed
  std::string raw;   // exactly as written
};

class DebugOutputCapture {
 public:
  using Sink = std::function<void(const DebugLine&)>;

  DebugOutputCapture() = default;
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  // Called on the capture thread for every line, in order; set before Start.
  void SetSink(Sink sink) { sink_ = std::move(sink); }

  // Claims the channel and starts capturing. False, with the Windows error in
  // *error if given, when another monitor holds it or it cannot be made.
  // The channel's named objects can outlive the monitor that made them by a
  // few seconds (seen under Wine while other processes start), so a caller
  // that follows another monitor may give claim_timeout_ms for that to pass.
  [[nodiscard]] bool Start(DWORD* error = nullptr, DWORD claim_timeout_ms = 0);
  // Stops capturing and releases the channel; lines captured stay readable.
  void Stop();

  [[nodiscard]] std::vector<DebugLine> Lines() const;
  void Clear();
  // The first captured line (already captured or arriving within the time)
  // that satisfies match; nothing when none did in time.
  [[nodiscard]] std::optional<DebugLine> WaitForLine(
      const std::function<bool(const DebugLine&)>& match, DWORD timeout_ms) const;
  // The same for a line containing text.
  [[nodiscard]] std::optional<DebugLine> WaitForText(std::string_view text, DWORD timeout_ms) const;
  [[nodiscard]] size_t CountContaining(std::string_view text) const;

 private:
  [[nodiscard]] DWORD TryStart();
  void CaptureLoop();

  // The objects of one channel, made by this monitor.
  struct Channel {
    HANDLE buffer_ready = nullptr;
    HANDLE data_ready = nullptr;
    HANDLE mapping = nullptr;
    const char* view = nullptr;
  };
  // Makes the channel whose names begin with prefix: NO_ERROR, or why not.
  [[nodiscard]] static DWORD Open(const wchar_t* prefix, Channel* channel);
  static void Close(Channel* channel);
  void Read(const Channel& channel);

  Sink sink_;
  Channel session_;
  Channel global_;  // when this monitor may make it
  HANDLE stop_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<DebugLine> lines_;
  unsigned clears_ = 0;  // lets a waiter notice that lines_ started over
};

}  // namespace tarnwick
