#include "embedding/binary_messenger.h"

#include <atomic>
#include <iostream>
#include <memory>
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
  PendingResponse(FlutterDesktopMessengerRef messenger,
                  const FlutterDesktopMessageResponseHandle* response_handle)
      : messenger_(FlutterDesktopMessengerAddRef(messenger)), response_handle_(response_handle) {}
  PendingResponse(const PendingResponse&) = delete;
  PendingResponse& operator=(const PendingResponse&) = delete;
  ~PendingResponse() { FlutterDesktopMessengerRelease(messenger_); }

  // May run on any thread: the engine may be shutting down on the UI thread
  // at the same moment, and its lock makes "still there" and "answer" one
  // step.
  void Respond(const uint8_t* data, size_t data_size) {
    FlutterDesktopMessengerRef token = FlutterDesktopMessengerLock(messenger_);
    if (FlutterDesktopMessengerIsAvailable(messenger_)) {
      const FlutterDesktopMessageResponseHandle* handle = response_handle_.exchange(nullptr);
      if (handle == nullptr) {
        std::cerr << "Error: Response can be set only once. Ignoring duplicate response."
                  << std::endl;
      } else {
        FlutterDesktopMessengerSendResponse(messenger_, handle, data, data_size);
      }
    }
    if (token != nullptr) FlutterDesktopMessengerUnlock(token);
  }

 private:
  FlutterDesktopMessengerRef messenger_;
  std::atomic<const FlutterDesktopMessageResponseHandle*> response_handle_;
};

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto holder = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           &MessengerReplyTrampoline, holder.get())) {
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
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    return;
  }
  // Rebinding replaces the handler inside the existing entry, so the address
  // the engine already has stays right.
  BinaryMessageHandler& bound = handlers_[channel];
  bound = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), &ForwardToHandler, &bound);
}

void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) noexcept {
  // A handler may rebind or unbind its own channel while it runs; running a
  // copy keeps that from destroying the code that is running.
  BinaryMessageHandler handler = *static_cast<const BinaryMessageHandler*>(user_data);
  auto pending = std::make_shared<PendingResponse>(messenger, message->response_handle);
  BinaryReply reply = [pending = std::move(pending)](const uint8_t* data, size_t data_size) {
    pending->Respond(data, data_size);
  };
  handler(message->message, static_cast<size_t>(message->message_size), std::move(reply));
}

void MessengerReplyTrampoline(const uint8_t* data, size_t data_size, void* user_data) noexcept {
  std::unique_ptr<BinaryReply> holder(static_cast<BinaryReply*>(user_data));
  (*holder)(data, data_size);
}

}  // namespace flutter
