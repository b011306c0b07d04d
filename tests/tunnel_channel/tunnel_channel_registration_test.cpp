// The tunnel channel on the messenger layer, running over the in-process
// messenger: bound to its name only, answered once per call; tunnel changes
// answered from the worker under the messenger's lock while status and
// statistics are answered at once, and at the window's end a change not
// started is dropped and a late answer refused.
#include "tunnel_channel/tunnel_channel_registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/fake_messenger.h"

namespace {

using tarnwick::Bytes;
using tarnwick::FakeMessenger;
using tarnwick::TunnelChannel;
using tarnwick::TunnelChannelCalls;

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

// The shell of the elevated copies: each launch says so and waits until
// the test lets it go, and the copy then ends with exit code 0.
struct GatedShell {
  std::vector<std::promise<void>> launched = std::vector<std::promise<void>>(2);
  std::vector<std::promise<void>> gates = std::vector<std::promise<void>>(2);
  std::vector<bool> opened = std::vector<bool>(2);
  int launches = 0;  // the worker's alone

  void Open(int gate) {
    if (!opened.at(gate)) gates.at(gate).set_value();
    opened.at(gate) = true;
  }

  bool Launched(int launch) {
    return launched.at(launch).get_future().wait_for(std::chrono::seconds(30)) ==
           std::future_status::ready;
  }

  TunnelChannelCalls Calls() {
    TunnelChannelCalls c;
    c.GetModuleFileNameW = [](HMODULE, LPWSTR buffer, DWORD) -> DWORD {
      const wchar_t path[] = L"C:\\Tarnwick\\tarnwick.exe";
      std::copy(std::begin(path), std::end(path), buffer);
      return static_cast<DWORD>(std::size(path) - 1);
    };
    c.ShellExecuteExW = [this](SHELLEXECUTEINFOW* info) {
      const int launch = launches++;
      launched.at(launch).set_value();
      gates.at(launch).get_future().wait();
      info->hProcess = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
      return TRUE;
    };
    c.GetExitCodeProcess = [](HANDLE, LPDWORD code) {
      *code = 0;
      return TRUE;
    };
    return c;
  }
};

const ByteVector kSuccessTrue = {0x00, 0x01};

TEST(TunnelChannelRegistrationTest, ChangesAreAnsweredFromTheWorkerAndDroppedAtTheEnd) {
  FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger(fake.handle(), FakeMessenger::Calls());
  GatedShell shell;
  auto channel = std::make_unique<TunnelChannel>(&messenger, nullptr, shell.Calls());
  // A failed assertion leaves no launch waiting, so the channel's end
  // cannot hang.
  struct OpenAll {
    GatedShell& shell;
    ~OpenAll() {
      shell.Open(0);
      shell.Open(1);
    }
  } open_all{shell};

  // A disconnect held at its prompt; statistics are answered meanwhile.
  const int first = fake.Deliver("com.tarnwick.vpn/tunnel", MethodCall("stopTunnel"));
  ASSERT_TRUE(shell.Launched(0));
  const int stats = fake.Deliver("com.tarnwick.vpn/tunnel", MethodCall("getStats"));
  EXPECT_EQ(ResponsesTo(fake, stats), std::vector<ByteVector>{kStatsReply});
  EXPECT_TRUE(ResponsesTo(fake, first).empty());

  // Let go: answered from the worker, under the lock (the fake checks).
  shell.Open(0);
  for (int i = 0; i < 3000 && ResponsesTo(fake, first).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ResponsesTo(fake, first), std::vector<ByteVector>{kSuccessTrue});

  // The window ends while a second disconnect is at its prompt and a third
  // waits behind it: the third is dropped, the engine ends, and the
  // second's late answer is refused.
  const int second = fake.Deliver("com.tarnwick.vpn/tunnel", MethodCall("stopTunnel"));
  const int third = fake.Deliver("com.tarnwick.vpn/tunnel", MethodCall("stopTunnel"));
  ASSERT_TRUE(shell.Launched(1));
  channel->StopChanges();
  fake.ShutDown();
  shell.Open(1);
  channel.reset();  // waits for the worker

  EXPECT_EQ(shell.launches, 2) << "the third never reached the shell";
  EXPECT_TRUE(ResponsesTo(fake, second).empty());
  EXPECT_TRUE(ResponsesTo(fake, third).empty());
  EXPECT_EQ(fake.unavailable_answers(), 1) << "the second's answer came after the end";
  EXPECT_EQ(fake.unanswered(), 2);
  EXPECT_EQ(fake.held_references(), 0);
  EXPECT_EQ(fake.locks(), fake.unlocks());
  for (const std::string& violation : fake.violations()) ADD_FAILURE() << violation;
}

}  // namespace
