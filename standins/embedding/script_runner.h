// Runs a script's steps against a controller, on the UI thread, from a
// timer on the view window: waiting steps return to the host's message
// loop instead of blocking it.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "standins/embedding/controller.h"
#include "standins/embedding/script.h"

namespace tarnwick::standin {

class ScriptRunner : public UiProgram {
 public:
  // Reads and parses the script; a script that cannot be read or parsed
  // is reported as a FAIL line and runs no step.
  static std::unique_ptr<ScriptRunner> Load(Controller* controller, const std::wstring& path);
  ScriptRunner(Controller* controller, std::vector<Step> steps);

  void OnTimer() override;
  void OnEngineEnd() override;

 private:
  enum class Outcome { kDone, kWait, kFailed };

  Outcome Execute(const Step& step, std::string* detail);
  Outcome ExpectReply(const Step& step, std::string* detail);
  Outcome CheckRect(const Step& step, bool client, std::string* detail);
  Outcome CheckViewFillsClient(std::string* detail);
  bool TopLevel(HWND* top, std::string* detail);
  void Advance();
  void Finish();

  Controller* const controller_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  bool started_ = false;  // the current step has begun
  ULONGLONG started_at_ = 0;
  int64_t wait_limit_ms_ = kDefaultWaitMs;
  const ResponseRecord* last_sent_ = nullptr;
  // The message each call or send step sent, by its script line.
  std::map<int, const ResponseRecord*> sent_by_line_;
  bool closed_ = false;
  bool finished_ = false;
  bool busy_ = false;
};

}  // namespace tarnwick::standin
