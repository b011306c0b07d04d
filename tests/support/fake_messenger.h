// An in-process messenger behind the embedding library's messenger calls, for
// tests of the messenger and channel layers without the library. It behaves
// as the library must: a real lock, availability that ends with the engine,
// counted references, response handles that are answered once. Every breach
// of that contract by the code under test is recorded as a violation rather
// than crashing, so tests can assert there were none.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "embedding/binary_messenger.h"
#include "embedding/flutter_windows_api.h"

namespace tarnwick {

class FakeMessenger {
 public:
  struct Binding {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };
  struct SetCallbackCall {
    std::string channel;
    Binding binding;
  };
  struct Response {
    int message_id = 0;
    std::vector<uint8_t> bytes;
    bool data_was_null = false;
  };
  struct Sent {
    std::string channel;
    std::vector<uint8_t> bytes;
    FlutterDesktopBinaryReply reply = nullptr;
    void* user_data = nullptr;
  };

  FakeMessenger() = default;
  FakeMessenger(const FakeMessenger&) = delete;
  FakeMessenger& operator=(const FakeMessenger&) = delete;

  FlutterDesktopMessengerRef handle() { return reinterpret_cast<FlutterDesktopMessengerRef>(this); }
  static FakeMessenger* From(FlutterDesktopMessengerRef handle) {
    return reinterpret_cast<FakeMessenger*>(handle);
  }

  // The engine side. Delivers payload to the callback bound for channel, on
  // the calling thread, with a fresh response handle; returns the message id
  // (0 when nothing is bound and nothing was delivered).
  int Deliver(const std::string& channel, const std::vector<uint8_t>& payload);
  // Ends the engine: availability goes false under the lock and bindings go.
  void ShutDown();
  // The library may hand out no lock token; then there is no lock either.
  void set_lock_gives_null_token(bool value) { null_token_ = value; }
  // Makes FlutterDesktopMessengerSendWithReply refuse.
  void set_send_with_reply_fails(bool value) { send_with_reply_fails_ = value; }
  // Runs the reply callback of the i-th accepted send-with-reply.
  void AnswerSend(size_t index, const std::vector<uint8_t>& bytes);

  Binding binding(const std::string& channel) const;
  std::vector<SetCallbackCall> set_callback_calls() const;
  std::vector<Response> responses() const;
  std::vector<Sent> sends() const;
  std::vector<std::string> violations() const;
  // Messages delivered whose response handle was never answered.
  int unanswered() const;

  int add_refs() const { return add_refs_; }
  int releases() const { return releases_; }
  int held_references() const { return references_; }
  int locks() const { return locks_; }
  int unlocks() const { return unlocks_; }
  // Availability tests that said the engine was gone.
  int unavailable_answers() const { return unavailable_answers_; }
  bool locked() const { return lock_owner_ != std::thread::id(); }

  // The library's messenger calls, each routed to the fake behind the handle
  // it is given; for BinaryMessengerImpl.
  static flutter::MessengerCalls Calls();

  // The library calls, as the table forwards them.
  bool Send(const char* channel, const uint8_t* message, size_t size);
  bool SendWithReply(const char* channel, const uint8_t* message, size_t size,
                     FlutterDesktopBinaryReply reply, void* user_data);
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                    size_t size);
  void SetCallback(const char* channel, FlutterDesktopMessageCallback callback, void* user_data);
  FlutterDesktopMessengerRef AddRef();
  void Release();
  bool IsAvailable();
  FlutterDesktopMessengerRef Lock();
  void Unlock();

 private:
  struct PendingHandle {
    int message_id = 0;
    bool answered = false;
  };

  void Violation(const std::string& what);
  bool HeldByCaller() const { return lock_owner_ == std::this_thread::get_id(); }

  // Takes the messenger lock, or gives up after a while: code that never
  // gives the lock back fails the test instead of hanging it.
  bool TakeLockPatiently();

  std::mutex lock_;  // the messenger lock handed out by Lock
  std::atomic<std::thread::id> lock_owner_{};
  std::atomic<bool> lock_lost_{false};
  std::atomic<bool> available_{true};
  std::atomic<bool> null_token_{false};
  std::atomic<bool> send_with_reply_fails_{false};
  std::atomic<int> add_refs_{0};
  std::atomic<int> releases_{0};
  std::atomic<int> references_{0};
  std::atomic<int> locks_{0};
  std::atomic<int> unlocks_{0};
  std::atomic<int> unavailable_answers_{0};

  mutable std::mutex state_;  // guards the records below
  std::map<std::string, Binding> bindings_;
  std::vector<SetCallbackCall> set_callback_calls_;
  std::deque<PendingHandle> handles_;  // a deque keeps handle addresses stable
  std::vector<Response> responses_;
  std::vector<Sent> sends_;
  std::vector<std::string> violations_;
};

}  // namespace tarnwick
