// The tunnel channel on the messenger layer, running over the in-process
// messenger: bound to its name only, answered once per call.
#include "tunnel_channel/tunnel_channel_registration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/fake_messenger.h"

namespace {

using tarnwick::Bytes;
using tarnwick::FakeMessenger;
using tarnwick::TunnelChannel;

using ByteVector = std::vector<uint8_t>;

// Method calls as the UI sends them: the name as a string value, then null
// arguments.
ByteVector MethodCall(const std::string& method) {
  return tarnwick::Cat({{0x07, static_cast<uint8_t>(method.size())},
                        ByteVector(method.begin(), method.end()),
                        {0x00}});
}

const ByteVector kStatsReply = tarnwick::Cat({
    Bytes("00 0D 02"),                    // success, a map of two
    Bytes("07 08", "rx_bytes"),           // key
    Bytes("04 FF FF FF FF FF FF FF FF"),  // -1
    Bytes("07 08", "tx_bytes"),           // key
    Bytes("04 FF FF FF FF FF FF FF FF"),  // -1
});

// The responses sent for one message id.
std::vector<ByteVector> ResponsesTo(const FakeMessenger& fake, int message_id) {
  std::vector<ByteVector> found;
  for (const auto& response : fake.responses()) {
    if (response.message_id == message_id) found.push_back(response.bytes);
  }
  return found;
}

TEST(TunnelChannelRegistrationTest, AnswersCallsOnTheTunnelChannelOnly) {
  FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  TunnelChannel channel(&messenger, nullptr);

  const int stats = fake.Deliver("com.tarnwick.vpn/tunnel", MethodCall("getStats"));
  ASSERT_NE(stats, 0) << "the handler is bound to the channel name";
  EXPECT_EQ(ResponsesTo(fake, stats), std::vector<ByteVector>{kStatsReply});

  const int unknown = fake.Deliver("com.tarnwick.vpn/tunnel", MethodCall("getTraffic"));
  EXPECT_EQ(ResponsesTo(fake, unknown), std::vector<ByteVector>{ByteVector{}}) << "not implemented";

  EXPECT_EQ(fake.Deliver("com.tarnwick.vpn/Tunnel", MethodCall("getStats")), 0);
  EXPECT_EQ(fake.Deliver("com.tarnwick.vpn/tunnel/", MethodCall("getStats")), 0);
  EXPECT_EQ(fake.unanswered(), 0);
  EXPECT_TRUE(fake.violations().empty());
}

}  // namespace
