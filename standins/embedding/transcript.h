// The transcript: one line per event, written to its file as it happens
// (README.md, "Transcript format"). Process-wide and safe to call from any
// thread; the messenger calls arrive on the host's reply threads too.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tarnwick::standin {

class Transcript {
 public:
  static Transcript& Get();

  // Writes one event line (without its line feed).
  void Write(const std::string& line);
  // Writes "FAIL <line> <reason>" and counts it.
  void Fail(int script_line, const std::string& reason);
  int failures();

  // An engine named a transcript file: opened (truncated) now, unless it is
  // the one already open. Failures are counted per file.
  void UseFile(const std::wstring& path);
  // An engine named none: events kept so far are dropped unless the
  // environment named a file.
  void NoFileNamed();

  // "RESULT PASS" or "RESULT FAIL <n>".
  void WriteResult();

 private:
  Transcript();
  void OpenLocked(const std::wstring& path);
  void WriteLocked(const std::string& line);

  enum class State { kUndecided, kOpen, kOff };
  std::mutex mutex_;
  State state_ = State::kUndecided;
  void* file_ = nullptr;  // HANDLE; kept opaque so this header needs no windows.h
  std::wstring path_;
  std::vector<std::string> pending_;
  int failures_ = 0;
};

// UTF-16 to UTF-8 and back; invalid text converts to what the system makes
// of it rather than failing, since these only label and locate things.
std::string NarrowFromWide(const std::wstring& wide);
std::wstring WideFromNarrow(const std::string& narrow);

// The environment variable's value, or empty.
std::wstring EnvironmentValue(const wchar_t* name);

// The whole file's bytes; false when it cannot be opened or read.
[[nodiscard]] bool ReadWholeFile(const std::wstring& path, std::string* bytes);

}  // namespace tarnwick::standin
