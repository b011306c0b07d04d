// The UI engine of flutter_windows.dll behind an opaque handle: created from
// the engine project, handed to a view controller that runs it, and the
// source of the messenger, plug-in registrars and the next-frame callback.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/engine_project.h"
#include "embedding/flutter_windows_api.h"
#include "embedding/plugin_registry.h"

namespace flutter {

class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine (not yet running) and the messenger wrapper over it.
  explicit FlutterEngine(const EngineProject& project);
  // Ends the engine only while this wrapper still owns it.
  ~FlutterEngine() override;

  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) override;

  // Gives up ownership: the handle stays here and keeps serving every other
  // call, but destruction no longer ends the engine.
  FlutterDesktopEngineRef RelinquishEngine();

  void ReloadSystemFonts();

  // Runs callback once, after the engine's next frame. A callable armed
  // earlier and not yet run is dropped without running.
  void SetNextFrameCallback(std::function<void()> callback);

  BinaryMessenger* messenger() { return messenger_.get(); }

 private:
  static void OnNextFrame(void* user_data) noexcept;

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter
