#include "tunnel_channel/elevation_worker.h"

#include <memory>
#include <utility>

namespace tarnwick {

ElevationWorker::ElevationWorker(HWND owner, TunnelChannelCalls calls)
    : calls_(std::move(calls)),
      owner_(owner),
      worker_(
          [this] {
            // The shell may hand the "runas" request to COM components,
            // which want an apartment on the calling thread.
            const HRESULT result =
                calls_.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
            com_initialised_ = SUCCEEDED(result);
          },
          [this] {
            if (com_initialised_) calls_.CoUninitialize();
          }) {}

ElevationWorker::~ElevationWorker() { worker_.Join(); }

void ElevationWorker::Queue(std::wstring parameters, Answer answer) {
  // Shared so that this frame keeps the answer when the task is refused.
  auto shared = std::make_shared<Answer>(std::move(answer));
  const SerialWorker::Posted posted =
      worker_.Post([this, parameters = std::move(parameters), shared] {
        (*shared)(RunSelfElevated(parameters, owner_, state_, calls_));
      });
  if (posted == SerialWorker::Posted::kNoThread) (*shared)(kFailed);
  // Stopped: the answer goes with this frame, uncalled, as the window ends.
}

void ElevationWorker::Stop() { worker_.Stop(); }

}  // namespace tarnwick
