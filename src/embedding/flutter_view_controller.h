// A view of a given pixel size running the UI engine. Exclusively owned by
// the host window; owns the engine wrapper (shared, so borrowers may keep a
// reference) and the view.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "embedding/engine_project.h"
#include "embedding/flutter_engine.h"
#include "embedding/flutter_view.h"
#include "embedding/flutter_windows_api.h"

namespace flutter {

class FlutterViewController {
 public:
  // On failure the controller has an engine but no view(); the owner treats
  // that as a failed start.
  FlutterViewController(int width, int height, const EngineProject& project);
  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;
  // Ends the view and the engine it runs before the engine wrapper and its
  // messenger go, so no message arrives at a destroyed handler.
  virtual ~FlutterViewController();

  FlutterEngine* engine() const { return engine_.get(); }
  FlutterView* view() const { return view_.get(); }

  void ForceRedraw();

  // Offers a top-level window message to the embedding first: a value when it
  // consumed the message, none when the caller should handle it.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                                  LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
