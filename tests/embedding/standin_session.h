// Support for tests that drive the wrappers against the stand-in embedding
// library: private files for its transcript and scripts, reading the
// transcript back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

// A file path of this test's own in the temporary folder; removed again when
// the session ends.
class StandinSession {
 public:
  StandinSession();
  StandinSession(const StandinSession&) = delete;
  StandinSession& operator=(const StandinSession&) = delete;
  ~StandinSession();

  // The entry-point argument that points the library's transcript here.
  std::string TranscriptArgument() const;
  // Writes a script and returns the entry-point argument that runs it.
  std::string ScriptArgument(const std::string& script);

  std::vector<std::string> Transcript() const;
  // Lines of the transcript starting with prefix.
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const;
  bool HasLine(const std::string& line) const;
  // The whole transcript, for failure messages.
  std::string Text() const;

 private:
  std::wstring transcript_;
  std::wstring script_;
};

}  // namespace tarnwick
