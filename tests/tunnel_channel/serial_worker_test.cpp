// The worker queue: tasks one after another on one thread of its own, in
// the order queued; Stop drops what has not started; and method results
// answered from the worker through the messenger's lock while the engine
// ends. Runs on the host presets too, under the
// thread checker.
#include "tunnel_channel/serial_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "embedding/binary_messenger.h"
#include "embedding/method_channel.h"
#include "embedding/standard_method_codec.h"
#include "tests/support/fake_messenger.h"

namespace tarnwick {
namespace {

using Posted = SerialWorker::Posted;

// Bounded only so that a lost task fails the test instead of hanging it.
constexpr std::chrono::seconds kPatience(30);

// Tells, when destroyed, on which thread that was and whether its task ran.
struct Watch {
  bool ran = false;
  std::thread::id destroyed_on;
};
class Watched {
 public:
  explicit Watched(Watch* watch) : watch_(watch) {}
  ~Watched() { watch_->destroyed_on = std::this_thread::get_id(); }
  void Run() { watch_->ran = true; }

 private:
  Watch* watch_;
};

TEST(SerialWorkerTest, RunsTasksInOrderOnOneThreadOfItsOwn) {
  // Written only on the worker, read after the join.
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;
  auto note = [&](std::string event) {
    events.push_back(std::move(event));
    threads.push_back(std::this_thread::get_id());
  };
  SerialWorker worker([&] { note("start"); }, [&] { note("end"); });
  std::vector<std::string> expected = {"start"};
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(worker.Post([&note, i] { note(std::to_string(i)); }), Posted::kQueued);
    expected.push_back(std::to_string(i));
  }
  std::promise<void> last;
  EXPECT_EQ(worker.Post([&last] { last.set_value(); }), Posted::kQueued);
  ASSERT_EQ(last.get_future().wait_for(kPatience), std::future_status::ready);
  worker.Join();
  expected.push_back("end");

  EXPECT_EQ(events, expected);
  ASSERT_FALSE(threads.empty());
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  for (const std::thread::id& thread : threads) EXPECT_EQ(thread, threads.front());
}

TEST(SerialWorkerTest, StopDropsWhatHasNotStartedAndWaitsForNothing) {
  SerialWorker worker;
  std::promise<void> started;
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  Watch running;
  {
    auto task = std::make_shared<Watched>(&running);
    ASSERT_EQ(worker.Post([task, &started, opened] {
      started.set_value();
      opened.wait();
      task->Run();
    }),
              Posted::kQueued);
  }
  Watch queued[3];
  for (Watch& watch : queued) {
    auto task = std::make_shared<Watched>(&watch);
    ASSERT_EQ(worker.Post([task] { task->Run(); }), Posted::kQueued);
  }
  ASSERT_EQ(started.get_future().wait_for(kPatience), std::future_status::ready);

  // Returns while the running task still waits at its gate.
  worker.Stop();
  for (const Watch& watch : queued) {
    EXPECT_FALSE(watch.ran);
    EXPECT_EQ(watch.destroyed_on, std::this_thread::get_id()) << "dropped by Stop, here";
  }
  Watch late;
  {
    auto task = std::make_shared<Watched>(&late);
    EXPECT_EQ(worker.Post([task] { task->Run(); }), Posted::kStopped);
  }
  EXPECT_FALSE(late.ran);
  EXPECT_EQ(late.destroyed_on, std::this_thread::get_id());

  gate.set_value();
  worker.Join();
  EXPECT_TRUE(running.ran) << "the running task finishes";
  EXPECT_NE(running.destroyed_on, std::this_thread::get_id()) << "and goes on the worker";
}

// Method calls decoded by the channel are answered from the worker while
// this thread ends the engine: each answer is delivered under the lock or
// dropped, and every result is given back, answered or not.
TEST(SerialWorkerTest, AnswersFromTheWorkerWhileTheEngineEnds) {
  constexpr int kMessages = 8;
  // "getStatus" with null arguments, as the UI sends it.
  const std::vector<uint8_t> call = {0x07, 0x09, 'g', 'e', 't', 'S', 't', 'a', 't', 'u', 's', 0x00};
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    FakeMessenger fake;
    flutter::BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
    flutter::MethodChannel channel(&messenger, "c", &flutter::StandardMethodCodec::GetInstance());
    SerialWorker worker;
    channel.SetMethodCallHandler(
        [&worker](const flutter::MethodCall&, std::unique_ptr<flutter::MethodResult> result) {
          std::shared_ptr<flutter::MethodResult> shared(std::move(result));
          worker.Post([shared] { shared->Success(flutter::EncodableValue(true)); });
        });

    testing::internal::CaptureStderr();
    for (int i = 0; i < kMessages; ++i) ASSERT_NE(fake.Deliver("c", call), 0);
    // The engine ends while the worker answers, then what is left is
    // dropped and the worker waited for, as at the window's end.
    fake.ShutDown();
    worker.Stop();
    worker.Join();
    const std::string warnings = testing::internal::GetCapturedStderr();

    size_t dropped_unanswered = 0;
    const std::string warning = "Warning: Failed to respond to a message.";
    for (size_t at = warnings.find(warning); at != std::string::npos;
         at = warnings.find(warning, at + 1)) {
      ++dropped_unanswered;
    }
    const auto responses = fake.responses();
    for (const auto& response : responses) {
      EXPECT_EQ(response.bytes, (std::vector<uint8_t>{0x00, 0x01}));
    }
    // Every message: delivered, refused after the end, or dropped unstarted.
    EXPECT_EQ(responses.size() + fake.unavailable_answers() + dropped_unanswered,
              static_cast<size_t>(kMessages));
    EXPECT_EQ(fake.unanswered(), kMessages - static_cast<int>(responses.size()));
    EXPECT_EQ(fake.locks(), fake.unlocks());
    EXPECT_EQ(fake.held_references(), 0);
    EXPECT_EQ(fake.add_refs(), fake.releases());
    for (const std::string& violation : fake.violations()) ADD_FAILURE() << violation;
  }
}

}  // namespace
}  // namespace tarnwick
