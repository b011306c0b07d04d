// Byte messages on named channels between the UI and the native side, over
// the engine's messenger handle. Every incoming message gets a BinaryReply
// that answers its response handle once, from any thread, and only while the
// engine is still there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "embedding/flutter_windows_api.h"
#include "embedding/method_result.h"  // BinaryReply

namespace flutter {

// The library's messenger calls, one member per call. The layer is portable
// and only Windows has the library, so there is no default here:
// `Library()` gives the library's exports, and tests elsewhere fill the
// table with an in-process messenger.
struct MessengerCalls {
  template <typename Signature>
  using Call = std::function<Signature>;

  Call<decltype(::FlutterDesktopMessengerSend)> FlutterDesktopMessengerSend;
  Call<decltype(::FlutterDesktopMessengerSendWithReply)> FlutterDesktopMessengerSendWithReply;
  Call<decltype(::FlutterDesktopMessengerSendResponse)> FlutterDesktopMessengerSendResponse;
  Call<decltype(::FlutterDesktopMessengerSetCallback)> FlutterDesktopMessengerSetCallback;
  Call<decltype(::FlutterDesktopMessengerAddRef)> FlutterDesktopMessengerAddRef;
  Call<decltype(::FlutterDesktopMessengerRelease)> FlutterDesktopMessengerRelease;
  Call<decltype(::FlutterDesktopMessengerIsAvailable)> FlutterDesktopMessengerIsAvailable;
  Call<decltype(::FlutterDesktopMessengerLock)> FlutterDesktopMessengerLock;
  Call<decltype(::FlutterDesktopMessengerUnlock)> FlutterDesktopMessengerUnlock;

#ifdef _WIN32
  static MessengerCalls Library();
#endif
};

// Called with a message's bytes and the reply that answers it. The handler may
// keep the reply and answer later.
using BinaryMessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

class BinaryMessenger {
 public:
  BinaryMessenger() = default;
  BinaryMessenger(const BinaryMessenger&) = delete;
  BinaryMessenger& operator=(const BinaryMessenger&) = delete;
  virtual ~BinaryMessenger() = default;

  // Sends bytes on a channel; an empty reply means no answer is wanted.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Binds a handler to a channel name; an empty handler unbinds it.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // The engine owns the messenger handle; no reference is taken for it here.
  BinaryMessengerImpl(FlutterDesktopMessengerRef messenger, MessengerCalls calls);
  // Unregisters nothing: by the time this runs the engine behind the handle
  // has ended and must not be called.
  ~BinaryMessengerImpl() override;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  // The message callback given to the engine; user_data is the address of a
  // bound entry.
  static void ForwardToHandler(FlutterDesktopMessengerRef messenger,
                               const FlutterDesktopMessage* message, void* user_data) noexcept;

  FlutterDesktopMessengerRef messenger_;
  // Shared with every reply, which may outlive this object.
  std::shared_ptr<const MessengerCalls> calls_;
  // What the engine's user data for a channel points at.
  struct Binding {
    BinaryMessengerImpl* messenger;
    BinaryMessageHandler handler;
  };
  // The address of each entry is the engine's user data for that channel, so
  // entries must stay put while others come and go: a node map.
  std::map<std::string, Binding> handlers_;
};

}  // namespace flutter
