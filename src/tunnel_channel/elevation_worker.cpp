#include "tunnel_channel/elevation_worker.h"

#include <utility>

namespace tarnwick {

ElevationWorker::ElevationWorker(HWND owner, TunnelChannelCalls calls)
    : calls_(std::move(calls)),
      owner_(owner),
      changes_(
          kMaxWaitingChanges, kFailed,
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

ElevationWorker::~ElevationWorker() { changes_.Join(); }

ElevationWorker::Queued ElevationWorker::Queue(const std::string& intent, std::wstring parameters,
                                               Answer answer) {
  return changes_.Queue(
      intent,
      [this, parameters = std::move(parameters)] {
        return RunSelfElevated(parameters, owner_, state_, calls_);
      },
      std::move(answer));
}

void ElevationWorker::Stop() { changes_.Stop(); }

}  // namespace tarnwick
