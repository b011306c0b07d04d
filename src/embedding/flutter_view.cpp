#include "embedding/flutter_view.h"

namespace flutter {

HWND FlutterView::GetNativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

}  // namespace flutter
