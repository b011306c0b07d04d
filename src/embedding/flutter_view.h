// The on-screen view of a view controller: gives the native child window
// that the host window embeds. The view handle belongs to the controller.
#pragma once

#include <windows.h>

#include "embedding/flutter_windows_api.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;
  virtual ~FlutterView() = default;

  // The view's child window.
  HWND GetNativeWindow() const;

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter
