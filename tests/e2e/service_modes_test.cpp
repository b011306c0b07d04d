// The service-control modes of tarnwick.exe as real processes: the elevated
// helper modes against the prefix's service control manager, the service
// host started by that manager with the stand-in tunnel library (or a
// fixture slow to stop), the checks both make of the configuration path,
// and the service host's library loading.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "platform/unique_handle.h"
#include "service/service_manager.h"
#include "tests/support/debug_output.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/program_data.h"
#include "tests/support/tunnel_service.h"
#include "tools/dbwin_capture.h"

namespace tarnwick::e2e {
namespace {

constexpr DWORD kProcessBoundMs = 30000;
constexpr DWORD kServiceBoundMs = 15000;

// The same key, so a test can prove it never reaches the debugger output.
constexpr char kPrivateKey[] = "yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=";
constexpr char kConfigWithoutPeer[] =
    "[Interface]\n"
    "PrivateKey = yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=\n"
    "Address = 10.8.0.2/32\n";

// Set by a test to let the slow-stop fixture's held-back stop finish.
constexpr wchar_t kReleaseSlowStop[] = L"Global\\TarnwickSlowStopTunnelRelease";

// The full path of a running process's executable; empty when unknown.
std::wstring ImageOf(DWORD pid) {
  UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  wchar_t image[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!process || !::QueryFullProcessImageNameW(process.get(), 0, image, &size)) return {};
  return std::wstring(image, size);
}

// What the manager says to a new service of the tunnel's name: the error of
// a CreateServiceW that finds the name taken (or 0 when it created one,
// which is deleted again).
DWORD CreateTunnelServiceError() {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return ::GetLastError();
  const UniqueServiceHandle created(::CreateServiceW(
      manager.get(), kTunnelServiceName, kTunnelServiceName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
      L"C:\\windows\\system32\\cmd.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!created) return ::GetLastError();
  ::DeleteService(created.get());
  return 0;
}

// Sets the fixture's release event when the test ends, however it ends, so
// the fixture's service stops before the service is cleaned up.
class SlowStopRelease {
 public:
  SlowStopRelease() : event_(::CreateEventW(nullptr, TRUE, FALSE, kReleaseSlowStop)) {}
  ~SlowStopRelease() { Release(); }
  SlowStopRelease(const SlowStopRelease&) = delete;
  SlowStopRelease& operator=(const SlowStopRelease&) = delete;

  [[nodiscard]] bool ready() const { return static_cast<bool>(event_); }
  void Release() const {
    if (event_) ::SetEvent(event_.get());
  }

 private:
  UniqueKernelHandle event_;
};

class ServiceModesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_TRUE(FileExists(AppExe())) << Narrow(AppExe());
    ASSERT_TRUE(config_.ready()) << "the ProgramData configuration folder cannot be taken over";
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

  // The ProgramData configuration, the only one the privileged copies take.
  std::wstring WriteConfig(const std::string& text) {
    EXPECT_TRUE(config_.Write(text));
    return config_.path();
  }

  // A copy of the app folder whose tunnel.dll is the given one; returns its
  // tarnwick.exe.
  std::wstring AppWithTunnel(const std::wstring& name, const char* tunnel_dll) {
    const std::wstring app = temp_.MakeDir(name);
    EXPECT_TRUE(CopyAppFolder(app, {L"tunnel.dll"}));
    EXPECT_TRUE(::CopyFileW(WindowsPathFromBuild(tunnel_dll).c_str(),
                            JoinPath(app, L"tunnel.dll").c_str(), FALSE));
    return JoinPath(app, L"tarnwick.exe");
  }

  // The [Tarnwick] lines of a process, except the one Wine's manager always
  // causes (it cannot set the SID type, Windows can).
  std::vector<std::string> ProblemLines(DWORD pid) {
    LetDebugOutputSettle(capture_);
    std::vector<std::string> lines = LinesFrom(capture_, pid, "[Tarnwick]");
    lines.erase(std::remove_if(lines.begin(), lines.end(), IsSidTypeLine), lines.end());
    return lines;
  }

  TempDir temp_;
  ProgramDataConfig config_;
  TunnelServiceCleanup cleanup_;  // after temp_ and config_: the service goes before its files
  DebugOutputCapture capture_;
};

TEST_F(ServiceModesTest, RemoveWithNothingInstalledSucceedsSilently) {
  const ProcessRun run = Tarnwick({L"/svc-remove"});
  EXPECT_EQ(run.exit_code, 0u);
  LetDebugOutputSettle(capture_);
  EXPECT_TRUE(LinesFrom(capture_, run.pid, "[Tarnwick]").empty());
}

// One service life: install, a refused install while it runs, remove.
TEST_F(ServiceModesTest, InstallRunsTheServiceAndRemoveDeletesIt) {
  const std::wstring config = WriteConfig(kValidConfig);
  // A blank in the app's folder proves the quoting of the stored command line.
  const std::wstring app = temp_.MakeDir(L"app copy");
  ASSERT_TRUE(CopyAppFolder(app, {}));
  const std::wstring exe = JoinPath(app, L"tarnwick.exe");

  const ProcessRun install = Tarnwick({L"/svc-install", config}, {}, exe);
  EXPECT_EQ(install.exit_code, 0u);

  const TunnelServiceInfo info = QueryTunnelService();
  ASSERT_TRUE(info.exists);
  EXPECT_EQ(info.display_name, kTunnelServiceDisplayName);
  EXPECT_EQ(info.service_type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(info.start_type, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(info.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(info.dependencies, (std::vector<std::wstring>{L"Nsi", L"TcpIp"}));
  EXPECT_EQ(info.account, L"LocalSystem");
  EXPECT_EQ(Narrow(info.binary_path), Narrow(L"\"" + exe + L"\" /service \"" + config + L"\""));

  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const auto read = capture_.WaitForText(
      "[tunnel-standin] read configuration \"" + Narrow(config) + "\": 1 peer", kServiceBoundMs);
  ASSERT_TRUE(read.has_value());
  EXPECT_NE(read->pid, install.pid) << "the manager's own process runs the service";
  EXPECT_TRUE(IsTunnelRunning());
  EXPECT_TRUE(ProblemLines(install.pid).empty());

  // A file the copy cannot vouch for changes nothing of the running service.
  const std::wstring elsewhere = temp_.Join(kConfigFileName);
  ASSERT_TRUE(WriteFileBytes(elsewhere, kValidConfig));
  const ProcessRun again = Tarnwick({L"/svc-install", elsewhere});
  EXPECT_EQ(again.exit_code, 1u);
  EXPECT_EQ(ProblemLines(again.pid),
            std::vector<std::string>{"[Tarnwick] InstallAndStartTunnel: configuration is not the "
                                     "ProgramData configuration file"});
  const TunnelServiceInfo after_again = QueryTunnelService();
  EXPECT_EQ(after_again.binary_path, info.binary_path);
  EXPECT_EQ(after_again.state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(after_again.process_id, info.process_id) << "the running service was not touched";

  const ProcessRun remove = Tarnwick({L"/svc-remove"});
  EXPECT_EQ(remove.exit_code, 0u);
  EXPECT_TRUE(WaitForTunnelServiceGone(kServiceBoundMs));
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] stop requested", kServiceBoundMs));
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] stopped", kServiceBoundMs));
  EXPECT_FALSE(IsTunnelRunning());
  EXPECT_TRUE(LinesFrom(capture_, remove.pid, "[Tarnwick]").empty());
}

// A configuration the tunnel cannot use: the service stops while starting,
// so the install fails, says with which exit codes, and leaves no service.
TEST_F(ServiceModesTest, InstallWithAnUnusableConfigurationFailsSaysWhyAndLeavesNoService) {
  const std::wstring config = WriteConfig(kConfigWithoutPeer);
  const struct {
    bool held_open;  // the test holds the file open without sharing it
    std::string why;
    DWORD service_exit_code;  // the stand-in's: 1 unreadable, 2 invalid
  } cases[] = {
      {false, "\" is invalid: no [Peer] section", 2},
      {true, "[tunnel-standin] cannot read configuration \"", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    // The check of the path reads only attributes and security, which a
    // file open without sharing still gives; the tunnel reads the content.
    UniqueFileHandle hold;
    if (c.held_open) {
      hold.reset(::CreateFileW(config.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(hold) << "error " << ::GetLastError();
    }
    const ProcessRun install = Tarnwick({L"/svc-install", config});
    EXPECT_EQ(install.exit_code, 1u);
    EXPECT_EQ(ProblemLines(install.pid),
              std::vector<std::string>{
                  "[Tarnwick] InstallAndStartTunnel: service stopped while starting: exit code "
                  "1066, service-specific " +
                  std::to_string(c.service_exit_code)});
    const auto why = capture_.WaitForText(c.why, kServiceBoundMs);
    ASSERT_TRUE(why.has_value());
    EXPECT_NE(why->text.find(Narrow(config)), std::string::npos) << why->text;
    EXPECT_FALSE(QueryTunnelService().exists) << "nothing starts at the next boot";
    EXPECT_FALSE(IsTunnelRunning());
  }

  LetDebugOutputSettle(capture_);
  EXPECT_TRUE(LinesContaining(capture_, kPrivateKey).empty()) << "key material in the output";
}

// Both privileged copies take only the ProgramData configuration file, a
// file with one name in a real folder; anything else is refused with one
// line and exit code 1, before a service is made or a library loaded.
TEST_F(ServiceModesTest, PrivilegedCopiesRefuseAConfigurationTheyCannotVouchFor) {
  const std::wstring elsewhere = temp_.Join(kConfigFileName);
  ASSERT_TRUE(WriteFileBytes(elsewhere, kValidConfig));
  // The folder of the link's target holds a configuration of its own.
  const std::wstring target = temp_.MakeDir(L"link-target");
  ASSERT_TRUE(WriteFileBytes(JoinPath(target, kConfigFileName), kValidConfig));

  enum class Setup { kNone, kHardLink, kFolderLink };
  const struct {
    Setup setup;
    std::wstring path;
    std::string what;
  } cases[] = {
      {Setup::kNone, elsewhere, "configuration is not the ProgramData configuration file"},
      {Setup::kHardLink, config_.path(), "configuration file has more than one name"},
      {Setup::kFolderLink, config_.path(), "configuration folder is a link"},
      {Setup::kNone, config_.folder() + L"\\\"" + kConfigFileName,
       "configuration path holds a quote or ends in a backslash"},
      {Setup::kNone, config_.folder() + L"\\",
       "configuration path holds a quote or ends in a backslash"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(RemoveTunnelService());  // a case that failed leaves none for the next
    ASSERT_TRUE(RemoveTree(config_.folder()));
    switch (c.setup) {
      case Setup::kNone: ASSERT_FALSE(WriteConfig(kValidConfig).empty()); break;
      case Setup::kHardLink: {
        ASSERT_FALSE(WriteConfig(kValidConfig).empty());
        // The second name lies where the user alone decides what it holds.
        const std::wstring second = temp_.Join(L"second name.conf");
        ::DeleteFileW(second.c_str());
        ASSERT_TRUE(::CreateHardLinkW(second.c_str(), config_.path().c_str(), nullptr))
            << "error " << ::GetLastError();
        break;
      }
      case Setup::kFolderLink:
        ASSERT_TRUE(MakeUnixSymlink(target, config_.folder()))
            << UnixPath(target) << " <- " << UnixPath(config_.folder());
        ASSERT_TRUE(FileExists(config_.path())) << "the file is reachable through the link";
        break;
    }

    const ProcessRun install = Tarnwick({L"/svc-install", c.path});
    EXPECT_EQ(install.exit_code, 1u);
    EXPECT_EQ(ProblemLines(install.pid),
              std::vector<std::string>{"[Tarnwick] InstallAndStartTunnel: " + c.what});
    EXPECT_FALSE(QueryTunnelService().exists);

    // The service host checks the path again: the stored command line is
    // the manager's, and anyone who can change the registry could change it.
    const ProcessRun host = Tarnwick({L"/service", c.path});
    EXPECT_EQ(host.exit_code, 1u);
    EXPECT_EQ(ProblemLines(host.pid),
              std::vector<std::string>{"[Tarnwick] RunTunnelService: " + c.what});
  }
  LetDebugOutputSettle(capture_);
  EXPECT_TRUE(LinesContaining(capture_, "[tunnel-standin]").empty()) << "the library was loaded";
  EXPECT_EQ(ListFiles(target, L"*"), std::vector<std::wstring>{kConfigFileName});
}

// Installing over a running service installed from another app folder
// rewrites its stored command line and restarts it, so the new folder's
// executable runs it.
TEST_F(ServiceModesTest, InstallFromAnotherAppFolderMovesTheServiceThere) {
  const std::wstring config = WriteConfig(kValidConfig);
  const std::string read_line = "[tunnel-standin] read configuration \"" + Narrow(config) + "\"";

  ASSERT_EQ(Tarnwick({L"/svc-install", config}).exit_code, 0u);
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const TunnelServiceInfo first = QueryTunnelService();
  ASSERT_TRUE(capture_.WaitForText(read_line, kServiceBoundMs));

  const std::wstring second_app = temp_.MakeDir(L"second app");
  ASSERT_TRUE(CopyAppFolder(second_app, {}));
  const std::wstring second_exe = JoinPath(second_app, L"tarnwick.exe");
  const ProcessRun install = Tarnwick({L"/svc-install", config}, {}, second_exe);
  EXPECT_EQ(install.exit_code, 0u);
  EXPECT_TRUE(ProblemLines(install.pid).empty());

  EXPECT_EQ(Narrow(QueryTunnelService().binary_path),
            Narrow(L"\"" + second_exe + L"\" /service \"" + config + L"\""));
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const TunnelServiceInfo second = QueryTunnelService();
  EXPECT_NE(second.process_id, first.process_id) << "the running service was not restarted";
  EXPECT_EQ(Narrow(ImageOf(second.process_id)), Narrow(second_exe));
  const auto reread = capture_.WaitForLine(
      [&](const DebugLine& line) {
        return line.pid == second.process_id && line.text.find(read_line) == 0;
      },
      kServiceBoundMs);
  EXPECT_TRUE(reread.has_value()) << "the restarted service read the configuration";
  EXPECT_EQ(
      LinesFrom(capture_, first.process_id, "[tunnel-standin] stop"),
      (std::vector<std::string>{"[tunnel-standin] stop requested", "[tunnel-standin] stopped"}));
}

// A tunnel that ignores the stop: removal and reinstallation each wait 10 s,
// then say so and fail; the service stays marked for deletion and goes when
// its process finally ends.
TEST_F(ServiceModesTest, ServiceThatDoesNotStopFailsRemovalAndIsDeletedWhenItEnds) {
  const SlowStopRelease release;
  ASSERT_TRUE(release.ready());
  const std::wstring config = WriteConfig(kValidConfig);
  const std::wstring exe = AppWithTunnel(L"stubborn app", TARNWICK_STUBBORN_TUNNEL_DLL);

  ASSERT_EQ(Tarnwick({L"/svc-install", config}, {}, exe).exit_code, 0u);
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  ASSERT_TRUE(capture_.WaitForText("[slow-stop-tunnel] running", kServiceBoundMs));
  const DWORD service_pid = QueryTunnelService().process_id;
  const UniqueKernelHandle service_process(::OpenProcess(SYNCHRONIZE, FALSE, service_pid));
  ASSERT_TRUE(service_process);

  const ProcessRun reinstall = Tarnwick({L"/svc-install", config}, {}, exe);
  EXPECT_EQ(reinstall.exit_code, 1u);
  EXPECT_EQ(ProblemLines(reinstall.pid),
            std::vector<std::string>{"[Tarnwick] InstallAndStartTunnel: service did not stop"});

  const ProcessRun remove = Tarnwick({L"/svc-remove"});
  EXPECT_EQ(remove.exit_code, 1u);
  EXPECT_EQ(ProblemLines(remove.pid),
            std::vector<std::string>{"[Tarnwick] StopAndRemoveTunnel: service did not stop"});
  const TunnelServiceInfo pending = QueryTunnelService();
  EXPECT_TRUE(pending.exists);
  EXPECT_EQ(pending.state, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(pending.process_id, service_pid);
  EXPECT_EQ(CreateTunnelServiceError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

  release.Release();
  EXPECT_EQ(::WaitForSingleObject(service_process.get(), kServiceBoundMs),
            static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(capture_.WaitForText("[slow-stop-tunnel] released", kServiceBoundMs));
  EXPECT_TRUE(WaitForTunnelServiceGone(kServiceBoundMs)) << "the marked service was not deleted";
}

// Two elevated copies installing at once over a running tunnel that takes
// 2 s to stop: one after the other, each restarts the service, so three
// service processes run in turn. Copies that overlapped would both stop the
// first and start the second, and three could not be seen.
TEST_F(ServiceModesTest, InstallsStartedTogetherRunOneAfterTheOther) {
  const std::wstring config = WriteConfig(kValidConfig);
  const std::wstring exe = AppWithTunnel(L"slow app", TARNWICK_SLOW_TUNNEL_DLL);
  ASSERT_EQ(Tarnwick({L"/svc-install", config}, {}, exe).exit_code, 0u);
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  ASSERT_TRUE(capture_.WaitForText("[slow-stop-tunnel] running", kServiceBoundMs));

  ChildProcess copies[2];
  for (ChildProcess& copy : copies) ASSERT_TRUE(copy.Start(exe, {L"/svc-install", config}));
  for (ChildProcess& copy : copies) {
    const std::optional<DWORD> exit_code = copy.Wait(kProcessBoundMs);
    ASSERT_TRUE(exit_code.has_value());
    EXPECT_EQ(*exit_code, 0u);
    EXPECT_TRUE(ProblemLines(copy.pid()).empty());
  }
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const DWORD last = QueryTunnelService().process_id;
  ASSERT_TRUE(capture_.WaitForLine(
      [last](const DebugLine& line) {
        return line.pid == last && line.text == "[slow-stop-tunnel] running";
      },
      kServiceBoundMs));

  // Each service process's lines come as one block: it ran, was asked to
  // stop, waited out its delay and stopped before the next one ran.
  std::vector<DWORD> order;
  std::vector<std::string> texts;
  for (const DebugLine& line : capture_.Lines()) {
    if (line.text.rfind("[slow-stop-tunnel]", 0) != 0) continue;
    if (order.empty() || order.back() != line.pid) order.push_back(line.pid);
    texts.push_back(line.text);
  }
  EXPECT_EQ(order.size(), 3u) << "service processes in turn";
  EXPECT_EQ(std::set<DWORD>(order.begin(), order.end()).size(), order.size())
      << "a service process's lines were interleaved with another's";
  const std::vector<std::string> one_life = {
      "[slow-stop-tunnel] running", "[slow-stop-tunnel] stop requested",
      "[slow-stop-tunnel] delay over", "[slow-stop-tunnel] stopped"};
  std::vector<std::string> expected;
  for (int i = 0; i < 2; ++i) expected.insert(expected.end(), one_life.begin(), one_life.end());
  expected.push_back("[slow-stop-tunnel] running");
  EXPECT_EQ(texts, expected);
}

TEST_F(ServiceModesTest, ServiceSwitchOutsideTheServiceManagerFails) {
  const std::wstring config = WriteConfig(kValidConfig);
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
  const std::wstring config = WriteConfig(kValidConfig);
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
            std::vector<std::string>{"[Tarnwick] RunTunnelService: failed to load tunnel.dll: " +
                                     Narrow(SystemErrorText(ERROR_MOD_NOT_FOUND))});
  EXPECT_TRUE(LinesContaining(capture_, "[planted-tunnel]").empty());

  // The same library beside the executable is loaded and would have been
  // seen: the check above can fail.
  const std::wstring beside =
      AppWithTunnel(L"app with planted tunnel", TARNWICK_PLANTED_TUNNEL_DLL);
  const ProcessRun control = Tarnwick({L"/service", config}, {}, beside);
  EXPECT_EQ(control.exit_code, 0u) << "the planted export reports success";
  EXPECT_TRUE(capture_.WaitForText(
      "[planted-tunnel] loaded into process " + std::to_string(control.pid), kServiceBoundMs));
}

TEST_F(ServiceModesTest, TunnelLibraryWithoutTheExportFails) {
  const std::wstring config = WriteConfig(kValidConfig);
  const std::wstring exe = AppWithTunnel(L"app", TARNWICK_EXPORTLESS_TUNNEL_DLL);
  const ProcessRun run = Tarnwick({L"/service", config}, {}, exe);
  EXPECT_EQ(run.exit_code, 1u);
  LetDebugOutputSettle(capture_);
  EXPECT_EQ(LinesFrom(capture_, run.pid),
            std::vector<std::string>{
                "[Tarnwick] RunTunnelService: WireGuardTunnelService export not found: " +
                Narrow(SystemErrorText(ERROR_PROC_NOT_FOUND))});
}

}  // namespace
}  // namespace tarnwick::e2e
