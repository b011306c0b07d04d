// The service-control modes of tarnwick.exe as real processes: the elevated
// helper modes against the prefix's service control manager, the service
// host started by that manager with the stand-in tunnel library, and the
// service host's library loading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/service_manager.h"
#include "tests/e2e/support/debug_output.h"
#include "tests/e2e/support/paths.h"
#include "tests/e2e/support/process.h"
#include "tests/e2e/support/tunnel_service.h"
#include "tools/dbwin_capture.h"

namespace tarnwick::e2e {
namespace {

constexpr DWORD kProcessBoundMs = 30000;
constexpr DWORD kServiceBoundMs = 15000;

constexpr char kValidConfig[] =
    "[Interface]\r\n"
    "PrivateKey = yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=\r\n"
    "Address = 10.8.0.2/32\r\n"
    "\r\n"
    "[Peer]\r\n"
    "PublicKey = xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg=\r\n"
    "AllowedIPs = 0.0.0.0/0\r\n"
    "Endpoint = 192.0.2.1:51820\r\n";
// The same key, so a test can prove it never reaches the debugger output.
constexpr char kPrivateKey[] = "yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=";
constexpr char kConfigWithoutPeer[] =
    "[Interface]\n"
    "PrivateKey = yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=\n"
    "Address = 10.8.0.2/32\n";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ServiceModesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_TRUE(FileExists(AppExe())) << Narrow(AppExe());
    ASSERT_TRUE(RemoveTunnelService()) << "a service from an earlier run is stuck";
    DWORD error = 0;
    ASSERT_TRUE(capture_.Start(&error, kDebugOutputClaimMs))
        << "debugger output not capturable, error " << error;
  }

  // Runs tarnwick.exe (of the app folder unless given) to its end.
  ProcessRun Tarnwick(const std::vector<std::wstring>& arguments,
                      const ProcessOptions& options = {}, const std::wstring& exe = AppExe()) {
    ProcessRun run = RunProcess(exe, arguments, options, kProcessBoundMs);
    EXPECT_TRUE(run.started) << "start error " << run.start_error;
    EXPECT_TRUE(run.exited) << "still running after " << kProcessBoundMs << " ms";
    return run;
  }

  std::wstring WriteConfig(const std::wstring& name, const std::string& text) {
    const std::wstring path = temp_.Join(name);
    EXPECT_TRUE(WriteFileBytes(path, text));
    return path;
  }

  TempDir temp_;
  TunnelServiceCleanup cleanup_;  // after temp_: the service goes before its file
  DebugOutputCapture capture_;
};

TEST_F(ServiceModesTest, RemoveWithNothingInstalledSucceedsSilently) {
  const ProcessRun run = Tarnwick({L"/svc-remove"});
  EXPECT_EQ(run.exit_code, 0u);
  LetDebugOutputSettle(capture_);
  EXPECT_TRUE(LinesFrom(capture_, run.pid, "[Tarnwick]").empty());
}

// One service life: install, install again while it runs, remove.
TEST_F(ServiceModesTest, InstallRunsTheServiceAndRemoveDeletesIt) {
  // A blank in the folder proves the quoting of the stored command line.
  temp_.MakeDir(L"tunnel config");
  const std::wstring config = WriteConfig(L"tunnel config\\tarnwick.conf", kValidConfig);

  const ProcessRun install = Tarnwick({L"/svc-install", config});
  EXPECT_EQ(install.exit_code, 0u);

  const TunnelServiceInfo info = QueryTunnelService();
  ASSERT_TRUE(info.exists);
  EXPECT_EQ(info.display_name, L"Tarnwick WireGuard Tunnel");
  EXPECT_EQ(info.service_type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(info.start_type, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(info.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(info.dependencies, (std::vector<std::wstring>{L"Nsi", L"TcpIp"}));
  EXPECT_EQ(info.account, L"LocalSystem");
  EXPECT_EQ(Narrow(info.binary_path),
            Narrow(L"\"" + AppExe() + L"\" /service \"" + config + L"\""));

  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const auto read = capture_.WaitForText(
      "[tunnel-standin] read configuration \"" + Narrow(config) + "\": 1 peer", kServiceBoundMs);
  ASSERT_TRUE(read.has_value());
  EXPECT_NE(read->pid, install.pid) << "the manager's own process runs the service";
  EXPECT_TRUE(IsTunnelRunning());

  // Wine cannot set the SID type and Windows can, so the install copy writes
  // that one line or none, and nothing else.
  for (const std::string& line : LinesFrom(capture_, install.pid, "[Tarnwick]")) {
    EXPECT_EQ(line, "[Tarnwick] InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed");
  }
  EXPECT_LE(LinesFrom(capture_, install.pid, "[Tarnwick]").size(), 1u);

  const ProcessRun again = Tarnwick({L"/svc-install", temp_.Join(L"elsewhere.conf")});
  EXPECT_EQ(again.exit_code, 0u);
  const TunnelServiceInfo after_again = QueryTunnelService();
  EXPECT_EQ(after_again.binary_path, info.binary_path)
      << "an existing service keeps its command line";
  EXPECT_EQ(after_again.state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(after_again.process_id, info.process_id) << "the running service was not restarted";

  const ProcessRun remove = Tarnwick({L"/svc-remove"});
  EXPECT_EQ(remove.exit_code, 0u);
  EXPECT_TRUE(WaitForTunnelServiceGone(kServiceBoundMs));
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] stop requested", kServiceBoundMs));
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] stopped", kServiceBoundMs));
  EXPECT_FALSE(IsTunnelRunning());
  EXPECT_TRUE(LinesFrom(capture_, remove.pid, "[Tarnwick]").empty());
}

TEST_F(ServiceModesTest, InstallWithAnUnusableConfigurationStartsAServiceThatStopsAndSaysWhy) {
  const struct {
    std::wstring config;
    std::string why;
    DWORD service_exit_code;  // the stand-in's: 1 unreadable, 2 invalid
  } cases[] = {
      {WriteConfig(L"tarnwick.conf", kConfigWithoutPeer), "\" is invalid: no [Peer] section", 2},
      {temp_.Join(L"missing.conf"), "[tunnel-standin] cannot read configuration \"", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    // The helper only asks for the start; the tunnel's verdict comes later.
    const ProcessRun install = Tarnwick({L"/svc-install", c.config});
    EXPECT_EQ(install.exit_code, 0u);

    const auto why = capture_.WaitForText(c.why, kServiceBoundMs);
    ASSERT_TRUE(why.has_value());
    EXPECT_NE(why->text.find(Narrow(c.config)), std::string::npos) << why->text;
    ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_STOPPED, kServiceBoundMs));
    const TunnelServiceInfo info = QueryTunnelService();
    EXPECT_EQ(info.win32_exit_code, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(info.service_exit_code, c.service_exit_code);
    EXPECT_FALSE(IsTunnelRunning());
    ASSERT_TRUE(RemoveTunnelService());
  }

  LetDebugOutputSettle(capture_);
  EXPECT_TRUE(LinesContaining(capture_, kPrivateKey).empty()) << "key material in the output";
}

TEST_F(ServiceModesTest, ServiceSwitchOutsideTheServiceManagerFails) {
  const std::wstring config = WriteConfig(L"tarnwick.conf", kValidConfig);
  const ProcessRun run = Tarnwick({L"/service", config});
  EXPECT_EQ(run.exit_code, 1u);
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] not started by the service control manager",
                                   kServiceBoundMs));
  // The library loaded and answered: the host itself has nothing to report.
  EXPECT_TRUE(LinesFrom(capture_, run.pid, "[Tarnwick]").empty());
}

// The service host runs as LocalSystem, so a tunnel.dll in its working folder
// or on PATH must never be loaded, only one beside the executable.
TEST_F(ServiceModesTest, TunnelLibraryIsLoadedOnlyFromTheAppFolder) {
  const std::wstring config = WriteConfig(L"tarnwick.conf", kValidConfig);
  const std::wstring planted = temp_.MakeDir(L"planted");
  const std::wstring planted_dll = WindowsPathFromBuild(TARNWICK_PLANTED_TUNNEL_DLL);
  ASSERT_TRUE(::CopyFileW(planted_dll.c_str(), JoinPath(planted, L"tunnel.dll").c_str(), FALSE));

  const std::wstring bare = temp_.MakeDir(L"app without tunnel");
  ASSERT_TRUE(CopyAppFolder(bare, {L"tunnel.dll"}));
  ProcessOptions lure;
  lure.working_dir = planted;
  // WINEPATH is Wine's own extra search path, so it is lured as well.
  lure.environment = {{L"PATH", planted + L";C:\\windows\\system32;C:\\windows"},
                      {L"WINEPATH", planted}};
  const ProcessRun run = Tarnwick({L"/service", config}, lure, JoinPath(bare, L"tarnwick.exe"));
  EXPECT_EQ(run.exit_code, 1u);
  LetDebugOutputSettle(capture_);
  EXPECT_EQ(LinesFrom(capture_, run.pid),
            std::vector<std::string>{"[Tarnwick] RunTunnelService: failed to load tunnel.dll"});
  EXPECT_TRUE(LinesContaining(capture_, "[planted-tunnel]").empty());

  // The same library beside the executable is loaded and would have been
  // seen: the check above can fail.
  const std::wstring beside = temp_.MakeDir(L"app with planted tunnel");
  ASSERT_TRUE(CopyAppFolder(beside, {L"tunnel.dll"}));
  ASSERT_TRUE(::CopyFileW(planted_dll.c_str(), JoinPath(beside, L"tunnel.dll").c_str(), FALSE));
  const ProcessRun control = Tarnwick({L"/service", config}, {}, JoinPath(beside, L"tarnwick.exe"));
  EXPECT_EQ(control.exit_code, 0u) << "the planted export reports success";
  EXPECT_TRUE(capture_.WaitForText(
      "[planted-tunnel] loaded into process " + std::to_string(control.pid), kServiceBoundMs));
}

TEST_F(ServiceModesTest, TunnelLibraryWithoutTheExportFails) {
  const std::wstring config = WriteConfig(L"tarnwick.conf", kValidConfig);
  const std::wstring app = temp_.MakeDir(L"app");
  ASSERT_TRUE(CopyAppFolder(app, {L"tunnel.dll"}));
  ASSERT_TRUE(::CopyFileW(WindowsPathFromBuild(TARNWICK_EXPORTLESS_TUNNEL_DLL).c_str(),
                          JoinPath(app, L"tunnel.dll").c_str(), FALSE));
  const ProcessRun run = Tarnwick({L"/service", config}, {}, JoinPath(app, L"tarnwick.exe"));
  EXPECT_EQ(run.exit_code, 1u);
  LetDebugOutputSettle(capture_);
  EXPECT_EQ(LinesFrom(capture_, run.pid),
            std::vector<std::string>{
                "[Tarnwick] RunTunnelService: WireGuardTunnelService export not found"});
}

}  // namespace
}  // namespace tarnwick::e2e
