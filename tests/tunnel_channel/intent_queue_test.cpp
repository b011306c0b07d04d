// Changes asked for by intent on their worker: shared while the same intent
// is the last change, bounded, and each answered once, whatever its job
// does. Runs on the host presets too, under the thread checker.
#include "tunnel_channel/intent_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using Queued = IntentQueue<int>::Queued;

// Bounded only so that a lost answer fails the test instead of hanging it.
constexpr std::chrono::seconds kPatience(30);

// A change asked for again while it is the last one shares its outcome:
// one job, identical answers. The same intent behind another change is a
// change of its own, and beyond max_waiting (three) waiting changes the
// next one is answered at once.
TEST(IntentQueueTest, SameIntentAsTheLastChangeSharesItsJobAndTheWaitIsBounded) {
  IntentQueue<int> queue(3, -1);
  std::promise<void> started, release, last;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> jobs{0};
  std::mutex mutex;
  std::vector<std::string> answers;  // "<intent>=<outcome>", in the order given
  const auto job = [&](int outcome) {
    return [&, outcome] {
      ++jobs;
      if (outcome == 1) started.set_value();
      gate.wait();
      return outcome;
    };
  };
  const auto answer = [&](std::string intent) {
    return [&, intent](int outcome) {
      std::lock_guard<std::mutex> lock(mutex);
      answers.push_back(intent + "=" + std::to_string(outcome));
      if (answers.size() == 6) last.set_value();
    };
  };

  EXPECT_EQ(queue.Queue("connect a", job(1), answer("connect a")), Queued::kQueued);
  ASSERT_EQ(started.get_future().wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(queue.Queue("disconnect", job(2), answer("disconnect")), Queued::kQueued);
  EXPECT_EQ(queue.Queue("disconnect", job(98), answer("disconnect")), Queued::kShared);
  EXPECT_EQ(queue.Queue("connect a", job(3), answer("connect a")), Queued::kQueued);
  EXPECT_EQ(queue.Queue("connect c", job(4), answer("connect c")), Queued::kQueued);
  EXPECT_EQ(queue.Queue("connect b", job(99), answer("connect b")), Queued::kFull);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(answers, std::vector<std::string>{"connect b=-1"}) << "answered at once";
  }

  release.set_value();
  ASSERT_EQ(last.get_future().wait_for(kPatience), std::future_status::ready);
  queue.Join();
  EXPECT_EQ(jobs, 4);
  EXPECT_EQ(answers, (std::vector<std::string>{"connect b=-1", "connect a=1", "disconnect=2",
                                               "disconnect=2", "connect a=3", "connect c=4"}));
}

// A change that ended has left the queue: the same intent asked for again
// runs again. A job that throws is answered as unavailable and the next
// change still runs; a change running when the queue stops is answered.
TEST(IntentQueueTest, EachChangeIsAnsweredOnceWhateverItsJobDoes) {
  IntentQueue<int> queue(3, -1);
  std::promise<int> answered[4];
  const auto answer = [&](int i) {
    return [&answered, i](int outcome) { answered[i].set_value(outcome); };
  };
  const auto outcome_of = [&](int i) {
    std::future<int> future = answered[i].get_future();
    return future.wait_for(kPatience) == std::future_status::ready ? future.get() : -99;
  };

  EXPECT_EQ(queue.Queue(
                "connect a", [] { return 1; }, answer(0)),
            Queued::kQueued);
  EXPECT_EQ(outcome_of(0), 1);
  EXPECT_EQ(queue.Queue(
                "connect a", [] { return 2; }, answer(1)),
            Queued::kQueued);
  EXPECT_EQ(outcome_of(1), 2) << "a finished change is not shared";

  EXPECT_EQ(queue.Queue(
                "connect b", []() -> int { throw std::runtime_error("lost"); }, answer(2)),
            Queued::kQueued);
  EXPECT_EQ(outcome_of(2), -1);

  std::promise<void> started, release;
  std::shared_future<void> gate = release.get_future().share();
  EXPECT_EQ(queue.Queue(
                "disconnect",
                [&] {
                  started.set_value();
                  gate.wait();
                  return 3;
                },
                answer(3)),
            Queued::kQueued);
  ASSERT_EQ(started.get_future().wait_for(kPatience), std::future_status::ready);
  queue.Stop();
  EXPECT_EQ(queue.Queue(
                "connect c", [] { return 4; }, [](int) { ADD_FAILURE(); }),
            Queued::kStopped);
  release.set_value();
  EXPECT_EQ(outcome_of(3), 3) << "the running change is answered after the stop";
  queue.Join();
}

}  // namespace
}  // namespace tarnwick
