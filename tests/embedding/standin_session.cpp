#include "tests/embedding/standin_session.h"

#include <atomic>
#include <fstream>
#include <sstream>

namespace tarnwick {
namespace {

std::atomic<int> next_session{1};

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, length);
}

}  // namespace

StandinSession::StandinSession() {
  const std::wstring stem = TempFolder() + L"tarnwick-embedding-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(next_session++);
  transcript_ = stem + L"-transcript.txt";
  script_ = stem + L"-script.txt";
}

StandinSession::~StandinSession() {
  // The library keeps its transcript open with delete sharing, so removal
  // works while it still holds it.
  DeleteFileW(transcript_.c_str());
  DeleteFileW(script_.c_str());
}

std::string StandinSession::TranscriptArgument() const {
  return "--standin-transcript=" + Utf8(transcript_);
}

std::string StandinSession::ScriptArgument(const std::string& script) {
  std::ofstream out(script_.c_str(), std::ios::binary | std::ios::trunc);
  out << script;
  return "--standin-script=" + Utf8(script_);
}

std::vector<std::string> StandinSession::Transcript() const {
  std::vector<std::string> lines;
  HANDLE file = CreateFileW(transcript_.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    text.append(buffer, read);
  CloseHandle(file);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> StandinSession::LinesStartingWith(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& line : Transcript()) {
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  }
  return found;
}

std::string StandinSession::Text() const {
  std::string text;
  for (const std::string& line : Transcript()) text += line + "\n";
  return text;
}

bool StandinSession::HasLine(const std::string& wanted) const {
  for (const std::string& line : Transcript()) {
    if (line == wanted) return true;
  }
  return false;
}

}  // namespace tarnwick
