// The tunnel channel's whole road under Wine: encoded method calls into the
// handler, the configuration staged in the ProgramData folder, the real
// elevated copy of the built tarnwick.exe installing the real service, which
// the tunnel stand-in runs with that file, and the status the UI then sees;
// and staging into a ProgramData of the test, where only a real folder is
// written to.
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
#include "tests/support/debug_output.h"
#include "tests/support/paths.h"
#include "tests/support/program_data.h"
#include "tests/support/tunnel_service.h"
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
constexpr char kThreePeers[] =
    "[Interface]\n"
    "PrivateKey = mX6DP8ne3y7cRREUKfZSO7SJcRQuGFK6AYRoprA7/x8=\n"
    "Address = 10.66.0.2/32\n"
    "\n"
    "[Peer]\n"
    "PublicKey = W7hBaZUcmWBiha1wVGvp/taOW4/hs/k5qtojjK88ZqU=\n"
    "AllowedIPs = 10.66.0.0/24\n"
    "\n"
    "[Peer]\n"
    "PublicKey = qwPoRz0HFWcV+M3WEV61eLlr/hgqe66/VIsTpTn9aeM=\n"
    "AllowedIPs = 10.67.0.0/24\n"
    "Endpoint = 192.0.2.7:51820\n"
    "\n"
    "[Peer]\n"
    "PublicKey = xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg=\n"
    "AllowedIPs = 10.68.0.0/24\n";

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
  // The codec's size: one byte below 254, else 254 and 16 bits (the
  // configurations here are shorter than 64 KiB).
  if (config.size() < 254) {
    out.push_back(static_cast<uint8_t>(config.size()));
  } else {
    out.push_back(254);
    out.push_back(static_cast<uint8_t>(config.size() & 0xFF));
    out.push_back(static_cast<uint8_t>(config.size() >> 8));
  }
  out.insert(out.end(), config.begin(), config.end());
  return out;
}

const Bytes kSuccessTrue = {0x00, 0x01};
const Bytes kSuccessFalse = {0x00, 0x02};
const Bytes kStats = {0x00, 0x0D, 0x02, 0x07, 0x08, 'r',  'x',  '_',  'b',  'y',  't',
                      'e',  's',  0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                      0x07, 0x08, 't',  'x',  '_',  'b',  'y',  't',  'e',  's',  0x04,
                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Error envelopes: code, message, no details.
Bytes ErrorReply(const std::string& code, const std::string& message) {
  Bytes out = {0x01, 0x07, static_cast<uint8_t>(code.size())};
  out.insert(out.end(), code.begin(), code.end());
  out.push_back(0x07);
  out.push_back(static_cast<uint8_t>(message.size()));
  out.insert(out.end(), message.begin(), message.end());
  out.push_back(0x00);
  return out;
}

// The product's diagnostic lines, from any process.
std::vector<std::string> TarnwickLines(const DebugOutputCapture& capture) {
  std::vector<std::string> lines;
  for (const DebugLine& line : capture.Lines()) {
    if (line.text.rfind("[Tarnwick]", 0) == 0) lines.push_back(line.text);
  }
  return lines;
}

class TunnelChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(app_exe_)) << Narrow(app_exe_);
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_TRUE(config_.ready()) << "the ProgramData configuration folder cannot be taken over";
    ASSERT_TRUE(RemoveTunnelService()) << "a service from an earlier run is stuck";
    DWORD error = 0;
    ASSERT_TRUE(capture_.Start(&error, kDebugOutputClaimMs))
        << "debugger output not capturable, error " << error;

    // The test program is not tarnwick.exe: the elevated copy is the app's.
    calls_.GetModuleFileNameW = [this](HMODULE, LPWSTR buffer, DWORD size) -> DWORD {
      if (app_exe_.size() >= size) return 0;
      std::copy(app_exe_.begin(), app_exe_.end(), buffer);
      buffer[app_exe_.size()] = L'\0';
      return static_cast<DWORD>(app_exe_.size());
    };
    worker_ = std::make_unique<ElevationWorker>(nullptr, calls_);
  }

  // Decodes the message as the channel does and hands it to the handler;
  // the reply arrives at once or from the worker.
  std::future<Bytes> SendAsync(const Bytes& message) {
    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    auto call = codec.DecodeMethodCall(message.data(), message.size());
    EXPECT_NE(call, nullptr);
    // Shared: a reply later than the caller's wait must still find it.
    auto reply = std::make_shared<std::promise<Bytes>>();
    std::future<Bytes> replied = reply->get_future();
    if (!call) {
      reply->set_value({});
      return replied;
    }
    auto result = std::make_unique<flutter::EngineMethodResult>(
        [reply](const uint8_t* data, size_t size) { reply->set_value(Bytes(data, data + size)); },
        &codec);
    HandleTunnelMethodCall(*call, std::move(result), *worker_, calls_);
    return replied;
  }

  // The handler's reply to the message.
  Bytes Send(const Bytes& message) {
    std::future<Bytes> replied = SendAsync(message);
    if (replied.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "no reply";
      return {};
    }
    return replied.get();
  }

  std::wstring app_exe_ = AppExe();
  TempDir temp_;
  ProgramDataConfig config_;
  TunnelServiceCleanup cleanup_;  // after temp_ and config_: the service goes before its files
  DebugOutputCapture capture_;
  TunnelChannelCalls calls_;
  std::unique_ptr<ElevationWorker> worker_;
};

TEST_F(TunnelChannelTest, StartStatusStopRoad) {
  const Bytes get_status = CallWithoutArguments("getStatus");
  const Bytes get_stats = CallWithoutArguments("getStats");
  EXPECT_EQ(Send(get_status), kSuccessFalse);
  EXPECT_EQ(Send(get_stats), kStats);

  // A configuration the tunnel rejects is no connect: the UI hears so, no
  // service is left to start at the next boot, and a line says why.
  EXPECT_EQ(Send(StartTunnelCall("this is not a tunnel configuration")),
            ErrorReply("TUNNEL_ERROR", "Could not start the VPN service"));
  EXPECT_EQ(Send(get_status), kSuccessFalse);
  EXPECT_FALSE(QueryTunnelService().exists);
  LetDebugOutputSettle(capture_);
  EXPECT_EQ(LinesContaining(capture_, "while starting"),
            std::vector<std::string>{"[Tarnwick] InstallAndStartTunnel: service stopped while "
                                     "starting: exit code 1066, service-specific 2"});

  ASSERT_EQ(Send(StartTunnelCall(kConfig)), kSuccessTrue);

  const std::wstring& config_path = config_.path();
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

// Two connects sent back to back, the second while the first still runs:
// each installs the configuration it carried, so the tunnel first runs the
// first, then is restarted with the second, and both are answered true.
TEST_F(TunnelChannelTest, BackToBackConnectsEachInstallTheirOwnConfiguration) {
  const std::string read_line =
      "[tunnel-standin] read configuration \"" + Narrow(config_.path()) + "\": ";
  std::future<Bytes> first = SendAsync(StartTunnelCall(kConfig));
  std::future<Bytes> second = SendAsync(StartTunnelCall(kThreePeers));
  const auto first_read = capture_.WaitForText(read_line + "1 peer", kServiceBoundMs);
  ASSERT_TRUE(first_read.has_value()) << "the first start never read the first configuration";
  ASSERT_EQ(first.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(first.get(), kSuccessTrue);
  ASSERT_EQ(second.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(second.get(), kSuccessTrue);

  std::string written;
  ASSERT_TRUE(ReadFileBytes(config_.path(), &written));
  EXPECT_EQ(written, kThreePeers);
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const DWORD second_pid = QueryTunnelService().process_id;
  EXPECT_NE(second_pid, first_read->pid) << "the running tunnel was not restarted";
  const auto second_read = capture_.WaitForText(read_line + "3 peers", kServiceBoundMs);
  ASSERT_TRUE(second_read.has_value()) << "the second start never read the second configuration";
  EXPECT_EQ(second_read->pid, second_pid);
  EXPECT_EQ(
      LinesFrom(capture_, first_read->pid, "[tunnel-standin] stop"),
      (std::vector<std::string>{"[tunnel-standin] stop requested", "[tunnel-standin] stopped"}));
  EXPECT_EQ(Send(CallWithoutArguments("getStatus")), kSuccessTrue);
}

// Staging into a ProgramData of the test (its known folder scripted): any
// local user may create a folder there, so a "Tarnwick" that is a link to
// another folder is not written through (and no elevated copy is started);
// a real folder is written, and the elevated copy then refuses the file,
// which is not the one of the system's ProgramData.
TEST_F(TunnelChannelTest, StagingWritesOnlyIntoARealFolder) {
  const std::wstring program_data = temp_.MakeDir(L"ProgramData");
  calls_.SHGetKnownFolderPath = [&](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
    return AnswerKnownFolder(program_data, path);
  };
  // The worker stages with the calls it was made with.
  worker_ = std::make_unique<ElevationWorker>(nullptr, calls_);
  const std::wstring folder = ConfigFolderBelow(program_data);
  const std::wstring target = temp_.MakeDir(L"link-target");
  ASSERT_TRUE(MakeUnixSymlink(target, folder));

  EXPECT_EQ(Send(StartTunnelCall(kConfig)),
            ErrorReply("CONFIG_WRITE", "Failed to write config file"));
  EXPECT_TRUE(ListFiles(target, L"*").empty()) << "written through the link";
  EXPECT_FALSE(QueryTunnelService().exists);
  LetDebugOutputSettle(capture_);
  EXPECT_TRUE(TarnwickLines(capture_).empty()) << "an elevated copy ran";

  ASSERT_TRUE(RemoveLink(folder));
  EXPECT_EQ(Send(StartTunnelCall(kConfig)),
            ErrorReply("TUNNEL_ERROR", "Could not start the VPN service"));
  std::string written;
  ASSERT_TRUE(ReadFileBytes(JoinPath(folder, kConfigFileName), &written));
  EXPECT_EQ(written, kConfig);
  EXPECT_EQ(ListFiles(folder, L"*"), std::vector<std::wstring>{kConfigFileName})
      << "the temporary file is gone";
  EXPECT_FALSE(QueryTunnelService().exists);
  // The copy has ended, but its line may still be on its way on a busy
  // machine: waited for, then nothing else may have come.
  EXPECT_TRUE(capture_.WaitForText("InstallAndStartTunnel:", kServiceBoundMs).has_value());
  LetDebugOutputSettle(capture_);
  EXPECT_EQ(TarnwickLines(capture_),
            std::vector<std::string>{"[Tarnwick] InstallAndStartTunnel: configuration is not the "
                                     "ProgramData configuration file"});
  EXPECT_TRUE(ListFiles(target, L"*").empty());
}

}  // namespace
}  // namespace tarnwick::e2e
