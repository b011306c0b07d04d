#include "embedding/method_channel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/standard_method_codec.h"
#include "tests/support/fake_messenger.h"

namespace flutter {
namespace {

using tarnwick::FakeMessenger;
using Bytes = std::vector<uint8_t>;

const char kChannel[] = "com.tarnwick.vpn/tunnel";

// 07 0B "startTunnel" 0D 01 07 06 "config" 07 03 "abc"
Bytes StartTunnelCall() {
  Bytes bytes = {0x07, 0x0B};
  for (char c : std::string("startTunnel")) bytes.push_back(static_cast<uint8_t>(c));
  bytes.insert(bytes.end(), {0x0D, 0x01, 0x07, 0x06});
  for (char c : std::string("config")) bytes.push_back(static_cast<uint8_t>(c));
  bytes.insert(bytes.end(), {0x07, 0x03, 'a', 'b', 'c'});
  return bytes;
}

class MethodChannelTest : public testing::Test {
 protected:
  FakeMessenger fake_;
  BinaryMessengerImpl messenger_{fake_.handle(), FakeMessenger::Calls()};
  const MethodCodec* codec_ = &StandardMethodCodec::GetInstance();
};

TEST_F(MethodChannelTest, DecodedCallReachesTheHandlerAndItsAnswerTheEngine) {
  MethodChannel channel(&messenger_, kChannel, codec_);
  std::string method;
  EncodableValue arguments;
  channel.SetMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    method = call.method_name();
    if (call.arguments() != nullptr) arguments = *call.arguments();
    result->Success(EncodableValue(true));
  });

  testing::internal::CaptureStderr();
  fake_.Deliver(kChannel, StartTunnelCall());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  EXPECT_EQ(method, "startTunnel");
  const auto* map = std::get_if<EncodableValueMap>(&arguments);
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(map->size(), 1u);
  auto config = map->find(EncodableValue("config"));
  ASSERT_NE(config, map->end());
  EXPECT_EQ(std::get<std::string>(config->second), "abc");
  auto responses = fake_.responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].bytes, (Bytes{0x00, 0x01}));
  EXPECT_EQ(fake_.held_references(), 0);
}

TEST_F(MethodChannelTest, UndecodableMessageGetsTheEmptyReply) {
  int handled = 0;
  {
    // The handler outlives the channel object: it keeps its own copy of the
    // name for the diagnostic.
    MethodChannel channel(&messenger_, kChannel, codec_);
    channel.SetMethodCallHandler([&](const MethodCall&, std::unique_ptr<MethodResult> result) {
      ++handled;
      result->NotImplemented();
    });
  }
  testing::internal::CaptureStderr();
  fake_.Deliver(kChannel, {0x03, 0x01, 0x00, 0x00, 0x00});
  std::string err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(handled, 0);
  EXPECT_EQ(err,
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel com.tarnwick.vpn/tunnel\n");
  auto responses = fake_.responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_TRUE(responses[0].data_was_null);
  EXPECT_TRUE(responses[0].bytes.empty());
  EXPECT_EQ(fake_.unanswered(), 0);
}

TEST_F(MethodChannelTest, KeptResultAnswersLaterOrIsDroppedOnceTheEngineEnded) {
  MethodChannel channel(&messenger_, kChannel, codec_);
  std::vector<std::unique_ptr<MethodResult>> kept;
  channel.SetMethodCallHandler([&](const MethodCall&, std::unique_ptr<MethodResult> result) {
    kept.push_back(std::move(result));
  });
  fake_.Deliver(kChannel, StartTunnelCall());
  fake_.Deliver(kChannel, StartTunnelCall());
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_TRUE(fake_.responses().empty());

  kept[0]->Error("CANCELLED", "");
  ASSERT_EQ(fake_.responses().size(), 1u);
  EXPECT_EQ(fake_.responses()[0].bytes,
            (Bytes{0x01, 0x07, 0x09, 'C', 'A', 'N', 'C', 'E', 'L', 'L', 'E', 'D', 0x00, 0x00}));

  fake_.ShutDown();
  testing::internal::CaptureStderr();
  kept[1]->Success();
  kept.clear();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(fake_.responses().size(), 1u);
  EXPECT_EQ(fake_.held_references(), 0);
  EXPECT_TRUE(fake_.violations().empty()) << fake_.violations().front();
}

}  // namespace
}  // namespace flutter
