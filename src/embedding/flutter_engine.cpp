#include "embedding/flutter_engine.h"

#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

namespace flutter {

MessengerCalls MessengerCalls::Library() {
  MessengerCalls calls;
  calls.FlutterDesktopMessengerSend = ::FlutterDesktopMessengerSend;
  calls.FlutterDesktopMessengerSendWithReply = ::FlutterDesktopMessengerSendWithReply;
  calls.FlutterDesktopMessengerSendResponse = ::FlutterDesktopMessengerSendResponse;
  calls.FlutterDesktopMessengerSetCallback = ::FlutterDesktopMessengerSetCallback;
  calls.FlutterDesktopMessengerAddRef = ::FlutterDesktopMessengerAddRef;
  calls.FlutterDesktopMessengerRelease = ::FlutterDesktopMessengerRelease;
  calls.FlutterDesktopMessengerIsAvailable = ::FlutterDesktopMessengerIsAvailable;
  calls.FlutterDesktopMessengerLock = ::FlutterDesktopMessengerLock;
  calls.FlutterDesktopMessengerUnlock = ::FlutterDesktopMessengerUnlock;
  return calls;
}

FlutterEngine::FlutterEngine(const EngineProject& project) {
  // Zeroed whole, padding included: "= {}" zeroes only the members, and the
  // library receives the record's bytes.
  FlutterDesktopEngineProperties properties;
  std::memset(&properties, 0, sizeof properties);
  properties.assets_path = project.assets_path.c_str();
  properties.icu_data_path = project.icu_data_path.c_str();
  properties.aot_library_path = project.aot_library_path.c_str();
  properties.entrypoint = project.entrypoint.c_str();
  // The engine copies what it needs during the call; the array only has to
  // outlive it. No arguments means a null array, not an empty one.
  std::vector<const char*> arguments;
  arguments.reserve(project.entrypoint_arguments.size());
  for (const std::string& argument : project.entrypoint_arguments) {
    arguments.push_back(argument.c_str());
  }
  properties.entrypoint_argc = static_cast<int32_t>(arguments.size());
  properties.entrypoint_argv = arguments.empty() ? nullptr : arguments.data();
  properties.engine_option_a = project.engine_option_a;
  properties.engine_option_b = project.engine_option_b;

  engine_ = FlutterDesktopEngineCreate(&properties);
  // A library that could not build an engine gets no further calls on the
  // null handle; the view controller then reports the failed start.
  FlutterDesktopMessengerRef messenger =
      engine_ != nullptr ? FlutterDesktopEngineGetMessenger(engine_) : nullptr;
  messenger_ = std::make_unique<BinaryMessengerImpl>(messenger, MessengerCalls::Library());
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
  next_frame_callback_ = nullptr;
  messenger_.reset();
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(
    const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) FlutterDesktopEngineReloadSystemFonts(engine_);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  if (engine_ != nullptr) {
    FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame, this);
  }
}

void FlutterEngine::OnNextFrame(void* user_data) noexcept {
  auto* self = static_cast<FlutterEngine*>(user_data);
  // Taken out before it runs: it runs at most once, and it may arm a new
  // callable without destroying itself mid-call.
  std::function<void()> callback = std::move(self->next_frame_callback_);
  self->next_frame_callback_ = nullptr;
  if (callback) callback();
}

}  // namespace flutter
