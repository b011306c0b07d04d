// Changes asked for by intent, run one after another on a worker thread of
// their own. Portable (no Windows calls), so the host's thread checker runs
// it too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tunnel_channel/serial_worker.h"

namespace tarnwick {

// Changes asked for by intent (such as "connect with this configuration"),
// run one after another on a SerialWorker of their own. A change asked for
// again while the same intent is the last one queued or running shares that
// change's outcome instead of running twice (a double click is one prompt);
// at most max_waiting distinct changes wait behind the running one, and one
// more is answered `unavailable` at once. Answers are called on the worker,
// except those answered at once, which are called on the asking thread.
template <typename Outcome>
class IntentQueue {
 public:
  using Job = std::function<Outcome()>;
  using Answer = std::function<void(Outcome)>;

  enum class Queued {
    kQueued,
    kShared,    // joined the last change, which had the same intent
    kFull,      // answered `unavailable` at once
    kStopped,   // the answer was destroyed uncalled
    kNoThread,  // answered `unavailable` at once
  };

  IntentQueue(size_t max_waiting, Outcome unavailable, SerialWorker::Task on_start = {},
              SerialWorker::Task on_end = {})
      : max_waiting_(max_waiting),
        unavailable_(unavailable),
        worker_(std::move(on_start), std::move(on_end)) {}

  IntentQueue(const IntentQueue&) = delete;
  IntentQueue& operator=(const IntentQueue&) = delete;

  // Decides, under the one lock that also queues, whether the change is
  // new, shares the last one or is refused, and acts on it: a new change
  // runs job, a shared one only adds answer to the last change's, and a
  // refused one is answered at once.
  Queued Queue(const std::string& intent, Job job, Answer answer) {
    std::unique_lock<std::mutex> lock(mutex_);
    const Queued admitted = Admit(intent);
    if (admitted == Queued::kShared) {
      changes_.back()->answers.push_back(std::move(answer));
      return Queued::kShared;
    }
    if (admitted == Queued::kFull) {
      lock.unlock();
      answer(unavailable_);
      return Queued::kFull;
    }
    auto change = std::make_shared<Change>();
    change->intent = intent;
    change->answers.push_back(std::move(answer));
    changes_.push_back(change);
    // Posted under the lock, so no request shares a change that never runs.
    const SerialWorker::Posted posted =
        worker_.Post([this, change, job = std::move(job)] { Run(*change, job); });
    if (posted == SerialWorker::Posted::kQueued) return Queued::kQueued;
    changes_.pop_back();
    lock.unlock();
    if (posted == SerialWorker::Posted::kStopped) return Queued::kStopped;
    for (const Answer& each : change->answers) each(unavailable_);
    return Queued::kNoThread;
  }

  // Destroys the waiting changes' answers uncalled, on this thread, and
  // refuses new ones; the running change goes on and is answered.
  void Stop() {
    std::deque<std::shared_ptr<Change>> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& change : changes_) {
        if (!change->started) dropped.push_back(std::move(change));
      }
      changes_.erase(std::remove(changes_.begin(), changes_.end(), nullptr), changes_.end());
    }
    worker_.Stop();
    for (auto& change : dropped) change->answers.clear();
  }

  // Stops, then waits for the running change and the thread to end.
  void Join() {
    Stop();
    worker_.Join();
  }

 private:
  struct Change {
    std::string intent;
    std::vector<Answer> answers;
    bool started = false;
  };

  Queued Admit(const std::string& intent) const {
    if (!changes_.empty() && changes_.back()->intent == intent) return Queued::kShared;
    size_t waiting = 0;
    for (const auto& change : changes_) waiting += change->started ? 0 : 1;
    return waiting >= max_waiting_ ? Queued::kFull : Queued::kQueued;
  }

  void Run(Change& change, const Job& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change.started = true;
    }
    // A job that throws is a change that failed: its answers are still
    // given, and the change leaves the queue.
    Outcome outcome = unavailable_;
    try {
      outcome = job();
    } catch (...) {
    }
    std::vector<Answer> answers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answers.swap(change.answers);
      if (!changes_.empty() && changes_.front().get() == &change) changes_.pop_front();
    }
    for (const Answer& answer : answers) answer(outcome);
  }

  const size_t max_waiting_;
  const Outcome unavailable_;
  std::mutex mutex_;                             // guards changes_ and what they hold
  std::deque<std::shared_ptr<Change>> changes_;  // queued and running, in order
  // Last: its thread ends before what it uses above goes.
  SerialWorker worker_;
};

}  // namespace tarnwick
