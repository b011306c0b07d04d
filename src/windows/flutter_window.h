// The application's one top-level window: a Win32Window whose content is the
// UI engine's view. It builds the view controller when its native window
// exists, registers the plug-ins and opens the tunnel channel (whose
// elevation prompts it owns), shows itself on the
// engine's first frame, and offers every window message to the embedding
// before handling it itself.
#pragma once

#include <windows.h>

#include <memory>

#include "embedding/engine_project.h"
#include "embedding/flutter_view_controller.h"
#include "tunnel_channel/tunnel_channel_registration.h"
#include "windows/win32_window.h"

namespace tarnwick {

class FlutterWindow : public Win32Window {
 public:
  // Keeps its own copy of project: the view controller is built from it later.
  explicit FlutterWindow(const flutter::EngineProject& project, WindowCalls calls = {});
  ~FlutterWindow() override;

 protected:
  LRESULT MessageHandler(HWND window, UINT const message, WPARAM const wparam,
                         LPARAM const lparam) noexcept override;
  bool OnCreate() override;
  void OnDestroy() override;

 private:
  flutter::EngineProject project_;
  // Made in OnCreate. Declared before the controller, so the engine has
  // ended before the channel goes; its destruction waits for an elevated
  // copy still running, after the message loop.
  std::unique_ptr<TunnelChannel> tunnel_channel_;
  // Null before OnCreate and after OnDestroy.
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
};

}  // namespace tarnwick
