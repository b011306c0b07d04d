#include "tunnel_channel/serial_worker.h"

#include <system_error>
#include <utility>

namespace tarnwick {

SerialWorker::SerialWorker(Task on_start, Task on_end)
    : on_start_(std::move(on_start)), on_end_(std::move(on_end)) {}

SerialWorker::~SerialWorker() { Join(); }

SerialWorker::Posted SerialWorker::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopped_) {
      if (!thread_.joinable()) {
        try {
          thread_ = std::thread(&SerialWorker::Run, this);
        } catch (const std::system_error&) {
          return Posted::kNoThread;  // the task goes with this frame, unrun
        }
      }
      queue_.push_back(std::move(task));
      wake_.notify_one();
      return Posted::kQueued;
    }
  }
  return Posted::kStopped;
}

void SerialWorker::Stop() {
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    dropped.swap(queue_);
  }
  wake_.notify_one();
  // Destroyed here, outside the lock: what a task owns may take time to
  // give back, and must not hold up the worker.
}

void SerialWorker::Join() {
  Stop();
  // No Post starts a thread once stopped, so the thread object is settled.
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    thread.swap(thread_);
  }
  if (thread.joinable()) thread.join();
}

void SerialWorker::Run() {
  if (on_start_) on_start_();
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
      // Stop empties the queue, so an empty one here means stopped.
      if (queue_.empty()) break;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    // A task that throws loses only itself: the tasks behind it still run,
    // and nothing escapes the thread to end the process.
    try {
      task();
    } catch (...) {
    }
    // What the task owns goes here, on this thread, before the next one.
    task = nullptr;
  }
  if (on_end_) on_end_();
}

}  // namespace tarnwick
