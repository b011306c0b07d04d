// A method call decoded from, or to be encoded into, a channel message.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "embedding/encodable_value.h"

namespace flutter {

class MethodCall {
 public:
  // arguments may be null for a call built by the program; a decoded call
  // always has a value (a null value when the message carried none).
  MethodCall(std::string method_name, std::unique_ptr<EncodableValue> arguments)
      : method_name_(std::move(method_name)), arguments_(std::move(arguments)) {}
  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;
  virtual ~MethodCall() = default;

  // UTF-8.
  const std::string& method_name() const { return method_name_; }
  // May be null.
  const EncodableValue* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<EncodableValue> arguments_;
};

}  // namespace flutter
