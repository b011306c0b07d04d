#include "tunnel_channel/elevation_worker.h"

#include <optional>
#include <utility>

#include "platform/command_line.h"
#include "tunnel_channel/config_staging.h"

namespace tarnwick {

ElevationWorker::ElevationWorker(HWND owner, TunnelChannelCalls calls)
    : calls_(std::move(calls)),
      owner_(owner),
      changes_(
          kMaxWaitingChanges, ChangeOutcome::kFailed,
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

ElevationWorker::Queued ElevationWorker::Connect(std::string config, Answer answer) {
  std::string intent = std::string(kConnectIntent) + kIntentSeparator + config;
  return changes_.Queue(
      intent, [this, config = std::move(config)] { return RunConnect(config); }, std::move(answer));
}

ElevationWorker::Queued ElevationWorker::Disconnect(Answer answer) {
  return changes_.Queue(
      kDisconnectIntent, [this] { return Elevate(kRemoveSwitch); }, std::move(answer));
}

void ElevationWorker::Stop() { changes_.Stop(); }

ChangeOutcome ElevationWorker::RunConnect(const std::string& config) {
  // Staged now, right before this change's own elevation: a later connect
  // cannot replace the text between the two.
  const std::wstring path = WriteTunnelConfig(config, calls_);
  // No elevation prompt for a configuration the service could not read.
  if (path.empty()) return ChangeOutcome::kConfigNotWritten;
  // Without its path the switch would not choose the install mode.
  const std::optional<std::wstring> quoted = QuoteArgument(path);
  if (!quoted) return ChangeOutcome::kFailed;
  return Elevate(std::wstring(kInstallSwitch) + L" " + *quoted);
}

ChangeOutcome ElevationWorker::Elevate(const std::wstring& parameters) {
  switch (RunSelfElevated(parameters, owner_, state_, calls_)) {
    case kSucceeded: return ChangeOutcome::kSucceeded;
    case kCancelled: return ChangeOutcome::kCancelled;
    case kFailed: break;
  }
  return ChangeOutcome::kFailed;
}

}  // namespace tarnwick
