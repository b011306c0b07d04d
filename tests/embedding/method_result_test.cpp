#include "embedding/method_result.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "embedding/standard_method_codec.h"
#include "tests/embedding/cerr_capture.h"
#include "tests/support/bytes.h"

namespace flutter {
namespace {

using tarnwick::Hex;

const std::string kDuplicate =
    "Error: Only one of Success, Error, or NotImplemented can be called, and "
    "it can be called exactly once. Ignoring duplicate result.\n";
const std::string kLeak = "Warning: Failed to respond to a message. This is a memory leak.\n";

// What reached the engine through one message's reply.
struct Replies {
  struct Reply {
    bool null_bytes;
    std::vector<uint8_t> bytes;
  };
  std::vector<Reply> sent;

  BinaryReply Callable() {
    return [this](const uint8_t* bytes, size_t size) {
      sent.push_back({bytes == nullptr,
                      bytes ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>()});
      EXPECT_TRUE(bytes != nullptr || size == 0);
    };
  }
};

std::unique_ptr<EngineMethodResult> MakeResult(Replies* replies) {
  return std::make_unique<EngineMethodResult>(replies->Callable(),
                                              &StandardMethodCodec::GetInstance());
}

TEST(EngineMethodResult, EachAnswerSendsItsEnvelopeOnce) {
  struct Case {
    const char* what;
    std::function<void(MethodResult&)> answer;
    bool null_bytes;
    std::string hex;
  };
  const Case cases[] = {
      {"success with a value", [](MethodResult& r) { r.Success(EncodableValue(true)); }, false,
       "00 01"},
      {"success without a value is not the empty reply", [](MethodResult& r) { r.Success(); },
       false, "00 00"},
      {"error without details", [](MethodResult& r) { r.Error("E", "m"); }, false,
       "01 07 01 45 07 01 6D 00"},
      {"error with details", [](MethodResult& r) { r.Error("E", "", EncodableValue(false)); },
       false, "01 07 01 45 00 02"},
      {"not implemented is the empty reply", [](MethodResult& r) { r.NotImplemented(); }, true, ""},
  };
  for (const Case& c : cases) {
    Replies replies;
    tarnwick::CerrCapture err;
    {
      auto result = MakeResult(&replies);
      c.answer(*result);
    }
    ASSERT_EQ(replies.sent.size(), 1u) << c.what;
    EXPECT_EQ(replies.sent[0].null_bytes, c.null_bytes) << c.what;
    EXPECT_EQ(Hex(replies.sent[0].bytes), c.hex) << c.what;
    EXPECT_EQ(err.text(), "") << c.what << ": answered, then destroyed silently";
  }
}

TEST(EngineMethodResult, LaterAnswersAreRefused) {
  Replies replies;
  tarnwick::CerrCapture err;
  {
    auto result = MakeResult(&replies);
    result->Success(EncodableValue(int32_t{1}));
    result->Error("E", "late");
    EXPECT_EQ(err.text(), kDuplicate);
    result->NotImplemented();
  }
  ASSERT_EQ(replies.sent.size(), 1u);
  EXPECT_EQ(Hex(replies.sent[0].bytes), "00 03 01 00 00 00");
  EXPECT_EQ(err.text(), kDuplicate + kDuplicate);
  EXPECT_TRUE(err.each_line_flushed());
}

TEST(EngineMethodResult, UnansweredResultWarnsAndSendsNothing) {
  Replies replies;
  tarnwick::CerrCapture err;
  MakeResult(&replies).reset();
  EXPECT_TRUE(replies.sent.empty());
  EXPECT_EQ(err.text(), kLeak);
  EXPECT_TRUE(err.each_line_flushed());
}

TEST(EngineMethodResult, AnsweringReleasesWhatTheReplyHolds) {
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watch = held;
  int calls = 0;
  EngineMethodResult result([held = std::move(held), &calls](const uint8_t*, size_t) { ++calls; },
                            &StandardMethodCodec::GetInstance());
  EXPECT_FALSE(watch.expired());
  result.Success();
  EXPECT_TRUE(watch.expired()) << "the reply's captures outlived the answer";
  EXPECT_EQ(calls, 1);
}

TEST(ReplyManager, EmptyOrMissingDataIsTheEmptyReply) {
  const std::vector<uint8_t> empty;
  const std::vector<uint8_t> two = {4, 2};
  struct Case {
    const std::vector<uint8_t>* data;
    bool null_bytes;
    std::string hex;
  };
  const Case cases[] = {{nullptr, true, ""}, {&empty, true, ""}, {&two, false, "04 02"}};
  for (const Case& c : cases) {
    Replies replies;
    ReplyManager manager(replies.Callable());
    manager.SendResponseData(c.data);
    ASSERT_EQ(replies.sent.size(), 1u);
    EXPECT_EQ(replies.sent[0].null_bytes, c.null_bytes) << c.hex;
    EXPECT_EQ(Hex(replies.sent[0].bytes), c.hex);
  }
}

}  // namespace
}  // namespace flutter
