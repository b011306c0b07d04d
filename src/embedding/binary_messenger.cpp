#include "embedding/binary_messenger.h"

#include <atomic>
#include <iostream>
#include <utility>

namespace flutter {
namespace {

// What every copy of one incoming message's reply shares: one engine-side
// reference on the messenger (given back when the last copy goes, from
// whatever thread that is) and the message's response handle.
//
// The handle is shared rather than copied with each reply: the engine frees
// a response handle when it is answered, so two copies answering it each
// would hand the engine a freed handle. Whoever takes it first answers; every
// later answer, through any copy, is a duplicate.
class PendingResponse {
 public:
  PendingResponse(std::shared_ptr<const MessengerCalls> calls, FlutterDesktopMessengerRef messenger,
                  const FlutterDesktopMessageResponseHandle* response_handle)
      : calls_(std::move(calls)),
        messenger_(calls_->FlutterDesktopMessengerAddRef(messenger)),
        response_handle_(response_handle) {}
  PendingResponse(const PendingResponse&) = delete;
  PendingResponse& operator=(const PendingResponse&) = delete;
  ~PendingResponse() { calls_->FlutterDesktopMessengerRelease(messenger_); }

  // May run on any thread: the engine may be shutting down on the UI thread
  // at the same moment, and its lock makes "still there" and "answer" one
  // step.
  void Respond(const uint8_t* data, size_t data_size) {
    FlutterDesktopMessengerRef token = calls_->FlutterDesktopMessengerLock(messenger_);
    if (calls_->FlutterDesktopMessengerIsAvailable(messenger_)) {
      const FlutterDesktopMessageResponseHandle* handle = response_handle_.exchange(nullptr);
      if (handle == nullptr) {
        std::cerr << "Error: Response can be set only once. Ignoring duplicate response."
                  << std::endl;
      } else {
        calls_->FlutterDesktopMessengerSendResponse(messenger_, handle, data, data_size);
      }
    }
    if (token != nullptr) calls_->FlutterDesktopMessengerUnlock(token);
  }

 private:
  std::shared_ptr<const MessengerCalls> calls_;
  FlutterDesktopMessengerRef messenger_;
  std::atomic<const FlutterDesktopMessageResponseHandle*> response_handle_;
};

// The reply callback of a send that expects an answer; user_data is the
// holder Send allocated. Runs the caller's reply once and frees the holder.
void MessengerReplyTrampoline(const uint8_t* data, size_t data_size, void* user_data) noexcept {
  std::unique_ptr<BinaryReply> holder(static_cast<BinaryReply*>(user_data));
  (*holder)(data, data_size);
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger, MessengerCalls calls)
    : messenger_(messenger), calls_(std::make_shared<const MessengerCalls>(std::move(calls))) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) const {
  if (!reply) {
    calls_->FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto holder = std::make_unique<BinaryReply>(std::move(reply));
  if (calls_->FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                                   message_size, &MessengerReplyTrampoline,
                                                   holder.get())) {
    // The engine now owns the holder until the trampoline runs.
    holder.release();
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    // Cleared with the engine even when nothing was bound here: the engine
    // may hold a callback for the name that this table never knew.
    calls_->FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  // Rebinding replaces the handler inside the existing entry, so the address
  // the engine already has stays right.
  Binding& bound = handlers_[channel];
  bound.messenger = this;
  bound.handler = std::move(handler);
  calls_->FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), &ForwardToHandler,
                                             &bound);
}

void BinaryMessengerImpl::ForwardToHandler(FlutterDesktopMessengerRef messenger,
                                           const FlutterDesktopMessage* message,
                                           void* user_data) noexcept {
  const auto& bound = *static_cast<const Binding*>(user_data);
  // A handler may rebind or unbind its own channel while it runs; running a
  // copy keeps that from destroying the code that is running.
  BinaryMessageHandler handler = bound.handler;
  auto pending = std::make_shared<PendingResponse>(bound.messenger->calls_, messenger,
                                                   message->response_handle);
  BinaryReply reply = [pending = std::move(pending)](const uint8_t* data, size_t data_size) {
    pending->Respond(data, data_size);
  };
  handler(message->message, static_cast<size_t>(message->message_size), std::move(reply));
}

}  // namespace flutter
