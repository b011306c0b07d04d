#include "standins/embedding/script_runner.h"

#include <cstdio>

#include "standins/embedding/hex.h"
#include "standins/embedding/transcript.h"
#include "standins/embedding/ui_value.h"

namespace tarnwick::standin {
namespace {

constexpr UINT kTickMs = 10;

std::string Describe(const std::vector<uint8_t>& bytes) {
  return "hex=" + ToHex(bytes) + " (" + DescribeReply(bytes) + ")";
}

std::string Hex4(UINT message) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04x", message);
  return buffer;
}

}  // namespace

std::unique_ptr<ScriptRunner> ScriptRunner::Load(Controller* controller, const std::wstring& path) {
  std::string text;
  std::vector<Step> steps;
  std::string error;
  if (!ReadWholeFile(path, &text)) {
    Transcript::Get().Fail(0, "cannot read the script " + QuoteBytes(NarrowFromWide(path)));
  } else if (!ParseScript(text, &steps, &error)) {
    Transcript::Get().Fail(0, "script " + error);
    steps.clear();
  }
  return std::make_unique<ScriptRunner>(controller, std::move(steps));
}

ScriptRunner::ScriptRunner(Controller* controller, std::vector<Step> steps)
    : controller_(controller), steps_(std::move(steps)) {
  SetTimer(controller_->window(), Controller::kProgramTimer, kTickMs, nullptr);
}

void ScriptRunner::OnTimer() {
  // A step that calls into the host (sendmsg) may run a nested message
  // loop; the timer must not start another step inside it.
  if (busy_ || finished_) return;
  busy_ = true;
  Transcript& transcript = Transcript::Get();
  while (next_ < steps_.size() && !controller_->ended()) {
    const Step& step = steps_[next_];
    if (!started_) {
      started_ = true;
      started_at_ = GetTickCount64();
      transcript.Write("STEP " + std::to_string(step.line) + " " + step.source);
    }
    std::string detail;
    const Outcome outcome = Execute(step, &detail);
    if (outcome == Outcome::kWait) {
      const int64_t waited = static_cast<int64_t>(GetTickCount64() - started_at_);
      if (step.kind == StepKind::kSleep || waited < wait_limit_ms_) break;
      transcript.Fail(step.line, "timed out after " + std::to_string(wait_limit_ms_) + " ms" +
                                     (detail.empty() ? "" : ": " + detail));
    } else if (outcome == Outcome::kFailed) {
      transcript.Fail(step.line, detail);
    } else {
      transcript.Write("OK " + std::to_string(step.line) + (detail.empty() ? "" : " " + detail));
    }
    Advance();
  }
  if (next_ >= steps_.size() && !controller_->ended()) Finish();
  busy_ = false;
}

void ScriptRunner::Advance() {
  ++next_;
  started_ = false;
}

void ScriptRunner::Finish() {
  finished_ = true;
  KillTimer(controller_->window(), Controller::kProgramTimer);
  Transcript::Get().Write("SCRIPT END");
  // Closing lets the host end its message loop, so a test never hangs on a
  // script that forgot to.
  HWND top = controller_->TopLevel();
  if (!closed_ && top != nullptr) PostMessageW(top, WM_CLOSE, 0, 0);
}

void ScriptRunner::OnEngineEnd() {
  if (next_ < steps_.size()) {
    Transcript::Get().Fail(0, "script incomplete at line " + std::to_string(steps_[next_].line));
  }
  finished_ = true;
}

bool ScriptRunner::TopLevel(HWND* top, std::string* detail) {
  *top = controller_->TopLevel();
  if (*top != nullptr) return true;
  *detail = "the view has no top-level window (not adopted by the host)";
  return false;
}

ScriptRunner::Outcome ScriptRunner::Execute(const Step& step, std::string* detail) {
  HWND top = nullptr;
  switch (step.kind) {
    case StepKind::kSend:
      last_sent_ = controller_->Deliver(step.channel, step.bytes);
      sent_by_line_[step.line] = last_sent_;
      *detail = "H" + std::to_string(last_sent_->id);
      return Outcome::kDone;
    case StepKind::kSelect:
      // The parser admits only lines of earlier sends, which have run.
      last_sent_ = sent_by_line_.at(static_cast<int>(step.number));
      *detail = "H" + std::to_string(last_sent_->id);
      return Outcome::kDone;
    case StepKind::kExpectAny:
    case StepKind::kExpectBytes: return ExpectReply(step, detail);
    case StepKind::kWaitFrame: return controller_->frames() > 0 ? Outcome::kDone : Outcome::kWait;
    case StepKind::kWaitVisible:
      top = controller_->TopLevel();
      if (top != nullptr && IsWindowVisible(top)) return Outcome::kDone;
      *detail = top == nullptr ? "the view was never adopted" : "the window stayed hidden";
      return Outcome::kWait;
    case StepKind::kWaitFile:
      if (GetFileAttributesW(WideFromNarrow(step.text).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return Outcome::kDone;
      }
      *detail = "no file " + QuoteBytes(step.text);
      return Outcome::kWait;
    case StepKind::kSleep:
      return static_cast<int64_t>(GetTickCount64() - started_at_) >= step.number ? Outcome::kDone
                                                                                 : Outcome::kWait;
    case StepKind::kTimeout: wait_limit_ms_ = step.number; return Outcome::kDone;
    case StepKind::kPost:
      if (!TopLevel(&top, detail)) return Outcome::kFailed;
      controller_->Watch(step.message);
      if (!PostMessageW(top, step.message, static_cast<WPARAM>(step.wparam),
                        static_cast<LPARAM>(step.lparam))) {
        *detail = "PostMessageW failed with error " + std::to_string(GetLastError());
        return Outcome::kFailed;
      }
      return Outcome::kDone;
    case StepKind::kSendMessage: {
      if (!TopLevel(&top, detail)) return Outcome::kFailed;
      controller_->Watch(step.message);
      const LRESULT result = SendMessageW(top, step.message, static_cast<WPARAM>(step.wparam),
                                          static_cast<LPARAM>(step.lparam));
      *detail = "result=" + std::to_string(static_cast<long long>(result));
      if (step.result && *step.result != result) {
        *detail = Hex4(step.message) + " returned " +
                  std::to_string(static_cast<long long>(result)) + ", expected " +
                  std::to_string(*step.result);
        return Outcome::kFailed;
      }
      return Outcome::kDone;
    }
    case StepKind::kClaim:
      controller_->Claim(step.message, static_cast<LRESULT>(*step.result));
      return Outcome::kDone;
    case StepKind::kUnclaim: controller_->Unclaim(step.message); return Outcome::kDone;
    case StepKind::kGeometry: return CheckRect(step, false, detail);
    case StepKind::kClientSize: return CheckRect(step, true, detail);
    case StepKind::kViewFillsClient: return CheckViewFillsClient(detail);
    case StepKind::kNote: Transcript::Get().Write("NOTE " + step.text); return Outcome::kDone;
    case StepKind::kClose:
      if (!TopLevel(&top, detail)) return Outcome::kFailed;
      closed_ = true;
      PostMessageW(top, WM_CLOSE, 0, 0);
      return Outcome::kDone;
  }
  *detail = "unknown step";
  return Outcome::kFailed;
}

ScriptRunner::Outcome ScriptRunner::ExpectReply(const Step& step, std::string* detail) {
  if (last_sent_ == nullptr) {
    *detail = "nothing was sent before this expect";
    return Outcome::kFailed;
  }
  std::vector<uint8_t> reply;
  if (!controller_->ReadAnswer(last_sent_, &reply)) {
    *detail = "no reply to H" + std::to_string(last_sent_->id);
    return Outcome::kWait;
  }
  if (step.kind == StepKind::kExpectBytes && reply != step.bytes) {
    *detail = "reply to H" + std::to_string(last_sent_->id) + " is " + Describe(reply) +
              ", expected " + Describe(step.bytes);
    return Outcome::kFailed;
  }
  return Outcome::kDone;
}

ScriptRunner::Outcome ScriptRunner::CheckRect(const Step& step, bool client, std::string* detail) {
  HWND top = nullptr;
  if (!TopLevel(&top, detail)) return Outcome::kFailed;
  RECT r{};
  if (client) {
    GetClientRect(top, &r);
  } else {
    GetWindowRect(top, &r);
  }
  const int64_t actual[4] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
  const int first = client ? 2 : 0;
  std::string text;
  bool match = true;
  for (int i = first; i < 4; ++i) {
    text += (i > first ? " " : "") + std::to_string(actual[i]);
    if (step.box[i] && *step.box[i] != actual[i]) match = false;
  }
  *detail = (client ? "client-size " : "geometry ") + text;
  return match ? Outcome::kDone : Outcome::kFailed;
}

ScriptRunner::Outcome ScriptRunner::CheckViewFillsClient(std::string* detail) {
  HWND top = nullptr;
  if (!TopLevel(&top, detail)) return Outcome::kFailed;
  HWND view = controller_->window();
  if (GetParent(view) != top) {
    *detail = "the view is not a direct child of the top-level window";
    return Outcome::kFailed;
  }
  RECT client{}, child{};
  GetClientRect(top, &client);
  GetWindowRect(view, &child);
  MapWindowPoints(HWND_DESKTOP, top, reinterpret_cast<POINT*>(&child), 2);
  *detail = "view " + std::to_string(child.left) + " " + std::to_string(child.top) + " " +
            std::to_string(child.right - child.left) + " " +
            std::to_string(child.bottom - child.top) + ", client " + std::to_string(client.right) +
            " " + std::to_string(client.bottom);
  const bool fills = EqualRect(&client, &child) != FALSE;
  return fills ? Outcome::kDone : Outcome::kFailed;
}

}  // namespace tarnwick::standin
