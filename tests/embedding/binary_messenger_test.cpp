#include "embedding/binary_messenger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_messenger.h"

namespace flutter {
namespace {

using tarnwick::FakeMessenger;
using Bytes = std::vector<uint8_t>;

const char kDuplicateLine[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";

// A handler that keeps every reply it is given, for answering later.
struct KeptReplies {
  std::vector<Bytes> messages;
  std::vector<BinaryReply> replies;

  BinaryMessageHandler Handler() {
    return [this](const uint8_t* message, size_t size, BinaryReply reply) {
      messages.emplace_back(message, message + size);
      replies.push_back(std::move(reply));
    };
  }
};

TEST(BinaryMessengerTest, RebindingReplacesTheHandlerInPlace) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  std::vector<std::string> ran;
  messenger.SetMessageHandler("m",
                              [&](const uint8_t*, size_t, BinaryReply) { ran.push_back("first"); });
  void* bound_at = fake.binding("m").user_data;
  // Names on both sides of "m", and one removed again, rebalance the table
  // around the entry; its address must not change.
  for (const char* other : {"a", "z", "mm", "b"}) {
    messenger.SetMessageHandler(other, [](const uint8_t*, size_t, BinaryReply) {});
  }
  messenger.SetMessageHandler("mm", nullptr);
  messenger.SetMessageHandler("m", [&](const uint8_t*, size_t, BinaryReply reply) {
    ran.push_back("second");
    reply(nullptr, 0);
  });

  EXPECT_EQ(fake.binding("m").user_data, bound_at);
  EXPECT_NE(fake.binding("m").callback, nullptr);
  EXPECT_NE(fake.Deliver("m", {1}), 0);
  EXPECT_EQ(ran, std::vector<std::string>{"second"});
}

TEST(BinaryMessengerTest, UnbindingClearsTheEngineCallbackAndDropsTheHandler) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());

  messenger.SetMessageHandler("never.bound", nullptr);
  auto calls = fake.set_callback_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].channel, "never.bound");
  EXPECT_EQ(calls[0].binding.callback, nullptr);
  EXPECT_EQ(calls[0].binding.user_data, nullptr);

  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  messenger.SetMessageHandler("bound", [captured](const uint8_t*, size_t, BinaryReply) {});
  captured.reset();
  ASSERT_FALSE(watch.expired());
  messenger.SetMessageHandler("bound", nullptr);
  EXPECT_TRUE(watch.expired()) << "the unbound handler is still held";
  EXPECT_EQ(fake.binding("bound").callback, nullptr);
}

TEST(BinaryMessengerTest, ReplyAnswersTheMessageOnceUnderTheLock) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  KeptReplies kept;
  messenger.SetMessageHandler("c", kept.Handler());

  int first = fake.Deliver("c", {7, 8, 9});
  int second = fake.Deliver("c", {});
  ASSERT_EQ(kept.replies.size(), 2u);
  EXPECT_EQ(kept.messages[0], (Bytes{7, 8, 9}));
  EXPECT_TRUE(kept.messages[1].empty());
  // Every kept reply holds one engine-side reference until it goes.
  EXPECT_EQ(fake.held_references(), 2);

  // Answered after the delivery returned, the second one from another thread.
  const Bytes answer = {0, 1};
  kept.replies[0](answer.data(), answer.size());
  std::thread([&] { kept.replies[1](nullptr, 0); }).join();

  auto responses = fake.responses();
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[0].message_id, first);
  EXPECT_EQ(responses[0].bytes, answer);
  EXPECT_EQ(responses[1].message_id, second);
  EXPECT_TRUE(responses[1].data_was_null);
  EXPECT_EQ(fake.locks(), 2);
  EXPECT_EQ(fake.unlocks(), 2);
  EXPECT_FALSE(fake.locked());

  kept.replies.clear();
  EXPECT_EQ(fake.held_references(), 0);
  EXPECT_EQ(fake.add_refs(), fake.releases());
  EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
}

TEST(BinaryMessengerTest, SecondAnswerThroughAnyCopyIsRefused) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  KeptReplies kept;
  messenger.SetMessageHandler("c", kept.Handler());
  fake.Deliver("c", {1});
  ASSERT_EQ(kept.replies.size(), 1u);
  BinaryReply copy = kept.replies[0];

  testing::internal::CaptureStderr();
  kept.replies[0](nullptr, 0);
  kept.replies[0](nullptr, 0);
  // A copy shares the one response handle: the engine frees a handle when it
  // is answered, so a second answer through a copy must not reach it.
  copy(nullptr, 0);
  std::string err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(fake.responses().size(), 1u);
  EXPECT_EQ(err, std::string(kDuplicateLine) + kDuplicateLine);
  EXPECT_EQ(fake.locks(), fake.unlocks());
  EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
}

TEST(BinaryMessengerTest, AnswerAfterTheEngineEndedIsDroppedSilently) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  KeptReplies kept;
  messenger.SetMessageHandler("c", kept.Handler());
  fake.Deliver("c", {1});
  fake.ShutDown();

  testing::internal::CaptureStderr();
  kept.replies[0](nullptr, 0);
  kept.replies[0](nullptr, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  EXPECT_TRUE(fake.responses().empty());
  EXPECT_EQ(fake.unavailable_answers(), 2);
  EXPECT_EQ(fake.unlocks(), 2) << "the lock must be released on the dropped path";
  EXPECT_FALSE(fake.locked());
  kept.replies.clear();
  EXPECT_EQ(fake.held_references(), 0);
  EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
}

TEST(BinaryMessengerTest, NoLockTokenMeansNoUnlock) {
  FakeMessenger fake;
  fake.set_lock_gives_null_token(true);
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  messenger.SetMessageHandler("c", [](const uint8_t*, size_t, BinaryReply reply) {
    const uint8_t byte = 5;
    reply(&byte, 1);
  });
  fake.Deliver("c", {});
  ASSERT_EQ(fake.responses().size(), 1u);
  EXPECT_EQ(fake.responses()[0].bytes, Bytes{5});
  EXPECT_EQ(fake.unlocks(), 0);
  EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
}

TEST(BinaryMessengerTest, HandlerMayUnbindItsOwnChannelWhileRunning) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  bool alive_after_unbind = false;
  messenger.SetMessageHandler("c", [&messenger, &watch, &alive_after_unbind, captured](
                                       const uint8_t*, size_t, BinaryReply reply) {
    messenger.SetMessageHandler("c", nullptr);
    // The bound handler is gone now; this call's own state must not be.
    alive_after_unbind = !watch.expired() && captured != nullptr;
    reply(nullptr, 0);
  });
  captured.reset();
  fake.Deliver("c", {});
  EXPECT_TRUE(alive_after_unbind);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(fake.responses().size(), 1u);
}

TEST(BinaryMessengerTest, SendWithAndWithoutReply) {
  FakeMessenger fake;
  BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  const Bytes payload = {4, 2};

  messenger.Send("plain", payload.data(), payload.size());
  int replies = 0;
  Bytes replied;
  messenger.Send("asking", payload.data(), payload.size(), [&](const uint8_t* data, size_t size) {
    ++replies;
    replied.assign(data, data + size);
  });
  auto sends = fake.sends();
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[0].channel, "plain");
  EXPECT_EQ(sends[0].bytes, payload);
  EXPECT_EQ(sends[0].reply, nullptr) << "no reply wanted, so no holder";
  EXPECT_EQ(sends[1].channel, "asking");
  ASSERT_NE(sends[1].reply, nullptr);
  fake.AnswerSend(1, {9});
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(replied, Bytes{9});

  // A refused send frees its holder at once and never calls the reply.
  fake.set_send_with_reply_fails(true);
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  messenger.Send("refused", payload.data(), payload.size(),
                 [captured, &replies](const uint8_t*, size_t) { ++replies; });
  captured.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(replies, 1);
}

// Replies answered from many threads while the UI thread ends the engine:
// each is delivered or dropped, none reaches the engine after its end, the
// lock is always given back and every reference taken is returned. The
// fake checks lock ownership and availability itself, so this proves the
// protocol in any build; under TSan it also proves the absence of races.
TEST(BinaryMessengerTest, RepliesRacingEngineShutdownAreDeliveredOrDropped) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 200;
  FakeMessenger fake;
  auto messenger = std::make_unique<BinaryMessengerImpl>(fake.handle(), FakeMessenger::Calls());
  KeptReplies kept;
  messenger->SetMessageHandler("race", kept.Handler());
  for (int i = 0; i < kThreads * kPerThread; ++i) fake.Deliver("race", {static_cast<uint8_t>(i)});
  ASSERT_EQ(kept.replies.size(), static_cast<size_t>(kThreads * kPerThread));

  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    // Each thread owns its slice, so the last copy of each reply (and the
    // engine-side release with it) goes on that thread.
    std::vector<BinaryReply> slice(kept.replies.begin() + t * kPerThread,
                                   kept.replies.begin() + (t + 1) * kPerThread);
    threads.emplace_back([slice = std::move(slice), &ready, &go, &answered]() mutable {
      ++ready;
      while (!go) std::this_thread::yield();
      for (BinaryReply& reply : slice) {
        const uint8_t byte = 1;
        reply(&byte, 1);
        reply = nullptr;
        ++answered;
      }
    });
  }
  kept.replies.clear();
  while (ready < kThreads) std::this_thread::yield();
  go = true;
  // End the engine once the answers are under way, as a window closing
  // while answers are still in flight would.
  while (answered < kThreads * kPerThread / 4) std::this_thread::yield();
  fake.ShutDown();
  for (std::thread& thread : threads) thread.join();
  messenger.reset();

  const int delivered = static_cast<int>(fake.responses().size());
  EXPECT_EQ(delivered + fake.unavailable_answers(), kThreads * kPerThread);
  EXPECT_GT(delivered, 0);
  EXPECT_EQ(fake.locks(), kThreads * kPerThread);
  EXPECT_EQ(fake.unlocks(), fake.locks());
  EXPECT_FALSE(fake.locked());
  EXPECT_EQ(fake.add_refs(), kThreads * kPerThread);
  EXPECT_EQ(fake.releases(), fake.add_refs());
  EXPECT_EQ(fake.held_references(), 0);
  auto violations = fake.violations();
  EXPECT_TRUE(violations.empty()) << violations.size()
                                  << " violations, first: " << violations.front();
}

}  // namespace
}  // namespace flutter
