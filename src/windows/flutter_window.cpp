#include "windows/flutter_window.h"

#include <utility>

#include "windows/plugin_registration.h"

namespace tarnwick {

FlutterWindow::FlutterWindow(const flutter::EngineProject& project, WindowCalls calls)
    : Win32Window(std::move(calls)), project_(project) {}

// The controller goes first (members are destroyed in reverse order), so the
// engine has ended before the tunnel channel, the project and the native
// window go.
FlutterWindow::~FlutterWindow() = default;

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  // The window was created scaled to its monitor, so the client area is
  // already in physical pixels, which is what the view wants.
  const RECT frame = GetClientArea();
  flutter_controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  // Without an engine or a view the embedding could not start (it has said
  // why on standard error); the controller is torn down with the window.
  if (flutter_controller_->engine() == nullptr || flutter_controller_->view() == nullptr) {
    return false;
  }

  RegisterPlugins(flutter_controller_->engine());
  // Replaces the channel of an engine this window had before, which
  // OnDestroy has already ended.
  tunnel_channel_ =
      std::make_unique<TunnelChannel>(flutter_controller_->engine()->messenger(), GetHandle());
  SetChildContent(flutter_controller_->view()->GetNativeWindow());

  // The window was created hidden; showing it only once the engine has drawn
  // avoids flashing an empty frame. The window outlives the engine (the
  // controller goes in OnDestroy or the destructor), so a plain pointer does.
  flutter_controller_->engine()->SetNextFrameCallback([this]() { this->Show(); });
  // Armed first, then a frame is asked for: a first frame drawn before the
  // callback existed would otherwise leave the window hidden for good.
  flutter_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroy() {
  // The window goes now; an elevated copy may run for a while yet, and is
  // waited for only when this object goes.
  if (tunnel_channel_) tunnel_channel_->StopChanges();
  if (flutter_controller_) {
    // Out of the field before it is destroyed: messages sent while the view
    // goes must find no controller.
    std::unique_ptr<flutter::FlutterViewController> controller = std::move(flutter_controller_);
    controller.reset();
  }
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::MessageHandler(HWND window, UINT const message, WPARAM const wparam,
                                      LPARAM const lparam) noexcept {
  // The embedding sees every message first; one it consumes is finished.
  if (flutter_controller_) {
    std::optional<LRESULT> result =
        flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) return *result;
  }

  if (message == WM_FONTCHANGE && flutter_controller_) {
    flutter_controller_->engine()->ReloadSystemFonts();
  }

  return Win32Window::MessageHandler(window, message, wparam, lparam);
}

}  // namespace tarnwick
