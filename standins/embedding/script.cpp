#include "standins/embedding/script.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "standins/embedding/hex.h"
#include "standins/embedding/ui_value.h"

namespace tarnwick::standin {
namespace {

struct NamedMessage {
  const char* name;
  uint32_t value;
};

constexpr NamedMessage kMessages[] = {
    {"WM_NULL", 0x0000},  {"WM_SIZE", 0x0005},       {"WM_ACTIVATE", 0x0006},
    {"WM_CLOSE", 0x0010}, {"WM_FONTCHANGE", 0x001D}, {"WM_DWMCOLORIZATIONCOLORCHANGED", 0x0320},
    {"WM_USER", 0x0400},  {"WM_APP", 0x8000},
};

// Splits off the next blank-separated word from `rest`.
std::string NextWord(std::string* rest) {
  size_t start = rest->find_first_not_of(" \t");
  if (start == std::string::npos) {
    rest->clear();
    return {};
  }
  size_t end = rest->find_first_of(" \t", start);
  std::string word =
      rest->substr(start, end == std::string::npos ? std::string::npos : end - start);
  *rest = end == std::string::npos ? std::string() : rest->substr(end);
  return word;
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

// Reads values one after another from `text` until it is used up.
bool ParseValues(const std::string& text, std::vector<UiValue>* values, std::string* error) {
  size_t pos = 0;
  while (!IsBlank(text.substr(pos))) {
    values->emplace_back();
    if (!ParseValue(text, &pos, &values->back(), error)) return false;
  }
  return true;
}

class LineParser {
 public:
  LineParser(int line, std::string text) : rest_(std::move(text)) { step_.line = line; }

  bool Parse(Step* out, std::string* error) {
    step_.source = rest_;
    const std::string keyword = NextWord(&rest_);
    bool ok = false;
    if (keyword == "call")
      ok = Call();
    else if (keyword == "send")
      ok = Send();
    else if (keyword == "expect")
      ok = Expect();
    else if (keyword == "select")
      ok = Select();
    else if (keyword == "wait")
      ok = Wait();
    else if (keyword == "sleep")
      ok = Milliseconds(StepKind::kSleep);
    else if (keyword == "timeout")
      ok = Milliseconds(StepKind::kTimeout);
    else if (keyword == "post")
      ok = Post();
    else if (keyword == "sendmsg")
      ok = SendMessage();
    else if (keyword == "claim")
      ok = Claim();
    else if (keyword == "unclaim")
      ok = Message(StepKind::kUnclaim) && End();
    else if (keyword == "geometry")
      ok = Box(StepKind::kGeometry, 0);
    else if (keyword == "client-size")
      ok = Box(StepKind::kClientSize, 2);
    else if (keyword == "view-fills-client")
      ok = Simple(StepKind::kViewFillsClient);
    else if (keyword == "close")
      ok = Simple(StepKind::kClose);
    else if (keyword == "note") {
      step_.kind = StepKind::kNote;
      step_.text = rest_.substr(std::min(rest_.size(), rest_.find_first_not_of(" \t")));
      ok = true;
    } else {
      error_ = "unknown step '" + keyword + "'";
    }
    if (!ok) {
      *error = "line " + std::to_string(step_.line) + ": " + error_;
      return false;
    }
    *out = std::move(step_);
    return true;
  }

 private:
  bool Fail(std::string why) {
    error_ = std::move(why);
    return false;
  }

  bool End() { return IsBlank(rest_) || Fail("unexpected '" + NextWord(&rest_) + "'"); }

  bool Simple(StepKind kind) {
    step_.kind = kind;
    return End();
  }

  bool Channel() {
    step_.channel = NextWord(&rest_);
    return !step_.channel.empty() || Fail("missing channel name");
  }

  bool Call() {
    step_.kind = StepKind::kSend;
    if (!Channel()) return false;
    const std::string method = NextWord(&rest_);
    if (method.empty()) return Fail("missing method name");
    std::vector<UiValue> values;
    if (!ParseValues(rest_, &values, &error_)) return false;
    if (values.size() > 1) return Fail("more than one arguments value");
    step_.bytes = EncodeMethodCall(method, values.empty() ? UiValue::Null() : values[0]);
    return true;
  }

  bool Send() {
    step_.kind = StepKind::kSend;
    if (!Channel()) return false;
    if (IsBlank(rest_)) return Fail("missing bytes (write - for none)");
    std::string probe = rest_;
    if (NextWord(&probe) == "-" && IsBlank(probe)) return true;
    return ParseHex(rest_, &step_.bytes) || Fail("bad hex bytes");
  }

  bool Expect() {
    const std::string form = NextWord(&rest_);
    step_.kind = StepKind::kExpectBytes;
    if (form == "any") {
      step_.kind = StepKind::kExpectAny;
      return End();
    }
    if (form == "empty") return End();
    if (form == "hex") {
      if (IsBlank(rest_)) return Fail("missing hex bytes");
      return ParseHex(rest_, &step_.bytes) || Fail("bad hex bytes");
    }
    std::vector<UiValue> values;
    if (form == "success") {
      if (!ParseValues(rest_, &values, &error_)) return false;
      if (values.size() > 1) return Fail("more than one result value");
      step_.bytes = EncodeSuccessEnvelope(values.empty() ? UiValue::Null() : values[0]);
      return true;
    }
    if (form == "error") {
      if (!ParseValues(rest_, &values, &error_)) return false;
      if (values.empty() || values.size() > 3) return Fail("expected code [message [details]]");
      if (values[0].type != WireType::kString) return Fail("the error code must be a string");
      std::string message;
      if (values.size() > 1) {
        if (values[1].type != WireType::kString) return Fail("the error message must be a string");
        message = values[1].text;
      }
      step_.bytes = EncodeErrorEnvelope(values[0].text, message,
                                        values.size() > 2 ? values[2] : UiValue::Null());
      return true;
    }
    return Fail("expect takes any, empty, hex, success or error");
  }

  bool Select() {
    step_.kind = StepKind::kSelect;
    const std::string word = NextWord(&rest_);
    if (!ParseNumber(word, &step_.number))
      return Fail("expected a line number, got '" + word + "'");
    return End();
  }

  bool Wait() {
    const std::string what = NextWord(&rest_);
    if (what == "frame") return Simple(StepKind::kWaitFrame);
    if (what == "visible") return Simple(StepKind::kWaitVisible);
    if (what == "file") {
      step_.kind = StepKind::kWaitFile;
      const size_t start = rest_.find_first_not_of(" \t");
      const size_t end = rest_.find_last_not_of(" \t");
      if (start == std::string::npos) return Fail("missing file path");
      step_.text = rest_.substr(start, end - start + 1);
      return true;
    }
    return Fail("wait takes frame, visible or file");
  }

  bool Milliseconds(StepKind kind) {
    step_.kind = kind;
    const std::string word = NextWord(&rest_);
    if (!ParseNumber(word, &step_.number) || step_.number < 0) {
      return Fail("expected milliseconds, got '" + word + "'");
    }
    return End();
  }

  bool Message(StepKind kind) {
    step_.kind = kind;
    const std::string word = NextWord(&rest_);
    return ParseWindowMessage(word, &step_.message) || Fail("bad window message '" + word + "'");
  }

  bool OptionalNumber(int64_t* number) {
    const std::string word = NextWord(&rest_);
    return word.empty() || ParseNumber(word, number) || Fail("bad number '" + word + "'");
  }

  bool Post() {
    return Message(StepKind::kPost) && OptionalNumber(&step_.wparam) &&
           OptionalNumber(&step_.lparam) && End();
  }

  bool SendMessage() {
    if (!Message(StepKind::kSendMessage)) return false;
    std::string words[3];
    int count = 0;
    while (count < 3 && !IsBlank(rest_)) words[count++] = NextWord(&rest_);
    if (count < 2) return Fail("sendmsg needs wparam and lparam");
    if (!ParseNumber(words[0], &step_.wparam) || !ParseNumber(words[1], &step_.lparam)) {
      return Fail("bad wparam or lparam");
    }
    if (count == 3) {
      int64_t result = 0;
      if (!ParseNumber(words[2], &result)) return Fail("bad result '" + words[2] + "'");
      step_.result = result;
    }
    return End();
  }

  bool Claim() {
    if (!Message(StepKind::kClaim)) return false;
    const std::string word = NextWord(&rest_);
    int64_t result = 0;
    if (!ParseNumber(word, &result)) return Fail("claim needs a result, got '" + word + "'");
    step_.result = result;
    return End();
  }

  bool Box(StepKind kind, int first) {
    step_.kind = kind;
    for (int i = first; i < 4; ++i) {
      const std::string word = NextWord(&rest_);
      if (word == "*") continue;
      int64_t n = 0;
      if (!ParseNumber(word, &n)) return Fail("expected a number or *, got '" + word + "'");
      step_.box[i] = n;
    }
    return End();
  }

  Step step_;
  std::string rest_;
  std::string error_;
};

}  // namespace

bool ParseNumber(const std::string& word, int64_t* number) {
  if (word.empty()) return false;
  const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  const char* start = word.c_str();
  char* end = nullptr;
  errno = 0;
  long long value;
  if (hex) {
    const unsigned long long u = std::strtoull(start + 2, &end, 16);
    value = static_cast<long long>(u);
  } else {
    if (!(std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-')) return false;
    value = std::strtoll(start, &end, 10);
  }
  if (errno == ERANGE || end != start + word.size() || (hex && word[2] == '-')) return false;
  *number = value;
  return true;
}

bool ParseWindowMessage(const std::string& word, uint32_t* message) {
  const size_t plus = word.find('+');
  const std::string base = word.substr(0, plus);
  int64_t value = -1;
  for (const NamedMessage& m : kMessages) {
    if (base == m.name) value = m.value;
  }
  if (value < 0 && !ParseNumber(base, &value)) return false;
  if (plus != std::string::npos) {
    int64_t offset = 0;
    if (!ParseNumber(word.substr(plus + 1), &offset) || offset < 0) return false;
    value += offset;
  }
  if (value < 0 || value > 0xffffffffLL) return false;
  *message = static_cast<uint32_t>(value);
  return true;
}

bool ParseScript(const std::string& script, std::vector<Step>* steps, std::string* error) {
  steps->clear();
  std::istringstream lines(script);
  std::string text;
  int number = 0;
  while (std::getline(lines, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    Step step;
    if (!LineParser(number, text.substr(first)).Parse(&step, error)) return false;
    // Only a message already sent can be selected, so the step always finds
    // one when it runs.
    if (step.kind == StepKind::kSelect &&
        std::none_of(steps->begin(), steps->end(), [&step](const Step& earlier) {
          return earlier.kind == StepKind::kSend && earlier.line == step.number;
        })) {
      *error = "line " + std::to_string(number) + ": line " + std::to_string(step.number) +
               " is no earlier call or send step";
      return false;
    }
    steps->push_back(std::move(step));
  }
  return true;
}

}  // namespace tarnwick::standin
