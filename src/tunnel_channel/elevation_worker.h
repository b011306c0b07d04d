// The elevated copies of the interactive process run on a worker thread of
// their own, one after another in the order asked for, so the window goes
// on answering while a prompt is up and a copy runs.
#pragma once

#include <functional>
#include <string>

#include "tunnel_channel/elevation.h"
#include "tunnel_channel/serial_worker.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

class ElevationWorker {
 public:
  // Called on the worker with the outcome of one elevated copy.
  using Answer = std::function<void(ElevationOutcome)>;

  // owner: the window the prompts belong to (may be null). The worker only
  // hands it to the shell.
  explicit ElevationWorker(HWND owner, TunnelChannelCalls calls = {});
  // Stops, then waits for the running copy's wait, which ends within
  // kElevatedHelperTimeoutMs of the prompt being answered.
  ~ElevationWorker();

  ElevationWorker(const ElevationWorker&) = delete;
  ElevationWorker& operator=(const ElevationWorker&) = delete;

  // Queues an elevated copy with these parameters (RunSelfElevated). Once
  // stopped, answer is destroyed uncalled; when no thread can be started,
  // it is called at once with kFailed.
  void Queue(std::wstring parameters, Answer answer);

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
  SerialWorker worker_;
};

}  // namespace tarnwick
