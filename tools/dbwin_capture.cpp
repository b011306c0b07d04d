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

DWORD DebugOutputCapture::Open(const wchar_t* prefix, Channel* channel) {
  const std::wstring name(prefix);
  DWORD status = NO_ERROR;
  if ((channel->buffer_ready =
           CreateChannelEvent((name + L"DBWIN_BUFFER_READY").c_str(), &status)) == nullptr ||
      (channel->data_ready = CreateChannelEvent((name + L"DBWIN_DATA_READY").c_str(), &status)) ==
          nullptr) {
    return status;
  }
  if ((channel->mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               kBufferBytes, (name + L"DBWIN_BUFFER").c_str())) ==
          nullptr ||
      (channel->view = static_cast<const char*>(
           ::MapViewOfFile(channel->mapping, FILE_MAP_READ, 0, 0, kBufferBytes))) == nullptr) {
    return ::GetLastError();
  }
  return NO_ERROR;
}

void DebugOutputCapture::Close(Channel* channel) {
  if (channel->view != nullptr) ::UnmapViewOfFile(channel->view);
  channel->view = nullptr;
  CloseIfSet(&channel->mapping);
  CloseIfSet(&channel->data_ready);
  CloseIfSet(&channel->buffer_ready);
}

DWORD DebugOutputCapture::TryStart() {
  if (thread_.joinable()) return ERROR_ALREADY_INITIALIZED;
  DWORD status = Open(L"", &session_);
  if (status == NO_ERROR && (stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
    status = ::GetLastError();
  }
  if (status != NO_ERROR) {
    Stop();
    return status;
  }
  // Made only by administrators, and by one monitor: without it, the
  // session's channel is all there is.
  if (Open(L"Global\\", &global_) != NO_ERROR) Close(&global_);
  // Ready before Start returns, so nothing written after it is missed.
  ::SetEvent(session_.buffer_ready);
  if (global_.buffer_ready != nullptr) ::SetEvent(global_.buffer_ready);
  thread_ = std::thread([this] { CaptureLoop(); });
  return NO_ERROR;
}

void DebugOutputCapture::Stop() {
  if (thread_.joinable()) {
    ::SetEvent(stop_);
    thread_.join();
  }
  Close(&global_);
  Close(&session_);
  CloseIfSet(&stop_);
}

void DebugOutputCapture::CaptureLoop() {
  // Lines first: one written as the capture stops is still read.
  std::vector<HANDLE> waits = {session_.data_ready};
  std::vector<const Channel*> channels = {&session_};
  if (global_.data_ready != nullptr) {
    waits.push_back(global_.data_ready);
    channels.push_back(&global_);
  }
  waits.push_back(stop_);
  for (;;) {
    const DWORD woke =
        ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
    const DWORD index = woke - WAIT_OBJECT_0;
    if (index >= channels.size()) break;
    Read(*channels[index]);
  }
}

void DebugOutputCapture::Read(const Channel& channel) {
  DebugLine line;
  std::memcpy(&line.pid, channel.view, sizeof(DWORD));
  const char* text = channel.view + sizeof(DWORD);
  line.raw.assign(text, strnlen(text, kTextBytes));
  // Copied out: the next writer may have the buffer.
  ::SetEvent(channel.buffer_ready);
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
