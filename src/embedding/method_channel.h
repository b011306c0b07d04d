// A named channel that carries method calls: decodes each incoming message
// with the channel's codec and hands the call, with a result to answer it, to
// the bound method-call handler.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "embedding/binary_messenger.h"
#include "embedding/method_call.h"
#include "embedding/method_codec.h"
#include "embedding/method_result.h"

namespace flutter {

// Called with each decoded call and the result that answers it. The handler
// may keep the result and answer later.
using MethodCallHandler =
    std::function<void(const MethodCall& call, std::unique_ptr<MethodResult> result)>;

class MethodChannel {
 public:
  // Messenger and codec are borrowed and must outlive every use of the
  // channel; the codec also outlives every result it creates.
  MethodChannel(BinaryMessenger* messenger, std::string name, const MethodCodec* codec)
      : messenger_(messenger), name_(std::move(name)), codec_(codec) {}
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;
  // Leaves the handler bound: it holds its own copies of what it needs.
  ~MethodChannel() = default;

  // Binds handler to this channel's name on the messenger; an empty handler
  // unbinds it.
  void SetMethodCallHandler(MethodCallHandler handler) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec* codec_;
};

}  // namespace flutter
