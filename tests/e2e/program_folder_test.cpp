// What tarnwick.exe loads from its program folder, as real processes under
// Wine: the elevated copy refuses a folder it cannot vouch for unless the
// administrator's registry value allows it, the service modes never load a
// UI library (one planted beside the executable stays unloaded, and the
// service runs from a folder without any), and the interactive application
// without one of them ends with a message.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "platform/unique_handle.h"
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

// Spelled here on their own, so a wrong list in the product fails the tests.
const std::vector<std::wstring> kUiLibraryNames = {L"flutter_windows.dll",
                                                   L"app_links_plugin.dll",
                                                   L"connectivity_plus_plugin.dll",
                                                   L"flutter_secure_storage_windows_plugin.dll",
                                                   L"screen_retriever_plugin.dll",
                                                   L"system_tray_plugin.dll",
                                                   L"url_launcher_windows_plugin.dll",
                                                   L"window_manager_plugin.dll"};

constexpr wchar_t kPolicyValue[] = L"AllowUnprotectedProgramFolder";

// The administrator's AllowUnprotectedProgramFolder value of the prefix,
// changed by a test and put back as it was when the test ends, also when
// it fails.
class PolicyValue {
 public:
  PolicyValue() {
    DWORD size = sizeof(saved_);
    saved_exists_ = ::RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kPolicyValue, RRF_RT_ANY,
                                   &saved_type_, saved_, &size) == ERROR_SUCCESS;
    saved_size_ = size;
  }
  ~PolicyValue() {
    if (saved_exists_) {
      ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kPolicyValue, saved_type_, saved_,
                        saved_size_);
    } else {
      Clear();
    }
  }
  PolicyValue(const PolicyValue&) = delete;
  PolicyValue& operator=(const PolicyValue&) = delete;

  bool Clear() {
    const LSTATUS status = ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kPolicyValue);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  }
  bool Set(DWORD type, const void* data, DWORD size) {
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kPolicyValue, type, data, size) ==
           ERROR_SUCCESS;
  }

 private:
  bool saved_exists_ = false;
  DWORD saved_type_ = REG_NONE;
  BYTE saved_[64] = {};
  DWORD saved_size_ = 0;
};

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_TRUE(FileExists(AppExe())) << Narrow(AppExe());
    ASSERT_TRUE(config_.ready() && config_.Write(kValidConfig))
        << "cannot write the ProgramData configuration";
    ASSERT_TRUE(RemoveTunnelService()) << "a service from an earlier run is stuck";
    DWORD error = 0;
    ASSERT_TRUE(capture_.Start(&error, kDebugOutputClaimMs))
        << "debugger output not capturable, error " << error;
  }

  ProcessRun Tarnwick(const std::vector<std::wstring>& arguments,
                      const std::wstring& exe = AppExe(), const ProcessOptions& options = {}) {
    ProcessRun run = RunProcess(exe, arguments, options, kProcessBoundMs);
    EXPECT_TRUE(run.started) << "start error " << run.start_error;
    EXPECT_TRUE(run.exited) << "still running after " << kProcessBoundMs << " ms";
    return run;
  }

  // A copy of the app folder without the eight UI libraries.
  std::wstring AppFolderWithoutUi(const std::wstring& name) {
    const std::wstring folder = temp_.MakeDir(name);
    EXPECT_TRUE(CopyAppFolder(folder, kUiLibraryNames));
    for (const std::wstring& library : kUiLibraryNames) {
      EXPECT_FALSE(FileExists(JoinPath(folder, library))) << Narrow(library);
    }
    return folder;
  }

  TempDir temp_;
  ProgramDataConfig config_;
  TunnelServiceCleanup cleanup_;  // after config_: the service goes before its file
  DebugOutputCapture capture_;
};

// Wine gives every file to the one user, with full access: the build's app
// folder is unprotected there, as a build folder on Windows is.
TEST_F(ProgramFolderTest, InstallRefusesAnUnprotectedFolderUnlessTheValueIsDwordOne) {
  PolicyValue policy;
  const DWORD zero = 0;
  const DWORD one = 1;
  const wchar_t text_one[] = L"1";
  const struct {
    const char* name;
    std::optional<DWORD> type;  // none: no value
    const void* data;
    DWORD size;
    bool installs;
  } cases[] = {
      {"no value", std::nullopt, nullptr, 0, false},
      {"REG_DWORD 0", REG_DWORD, &zero, sizeof(zero), false},
      {"REG_SZ \"1\"", REG_SZ, text_one, sizeof(text_one), false},
      {"REG_DWORD 1", REG_DWORD, &one, sizeof(one), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.type ? policy.Set(*c.type, c.data, c.size) : policy.Clear());
    const ProcessRun run = Tarnwick({L"/svc-install", config_.path()});
    LetDebugOutputSettle(capture_);
    if (c.installs) {
      EXPECT_EQ(run.exit_code, 0u);
      EXPECT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
      // Wine cannot set the SID type, and Windows can: that line or none.
      for (const std::string& line : LinesFrom(capture_, run.pid, "[Tarnwick]")) {
        EXPECT_TRUE(IsSidTypeLine(line)) << line;
      }
    } else {
      EXPECT_EQ(run.exit_code, 1u);
      // Judged from the drive's root down: Wine shows its Z:\ (the Unix
      // root) as a link.
      EXPECT_EQ(LinesFrom(capture_, run.pid),
                std::vector<std::string>{
                    "[Tarnwick] InstallAndStartTunnel: program folder is not protected: " +
                    Narrow(AppDir().substr(0, 3)) + " is a link"});
      EXPECT_FALSE(QueryTunnelService().exists);
    }
  }
}

TEST_F(ProgramFolderTest, ServiceRunsFromAFolderWithoutUiLibraries) {
  const std::wstring folder = AppFolderWithoutUi(L"app without ui");
  const std::wstring exe = JoinPath(folder, L"tarnwick.exe");

  const ProcessRun install = Tarnwick({L"/svc-install", config_.path()}, exe);
  EXPECT_EQ(install.exit_code, 0u);
  EXPECT_EQ(Narrow(QueryTunnelService().binary_path),
            Narrow(L"\"" + exe + L"\" /service \"" + config_.path() + L"\""));
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] read configuration", kServiceBoundMs));

  const ProcessRun remove = Tarnwick({L"/svc-remove"}, exe);
  EXPECT_EQ(remove.exit_code, 0u);
  EXPECT_TRUE(WaitForTunnelServiceGone(kServiceBoundMs));
}

TEST_F(ProgramFolderTest, UiLibrariesPlantedBesideTheExecutableNeverLoadInServiceModes) {
  const std::wstring folder = AppFolderWithoutUi(L"app with planted ui");
  const std::wstring planted = WindowsPathFromBuild(TARNWICK_PLANTED_UI_DLL);
  for (const std::wstring& library : kUiLibraryNames) {
    ASSERT_TRUE(::CopyFileW(planted.c_str(), JoinPath(folder, library).c_str(), FALSE));
  }
  const std::wstring exe = JoinPath(folder, L"tarnwick.exe");

  const ProcessRun install = Tarnwick({L"/svc-install", config_.path()}, exe);
  EXPECT_EQ(install.exit_code, 0u);
  ASSERT_TRUE(WaitForTunnelServiceState(SERVICE_RUNNING, kServiceBoundMs));
  const auto read = capture_.WaitForText("[tunnel-standin] read configuration", kServiceBoundMs);
  ASSERT_TRUE(read.has_value()) << "the service host of the planted folder never ran";
  // Outside the service manager the host still loads tunnel.dll, which says so.
  const ProcessRun host = Tarnwick({L"/service", config_.path()}, exe);
  EXPECT_EQ(host.exit_code, 1u);
  EXPECT_TRUE(capture_.WaitForText("[tunnel-standin] not started by the service control manager",
                                   kServiceBoundMs));
  const ProcessRun remove = Tarnwick({L"/svc-remove"}, exe);
  EXPECT_EQ(remove.exit_code, 0u);
  EXPECT_TRUE(WaitForTunnelServiceGone(kServiceBoundMs));

  LetDebugOutputSettle(capture_);
  EXPECT_EQ(LinesContaining(capture_, "[planted-ui]"), std::vector<std::string>{});

  // Loaded, the planted library is seen: the check above can fail.
  const UniqueModule loaded(::LoadLibraryW(JoinPath(folder, L"flutter_windows.dll").c_str()));
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(capture_.WaitForText("[planted-ui] flutter_windows.dll loaded into process " +
                                       std::to_string(::GetCurrentProcessId()),
                                   kServiceBoundMs));
}

TEST_F(ProgramFolderTest, InteractiveAppWithoutAUiLibraryEndsWithAMessage) {
  for (const std::wstring& missing : kUiLibraryNames) {
    SCOPED_TRACE(Narrow(missing));
    const std::wstring folder = temp_.MakeDir(L"without " + missing);
    ASSERT_TRUE(CopyAppFolder(folder, {missing}));
    ProcessOptions options;
    options.output_file = JoinPath(folder, L"output.txt");
    const ProcessRun run = Tarnwick({}, JoinPath(folder, L"tarnwick.exe"), options);
    EXPECT_EQ(run.exit_code, 1u);
    std::string output;
    ASSERT_TRUE(ReadFileBytes(options.output_file, &output));
    EXPECT_NE(output.find("tarnwick: cannot start: " + Narrow(missing) +
                          " cannot be loaded from the program folder: " +
                          Narrow(SystemErrorText(ERROR_MOD_NOT_FOUND)) + "; reinstall Tarnwick"),
              std::string::npos)
        << output;
  }
}

}  // namespace
}  // namespace tarnwick::e2e
