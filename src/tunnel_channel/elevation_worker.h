// The tunnel changes of the interactive process run on a worker thread of
// their own, one after another in the order asked for, so the window goes
// on answering while a prompt is up and a copy runs. A change carries what
// it needs: a connect stages its own configuration right before its own
// elevation, so the copy it starts installs exactly that text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tunnel_channel/elevation.h"
#include "tunnel_channel/intent_queue.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

// How many distinct tunnel changes may wait behind the running one.
constexpr size_t kMaxWaitingChanges = 3;

// Intents compare as strings. A disconnect's is its name alone; a
// connect's is its name, this separator and the configuration text, so two
// connects share an answer only when their texts are equal, and no text
// can make a connect's intent read as another kind of change.
inline constexpr char kIntentSeparator = '\n';
inline constexpr char kConnectIntent[] = "connect";
inline constexpr char kDisconnectIntent[] = "disconnect";

// What became of one tunnel change.
enum class ChangeOutcome {
  kSucceeded,
  kCancelled,         // the elevation prompt was declined
  kFailed,            // the elevated copy failed, or the change was refused
  kConfigNotWritten,  // a connect whose configuration could not be staged
};

class ElevationWorker {
 public:
  // Called on the worker with the outcome of the change (on the asking
  // thread when it is answered at once).
  using Answer = std::function<void(ChangeOutcome)>;
  using Queued = IntentQueue<ChangeOutcome>::Queued;

  // owner: the window the prompts belong to (may be null). The worker only
  // hands it to the shell.
  explicit ElevationWorker(HWND owner, TunnelChannelCalls calls = {});
  // Stops, then waits for the running copy's wait, which ends within
  // kElevatedHelperTimeoutMs of the prompt being answered.
  ~ElevationWorker();

  ElevationWorker(const ElevationWorker&) = delete;
  ElevationWorker& operator=(const ElevationWorker&) = delete;

  // Queues a connect with this configuration: when it runs, the text is
  // written to the configuration file (WriteTunnelConfig) and the elevated
  // copy installs it. Shares the outcome of the last change when that is a
  // connect with the same text. Once stopped, answer is destroyed uncalled;
  // when the queue is full or no thread can be started, it is called at
  // once with kFailed.
  Queued Connect(std::string config, Answer answer);
  // Queues a disconnect, the same way.
  Queued Disconnect(Answer answer);

  // Destroys the queued changes' answers uncalled, on this thread, and
  // refuses new ones; a change already started goes on. Does not wait.
  void Stop();

 private:
  ChangeOutcome RunConnect(const std::string& config);
  ChangeOutcome Elevate(const std::wstring& parameters);

  const TunnelChannelCalls calls_;
  const HWND owner_;
  // The worker thread's own.
  ElevationState state_;
  bool com_initialised_ = false;
  // Last: its thread ends before what it uses above goes.
  IntentQueue<ChangeOutcome> changes_;
};

}  // namespace tarnwick
