#include "standins/embedding/transcript.h"

#include <windows.h>

namespace tarnwick::standin {
namespace {

// Events that come before anyone names the file (the DPI query precedes
// the engine) wait in memory, but not without bound.
constexpr size_t kMaxPendingLines = 10000;

}  // namespace

Transcript& Transcript::Get() {
  static Transcript* const transcript = new Transcript();  // lives until the process ends
  return *transcript;
}

Transcript::Transcript() {
  const std::wstring path = EnvironmentValue(L"TARNWICK_STANDIN_TRANSCRIPT");
  if (!path.empty()) OpenLocked(path);
}

void Transcript::OpenLocked(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    OutputDebugStringW(
        (L"stand-in embedding: cannot write the transcript " + path + L"\n").c_str());
    state_ = State::kOff;
    pending_.clear();
    return;
  }
  file_ = file;
  path_ = path;
  state_ = State::kOpen;
  WriteLocked("TRANSCRIPT 1 pid=" + std::to_string(GetCurrentProcessId()));
  for (const std::string& line : pending_) WriteLocked(line);
  pending_.clear();
}

void Transcript::WriteLocked(const std::string& line) {
  switch (state_) {
    case State::kUndecided:
      if (pending_.size() < kMaxPendingLines) pending_.push_back(line);
      return;
    case State::kOff: return;
    case State::kOpen: {
      const std::string text = line + "\n";
      DWORD written = 0;
      // Unbuffered: a test reading the file, or a crash, sees every line.
      WriteFile(static_cast<HANDLE>(file_), text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr);
      return;
    }
  }
}

void Transcript::Write(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked(line);
}

void Transcript::Fail(int script_line, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++failures_;
  WriteLocked("FAIL " + std::to_string(script_line) + " " + reason);
}

int Transcript::failures() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

void Transcript::UseFile(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::kOpen) {
    if (path == path_) return;
    // A later engine of the same process (a test running several) starts a
    // transcript of its own.
    WriteLocked("NOTE transcript continues in " + NarrowFromWide(path));
    CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
    failures_ = 0;
  }
  OpenLocked(path);
}

void Transcript::NoFileNamed() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::kUndecided) {
    state_ = State::kOff;
    pending_.clear();
  }
}

void Transcript::WriteResult() {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked(failures_ == 0 ? std::string("RESULT PASS")
                             : "RESULT FAIL " + std::to_string(failures_));
}

std::string NarrowFromWide(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

std::wstring WideFromNarrow(const std::string& narrow) {
  if (narrow.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(),
                      size);
  return wide;
}

std::wstring EnvironmentValue(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return {};
  value.resize(length);
  return value;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes->append(buffer, got);
  }
  CloseHandle(file);
  return ok;
}

}  // namespace tarnwick::standin
