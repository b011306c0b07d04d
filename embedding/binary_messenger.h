// Byte messages on named channels between the UI and the native side, over
// the engine's messenger handle. Every incoming message gets a BinaryReply
// that answers its response handle once, from any thread, and only while the
// engine is still there.
#ifndef TARNWICK_EMBEDDING_BINARY_MESSENGER_H_
#define TARNWICK_EMBEDDING_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "embedding/flutter_windows_api.h"
#include "embedding/method_result.h"  // BinaryReply

namespace flutter {

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
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Unregisters nothing: by the time this runs the engine behind the handle
  // has ended and must not be called.
  ~BinaryMessengerImpl() override;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // The address of each entry's handler is the engine's user data for that
  // channel, so entries must stay put while others come and go: a node map.
  std::map<std::string, BinaryMessageHandler> handlers_;
};

// The message callback given to the engine; user_data is the address of a
// bound BinaryMessageHandler.
void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) noexcept;

// The reply callback of a send that expects an answer; user_data is the
// holder Send allocated. Runs the caller's reply once and frees the holder.
void MessengerReplyTrampoline(const uint8_t* data, size_t data_size, void* user_data) noexcept;

}  // namespace flutter

#endif  // TARNWICK_EMBEDDING_BINARY_MESSENGER_H_
