// One thread of its own that runs queued tasks one after another, in the
// order they were queued. Portable (no Windows calls), so the host's thread
// checker runs it too.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace tarnwick {

class SerialWorker {
 public:
  using Task = std::function<void()>;

  enum class Posted {
    kQueued,
    kStopped,   // Stop was called: the task was destroyed unrun
    kNoThread,  // the thread could not be started: the task was destroyed unrun
  };

  // on_start runs on the worker thread before its first task, on_end after
  // its last. The thread starts with the first task, so a worker never
  // given one costs no thread.
  explicit SerialWorker(Task on_start = {}, Task on_end = {});
  // Stops and joins.
  ~SerialWorker();

  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  // Queues a task behind those already queued.
  Posted Post(Task task);

  // Refuses new tasks and destroys the queued ones unrun, on the calling
  // thread. The running task goes on; this does not wait for it.
  void Stop();

  // Stops, then waits for the running task and the thread to end.
  void Join();

 private:
  void Run();

  const Task on_start_;
  const Task on_end_;
  std::mutex mutex_;  // guards the three below
  std::condition_variable wake_;
  std::deque<Task> queue_;
  bool stopped_ = false;
  std::thread thread_;
};

}  // namespace tarnwick
