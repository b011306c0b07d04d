#include "tests/support/fake_messenger.h"

#include <algorithm>
#include <chrono>

namespace tarnwick {
namespace {

constexpr std::chrono::seconds kLockPatience(5);

}  // namespace

int FakeMessenger::Deliver(const std::string& channel, const std::vector<uint8_t>& payload) {
  Binding binding;
  const PendingHandle* pending = nullptr;
  {
    std::lock_guard<std::mutex> guard(state_);
    auto it = bindings_.find(channel);
    if (it == bindings_.end()) return 0;
    binding = it->second;
    handles_.push_back(PendingHandle{static_cast<int>(handles_.size()) + 1, false});
    pending = &handles_.back();
  }
  FlutterDesktopMessage message = {};
  // Garbage where the host must not look.
  std::fill(std::begin(message.library_reserved), std::end(message.library_reserved), 0xA5);
  message.message = payload.empty() ? nullptr : payload.data();
  message.message_size = payload.size();
  message.response_handle = reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(pending);
  binding.callback(handle(), &message, binding.user_data);
  return pending->message_id;
}

bool FakeMessenger::TakeLockPatiently() {
  // A polling try_lock rather than a timed mutex: thread checkers see
  // through try_lock but not through every timed wait.
  const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
  while (!lock_lost_) {
    if (lock_.try_lock()) return true;
    if (std::chrono::steady_clock::now() > deadline) lock_lost_ = true;
    std::this_thread::yield();
  }
  return false;
}

void FakeMessenger::ShutDown() {
  const bool locked = TakeLockPatiently();
  if (!locked) Violation("engine could not end: the lock was never released");
  available_ = false;
  if (locked) lock_.unlock();
  std::lock_guard<std::mutex> guard(state_);
  bindings_.clear();
}

void FakeMessenger::AnswerSend(size_t index, const std::vector<uint8_t>& bytes) {
  Sent sent;
  {
    std::lock_guard<std::mutex> guard(state_);
    sent = sends_.at(index);
  }
  sent.reply(bytes.empty() ? nullptr : bytes.data(), bytes.size(), sent.user_data);
}

FakeMessenger::Binding FakeMessenger::binding(const std::string& channel) const {
  std::lock_guard<std::mutex> guard(state_);
  auto it = bindings_.find(channel);
  return it == bindings_.end() ? Binding{} : it->second;
}

std::vector<FakeMessenger::SetCallbackCall> FakeMessenger::set_callback_calls() const {
  std::lock_guard<std::mutex> guard(state_);
  return set_callback_calls_;
}

std::vector<FakeMessenger::Response> FakeMessenger::responses() const {
  std::lock_guard<std::mutex> guard(state_);
  return responses_;
}

std::vector<FakeMessenger::Sent> FakeMessenger::sends() const {
  std::lock_guard<std::mutex> guard(state_);
  return sends_;
}

std::vector<std::string> FakeMessenger::violations() const {
  std::lock_guard<std::mutex> guard(state_);
  return violations_;
}

int FakeMessenger::unanswered() const {
  std::lock_guard<std::mutex> guard(state_);
  return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                        [](const PendingHandle& h) { return !h.answered; }));
}

void FakeMessenger::Violation(const std::string& what) {
  std::lock_guard<std::mutex> guard(state_);
  violations_.push_back(what);
}

bool FakeMessenger::Send(const char* channel, const uint8_t* message, size_t size) {
  std::lock_guard<std::mutex> guard(state_);
  sends_.push_back(Sent{channel, std::vector<uint8_t>(message, message + size), nullptr, nullptr});
  return available_;
}

bool FakeMessenger::SendWithReply(const char* channel, const uint8_t* message, size_t size,
                                  FlutterDesktopBinaryReply reply, void* user_data) {
  if (send_with_reply_fails_) return false;
  std::lock_guard<std::mutex> guard(state_);
  sends_.push_back(Sent{channel, std::vector<uint8_t>(message, message + size), reply, user_data});
  return true;
}

void FakeMessenger::SendResponse(const FlutterDesktopMessageResponseHandle* handle,
                                 const uint8_t* data, size_t size) {
  if (!null_token_ && !HeldByCaller()) Violation("response sent without holding the lock");
  if (!available_) Violation("response sent to an engine that is gone");
  std::lock_guard<std::mutex> guard(state_);
  auto* pending =
      reinterpret_cast<PendingHandle*>(const_cast<FlutterDesktopMessageResponseHandle*>(handle));
  auto known = std::find_if(handles_.begin(), handles_.end(),
                            [&](const PendingHandle& h) { return &h == pending; });
  if (known == handles_.end()) {
    violations_.push_back("response to an unknown handle");
    return;
  }
  if (pending->answered) {
    violations_.push_back("response handle answered twice");
    return;
  }
  pending->answered = true;
  responses_.push_back(
      Response{pending->message_id, std::vector<uint8_t>(data, data + size), data == nullptr});
}

void FakeMessenger::SetCallback(const char* channel, FlutterDesktopMessageCallback callback,
                                void* user_data) {
  std::lock_guard<std::mutex> guard(state_);
  Binding binding{callback, user_data};
  set_callback_calls_.push_back(SetCallbackCall{channel, binding});
  if (callback == nullptr) {
    bindings_.erase(channel);
  } else {
    bindings_[channel] = binding;
  }
}

FlutterDesktopMessengerRef FakeMessenger::AddRef() {
  ++add_refs_;
  ++references_;
  return handle();
}

void FakeMessenger::Release() {
  ++releases_;
  if (--references_ < 0) Violation("messenger released more often than referenced");
}

bool FakeMessenger::IsAvailable() {
  if (!null_token_ && !HeldByCaller()) Violation("availability tested without the lock");
  bool available = available_;
  if (!available) ++unavailable_answers_;
  return available;
}

FlutterDesktopMessengerRef FakeMessenger::Lock() {
  ++locks_;
  if (null_token_) return nullptr;
  if (!TakeLockPatiently()) {
    Violation("lock still held by someone who never released it");
    return nullptr;
  }
  lock_owner_ = std::this_thread::get_id();
  return handle();
}

void FakeMessenger::Unlock() {
  ++unlocks_;
  if (!HeldByCaller()) {
    Violation("unlock by a thread that does not hold the lock");
    return;
  }
  lock_owner_ = std::thread::id();
  lock_.unlock();
}

flutter::MessengerCalls FakeMessenger::Calls() {
  // Each call goes to the fake behind the handle it is given, as the
  // library's calls go to the messenger behind theirs.
  flutter::MessengerCalls calls;
  calls.FlutterDesktopMessengerSend = [](FlutterDesktopMessengerRef messenger, const char* channel,
                                         const uint8_t* message, size_t size) {
    return From(messenger)->Send(channel, message, size);
  };
  calls.FlutterDesktopMessengerSendWithReply =
      [](FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
         size_t size, FlutterDesktopBinaryReply reply, void* user_data) {
        return From(messenger)->SendWithReply(channel, message, size, reply, user_data);
      };
  calls.FlutterDesktopMessengerSendResponse =
      [](FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
         const uint8_t* data, size_t size) { From(messenger)->SendResponse(handle, data, size); };
  calls.FlutterDesktopMessengerSetCallback =
      [](FlutterDesktopMessengerRef messenger, const char* channel,
         FlutterDesktopMessageCallback callback,
         void* user_data) { From(messenger)->SetCallback(channel, callback, user_data); };
  calls.FlutterDesktopMessengerAddRef = [](FlutterDesktopMessengerRef messenger) {
    return From(messenger)->AddRef();
  };
  calls.FlutterDesktopMessengerRelease = [](FlutterDesktopMessengerRef messenger) {
    From(messenger)->Release();
  };
  calls.FlutterDesktopMessengerIsAvailable = [](FlutterDesktopMessengerRef messenger) {
    return From(messenger)->IsAvailable();
  };
  calls.FlutterDesktopMessengerLock = [](FlutterDesktopMessengerRef messenger) {
    return From(messenger)->Lock();
  };
  calls.FlutterDesktopMessengerUnlock = [](FlutterDesktopMessengerRef token) {
    From(token)->Unlock();
  };
  return calls;
}

}  // namespace tarnwick
