// The tunnel channel's whole road under Wine: encoded method calls into the
// handler, the configuration written under "PROGRAMDATA", the real elevated
// copy of the built tarnwick.exe installing the real service, which the
// tunnel stand-in runs with that file, and the status the UI then sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "embedding/method_result.h"
#include "embedding/standard_method_codec.h"
#include "tests/e2e/support/paths.h"
#include "tests/e2e/support/tunnel_service.h"
#include "tools/dbwin_capture.h"
#include "tunnel_channel/elevation_worker.h"
#include "tunnel_channel/tunnel_method_handler.h"

namespace tarnwick::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kServiceBoundMs = 15000;

constexpr char kConfig[] =
    "[Interface]\n"
    "PrivateKey = mX6DP8ne3y7cRREUKfZSO7SJcRQuGFK6AYRoprA7/x8=\n"
    "Address = 10.66.0.2/32\n"
    "# caf\xc3\xa9 office\n"
    "\n"
    "[Peer]\n"
    "PublicKey = W7hBaZUcmWBiha1wVGvp/taOW4/hs/k5qtojjK88ZqU=\n"
    "AllowedIPs = 10.66.0.0/24\n";

// Method calls as the UI encodes them.
Bytes CallWithoutArguments(const std::string& method) {
  Bytes out = {0x07, static_cast<uint8_t>(method.size())};
  out.insert(out.end(), method.begin(), method.end());
  out.push_back(0x00);
  return out;
}
Bytes StartTunnelCall(const std::string& config) {
  Bytes out = {0x07, 11};
  const std::string name = "startTunnel";
  out.insert(out.end(), name.begin(), name.end());
  const Bytes map_head = {0x0D, 0x01, 0x07, 0x06, 'c', 'o', 'n', 'f', 'i', 'g', 0x07};
  out.insert(out.end(), map_head.begin(), map_head.end());
  out.push_back(static_cast<uint8_t>(config.size()));  // under 254 bytes
  out.insert(out.end(), config.begin(), config.end());
  return out;
}

const Bytes kSuccessTrue = {0x00, 0x01};
const Bytes kSuccessFalse = {0x00, 0x02};
const Bytes kStats = {0x00, 0x0D, 0x02, 0x07, 0x08, 'r',  'x',  '_',  'b',  'y',  't',
                      'e',  's',  0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                      0x07, 0x08, 't',  'x',  '_',  'b',  'y',  't',  'e',  's',  0x04,
                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class TunnelChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(app_exe_)) << Narrow(app_exe_);
    ASSERT_TRUE(RemoveTunnelService()) << "a service from an earlier run is stuck";
    DWORD error = 0;
    ASSERT_TRUE(capture_.Start(&error)) << "debugger output not capturable, error " << error;

    wchar_t previous[32768];
    const DWORD n = ::GetEnvironmentVariableW(L"PROGRAMDATA", previous, 32768);
    if (n > 0 && n < 32768) previous_program_data_ = std::wstring(previous, n);
    // A blank in the path: the quoted path must reach the copy as one argument.
    program_data_ = temp_.MakeDir(L"Program Data");
    ASSERT_TRUE(::SetEnvironmentVariableW(L"PROGRAMDATA", program_data_.c_str()));

    // The test program is not tarnwick.exe: the elevated copy is the app's.
    calls_.GetModuleFileNameW = [this](HMODULE, LPWSTR buffer, DWORD size) -> DWORD {
      if (app_exe_.size() >= size) return 0;
      std::copy(app_exe_.begin(), app_exe_.end(), buffer);
      buffer[app_exe_.size()] = L'\0';
      return static_cast<DWORD>(app_exe_.size());
    };
    worker_ = std::make_unique<ElevationWorker>(nullptr, calls_);
  }

  void TearDown() override {
    ::SetEnvironmentVariableW(L"PROGRAMDATA",
                              previous_program_data_ ? previous_program_data_->c_str() : nullptr);
  }

  // Decodes the message as the channel does and returns the handler's reply,
  // given at once or from the worker.
  Bytes Send(const Bytes& message) {
    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    auto call = codec.DecodeMethodCall(message.data(), message.size());
    EXPECT_NE(call, nullptr);
    if (!call) return {};
    // Shared: a reply later than the wait below must still find it.
    auto reply = std::make_shared<std::promise<Bytes>>();
    std::future<Bytes> replied = reply->get_future();
    auto result = std::make_unique<flutter::EngineMethodResult>(
        [reply](const uint8_t* data, size_t size) { reply->set_value(Bytes(data, data + size)); },
        &codec);
    HandleTunnelMethodCall(*call, std::move(result), *worker_, calls_);
    if (replied.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "no reply";
      return {};
    }
    return replied.get();
  }

  std::wstring app_exe_ = AppExe();
  TempDir temp_;
  TunnelServiceCleanup cleanup_;  // after temp_: the service goes before its file
  DebugOutputCapture capture_;
  std::wstring program_data_;
  std::optional<std::wstring> previous_program_data_;
  TunnelChannelCalls calls_;
  std::unique_ptr<ElevationWorker> worker_;
};

TEST_F(TunnelChannelTest, StartStatusStopRoad) {
  const Bytes get_status = CallWithoutArguments("getStatus");
  const Bytes get_stats = CallWithoutArguments("getStats");
  EXPECT_EQ(Send(get_status), kSuccessFalse);
  EXPECT_EQ(Send(get_stats), kStats);

  ASSERT_EQ(Send(StartTunnelCall(kConfig)), kSuccessTrue);

  const std::wstring config_path = program_data_ + L"\\Tarnwick\\tarnwick.conf";
  std::string written;
  ASSERT_TRUE(ReadFileBytes(config_path, &written));
  EXPECT_EQ(written, kConfig) << "exactly the UI's bytes";

  // The elevated copy stored the path it was given, in one piece.
  const TunnelServiceInfo info = QueryTunnelService();
  ASSERT_TRUE(info.exists);
  EXPECT_EQ(Narrow(info.binary_path),
            Narrow(L"\"" + app_exe_ + L"\" /service \"" + config_path + L"\""));

  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  EXPECT_TRUE(capture_.WaitForText(
      "[tunnel-standin] read configuration \"" + Narrow(config_path) + "\": 1 peer",
      kServiceBoundMs))
      << "the service read the file the channel wrote";
  EXPECT_EQ(Send(get_status), kSuccessTrue);
  EXPECT_EQ(Send(get_stats), kStats);

  EXPECT_EQ(Send(CallWithoutArguments("stopTunnel")), kSuccessTrue);
  EXPECT_TRUE(WaitForTunnelServiceGone(kServiceBoundMs));
  EXPECT_EQ(Send(get_status), kSuccessFalse);
  EXPECT_EQ(Send(get_stats), kStats);
  EXPECT_TRUE(FileExists(config_path)) << "the configuration stays for the next start";

  // With nothing installed, a second stop still succeeds.
  EXPECT_EQ(Send(CallWithoutArguments("stopTunnel")), kSuccessTrue);
}

}  // namespace
}  // namespace tarnwick::e2e
