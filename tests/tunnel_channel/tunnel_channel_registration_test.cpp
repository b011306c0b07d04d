#include "tunnel_channel/tunnel_channel_registration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_messenger.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Method calls as the UI sends them: the name as a string value, then null
// arguments.
Bytes Call(const std::string& method) {
  Bytes out = {0x07, static_cast<uint8_t>(method.size())};
  out.insert(out.end(), method.begin(), method.end());
  out.push_back(0x00);
  return out;
}

const Bytes kStatsReply = {
    0x00, 0x0D, 0x02,                                            // success, map of two
    0x07, 0x08, 'r', 'x', '_', 'b', 'y', 't', 'e', 's',          // "rx_bytes"
    0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,        // -1
    0x07, 0x08, 't', 'x', '_', 'b', 'y', 't', 'e', 's',          // "tx_bytes"
    0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};       // -1

// The responses sent for one message id.
std::vector<Bytes> ResponsesTo(const tarnwick::FakeMessenger& fake, int message_id) {
  std::vector<Bytes> found;
  for (const auto& response : fake.responses()) {
    if (response.message_id == message_id) found.push_back(response.bytes);
  }
  return found;
}

TEST(RegisterTunnelChannel, AnswersCallsOnTheTunnelChannelOnly) {
  tarnwick::FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger(fake.handle());
  tarnwick::RegisterTunnelChannel(&messenger);

  const int stats = fake.Deliver("com.tarnwick.vpn/tunnel", Call("getStats"));
  ASSERT_NE(stats, 0) << "the handler is bound to the channel name";
  EXPECT_EQ(ResponsesTo(fake, stats), std::vector<Bytes>{kStatsReply});

  const int unknown = fake.Deliver("com.tarnwick.vpn/tunnel", Call("getTraffic"));
  EXPECT_EQ(ResponsesTo(fake, unknown), std::vector<Bytes>{Bytes{}}) << "not implemented";

  EXPECT_EQ(fake.Deliver("com.tarnwick.vpn/Tunnel", Call("getStats")), 0);
  EXPECT_EQ(fake.Deliver("com.tarnwick.vpn/tunnel/", Call("getStats")), 0);
  EXPECT_EQ(fake.unanswered(), 0);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(RegisterTunnelChannel, SecondRegistrationRebindsAndStillAnswersOnce) {
  tarnwick::FakeMessenger first_fake;
  flutter::BinaryMessengerImpl first(first_fake.handle());
  tarnwick::RegisterTunnelChannel(&first);
  tarnwick::RegisterTunnelChannel(&first);

  const int id = first_fake.Deliver("com.tarnwick.vpn/tunnel", Call("getStats"));
  EXPECT_EQ(ResponsesTo(first_fake, id), std::vector<Bytes>{kStatsReply});

  // A new engine: the held channel is replaced, and the binding the old
  // one made stays on the old messenger.
  tarnwick::FakeMessenger second_fake;
  flutter::BinaryMessengerImpl second(second_fake.handle());
  tarnwick::RegisterTunnelChannel(&second);

  const int on_second = second_fake.Deliver("com.tarnwick.vpn/tunnel", Call("getStats"));
  EXPECT_EQ(ResponsesTo(second_fake, on_second), std::vector<Bytes>{kStatsReply});
  const int on_first = first_fake.Deliver("com.tarnwick.vpn/tunnel", Call("getStats"));
  EXPECT_EQ(ResponsesTo(first_fake, on_first), std::vector<Bytes>{kStatsReply});

  EXPECT_EQ(first_fake.unanswered(), 0);
  EXPECT_EQ(second_fake.unanswered(), 0);
  EXPECT_TRUE(first_fake.violations().empty());
  EXPECT_TRUE(second_fake.violations().empty());
}

}  // namespace
