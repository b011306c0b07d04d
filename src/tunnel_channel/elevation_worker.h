// The elevated copies of the interactive process run on a worker thread of
// their own, one after another in the order asked for, so the window goes
// on answering while a prompt is up and a copy runs.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tunnel_channel/elevation.h"
#include "tunnel_channel/serial_worker.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

// How many distinct tunnel changes may wait behind the running one.
constexpr size_t kMaxWaitingChanges = 3;

class ElevationWorker {
 public:
  // Called on the worker with the outcome of one elevated copy (on the
  // asking thread when it is answered at once).
  using Answer = std::function<void(ElevationOutcome)>;
  using Queued = IntentQueue<ElevationOutcome>::Queued;

  // owner: the window the prompts belong to (may be null). The worker only
  // hands it to the shell.
  explicit ElevationWorker(HWND owner, TunnelChannelCalls calls = {});
  // Stops, then waits for the running copy's wait, which ends within
  // kElevatedHelperTimeoutMs of the prompt being answered.
  ~ElevationWorker();

  ElevationWorker(const ElevationWorker&) = delete;
  ElevationWorker& operator=(const ElevationWorker&) = delete;

  // What Queue would do with a change of this intent now.
  [[nodiscard]] Queued Admit(const std::string& intent) { return changes_.Admit(intent); }

  // Queues an elevated copy with these parameters (RunSelfElevated) for the
  // intent, or shares the outcome of the last change when it has the same
  // intent. Once stopped, answer is destroyed uncalled; when the queue is
  // full or no thread can be started, it is called at once with kFailed.
  Queued Queue(const std::string& intent, std::wstring parameters, Answer answer);

  // Destroys the queued copies' answers uncalled, on this thread, and
  // refuses new ones; a copy already started goes on. Does not wait.
  void Stop();

 private:
  const TunnelChannelCalls calls_;
  const HWND owner_;
  // The worker thread's own.
  ElevationState state_;
  bool com_initialised_ = false;
  // Last: its thread ends before what it uses above goes.
  IntentQueue<ElevationOutcome> changes_;
};

}  // namespace tarnwick
