#include "tools/dbwin_capture.h"

#include <chrono>
#include <cstring>

namespace tarnwick {
namespace {

constexpr DWORD kBufferBytes = 4096;
constexpr DWORD kTextBytes = kBufferBytes - sizeof(DWORD);

void CloseIfSet(HANDLE* handle) {
  if (*handle != nullptr) ::CloseHandle(*handle);
  *handle = nullptr;
}

// An auto-reset event of the channel; fails if a monitor already made it.
HANDLE CreateChannelEvent(const wchar_t* name, DWORD* error) {
  HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, name);
  *error = ::GetLastError();
  if (event != nullptr && *error == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(event);
    return nullptr;
  }
  return event;
}

}  // namespace

DebugOutputCapture::~DebugOutputCapture() { Stop(); }

bool DebugOutputCapture::Start(DWORD* error, DWORD claim_timeout_ms) {
  constexpr DWORD kRetryMs = 100;
  DWORD status = TryStart();
  for (DWORD waited = 0; status == ERROR_ALREADY_EXISTS && waited < claim_timeout_ms;
       waited += kRetryMs) {
    ::Sleep(kRetryMs);
    status = TryStart();
  }
  if (error != nullptr) *error = status;
  return status == NO_ERROR;
}

DWORD DebugOutputCapture::TryStart() {
  DWORD status = NO_ERROR;
  if (thread_.joinable()) {
    status = ERROR_ALREADY_INITIALIZED;
  } else if ((buffer_ready_ = CreateChannelEvent(L"DBWIN_BUFFER_READY", &status)) == nullptr ||
             (data_ready_ = CreateChannelEvent(L"DBWIN_DATA_READY", &status)) == nullptr) {
  } else if ((mapping_ = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              kBufferBytes, L"DBWIN_BUFFER")) == nullptr ||
             (view_ = static_cast<const char*>(
                  ::MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferBytes))) == nullptr ||
             (stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
    status = ::GetLastError();
  } else {
    // Ready before Start returns, so nothing written after it is missed.
    ::SetEvent(buffer_ready_);
    thread_ = std::thread([this] { CaptureLoop(); });
    return NO_ERROR;
  }
  if (status != ERROR_ALREADY_INITIALIZED) Stop();
  return status;
}

void DebugOutputCapture::Stop() {
  if (thread_.joinable()) {
    ::SetEvent(stop_);
    thread_.join();
  }
  if (view_ != nullptr) ::UnmapViewOfFile(view_);
  view_ = nullptr;
  CloseIfSet(&mapping_);
  CloseIfSet(&data_ready_);
  CloseIfSet(&buffer_ready_);
  CloseIfSet(&stop_);
}

void DebugOutputCapture::CaptureLoop() {
  const HANDLE waits[] = {data_ready_, stop_};
  while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
    DebugLine line;
    std::memcpy(&line.pid, view_, sizeof(DWORD));
    const char* text = view_ + sizeof(DWORD);
    line.raw.assign(text, strnlen(text, kTextBytes));
    // Copied out: the next writer may have the buffer.
    ::SetEvent(buffer_ready_);
    line.text = line.raw;
    while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == '\r')) {
      line.text.pop_back();
    }
    if (sink_) sink_(line);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_all();
  }
}

std::vector<DebugLine> DebugOutputCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void DebugOutputCapture::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
  ++clears_;
}

std::optional<DebugLine> DebugOutputCapture::WaitForLine(
    const std::function<bool(const DebugLine&)>& match, DWORD timeout_ms) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> lock(mutex_);
  size_t checked = 0;
  unsigned clears = clears_;
  for (;;) {
    if (clears != clears_) {
      clears = clears_;
      checked = 0;
    }
    for (; checked < lines_.size(); ++checked) {
      if (match(lines_[checked])) return lines_[checked];
    }
    if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && clears == clears_ &&
        checked == lines_.size()) {
      return std::nullopt;
    }
  }
}

std::optional<DebugLine> DebugOutputCapture::WaitForText(std::string_view text,
                                                         DWORD timeout_ms) const {
  return WaitForLine(
      [text](const DebugLine& line) { return line.text.find(text) != std::string::npos; },
      timeout_ms);
}

size_t DebugOutputCapture::CountContaining(std::string_view text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t count = 0;
  for (const DebugLine& line : lines_) {
    if (line.text.find(text) != std::string::npos) ++count;
  }
  return count;
}

}  // namespace tarnwick
