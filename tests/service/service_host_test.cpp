// The service host through a scripted loader: where it lets the library come
// from, how it calls and unloads it, and the exit code it makes of each case.
// The loader hands out a real system library, because the host unloads it
// with the real FreeLibrary; the export is a function of this test.
#include "service/service_host.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "tests/support/paths.h"
#include "tests/support/program_data.h"

namespace {

using tarnwick::RunTunnelService;
using tarnwick::ServiceCalls;
using tarnwick::SystemErrorText;
using WireGuardTunnelServiceFn = tarnwick::WireGuardTunnelServiceFunction*;
using tarnwick::e2e::TempDir;

// Loaded by nothing else in this test process, so whether it is still
// loaded afterwards shows whether the host unloaded it.
constexpr wchar_t kStandInLibrary[] = L"msimg32.dll";

// Exports that answer from what they are given, without any state: the exit
// code then shows that the export ran and with what.
template <BOOL kResult>
BOOL WINAPI ExportReturning(const wchar_t*) {
  return kResult;
}
using CallList = std::vector<std::string>;
using Logs = std::vector<std::wstring>;

struct FakeLoader {
  bool loads = true;
  bool default_dirs_set = true;
  WireGuardTunnelServiceFn export_function = &ExportReturning<TRUE>;  // null: no such export

  CallList calls;
  Logs logs;
  HMODULE library = nullptr;
  std::vector<DWORD> default_dirs_flags;
  std::wstring loaded_name;
  HANDLE load_file = reinterpret_cast<HANDLE>(1);
  DWORD load_flags = 0;
  std::string proc_name;
};

bool StandInLoaded() { return ::GetModuleHandleW(kStandInLibrary) != nullptr; }

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(StandInLoaded()) << "something else holds the library";
    // The configuration the host is started with, in a ProgramData of the
    // test's own; the host's checks read it for real.
    program_data_.MakeDir(tarnwick::kConfigFolderName);
    config_ = tarnwick::e2e::ConfigFileBelow(program_data_.path());
    ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(config_, "[Interface]\n"));
  }

  ServiceCalls Calls() {
    ServiceCalls c;
    c.SHGetKnownFolderPath = [this](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) {
      return tarnwick::e2e::AnswerKnownFolder(program_data_.path(), path);
    };
    c.SetDefaultDllDirectories = [this](DWORD flags) {
      loader_.calls.push_back("SetDefaultDllDirectories");
      loader_.default_dirs_flags.push_back(flags);
      return loader_.default_dirs_set ? TRUE : FALSE;
    };
    c.LoadLibraryExW = [this](LPCWSTR name, HANDLE file, DWORD flags) -> HMODULE {
      loader_.calls.push_back("LoadLibraryExW");
      loader_.loaded_name = name;
      loader_.load_file = file;
      loader_.load_flags = flags;
      if (!loader_.loads) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
      }
      loader_.library = ::LoadLibraryW(kStandInLibrary);
      EXPECT_NE(loader_.library, nullptr);
      return loader_.library;
    };
    c.GetProcAddress = [this](HMODULE module, LPCSTR name) -> FARPROC {
      loader_.calls.push_back("GetProcAddress");
      EXPECT_EQ(module, loader_.library);
      loader_.proc_name = name;
      if (loader_.export_function == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
      }
      // As a library hands it out; the host casts it back.
      return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(loader_.export_function));
    };
    c.OutputDebugStringW = [this](LPCWSTR line) { loader_.logs.push_back(line); };
    return c;
  }

  FakeLoader loader_;
  TempDir program_data_;
  std::wstring config_;
};

// The process runs as LocalSystem: neither the library nor anything loaded
// later may come from the current directory or PATH.
TEST_F(ServiceHostTest, LoadsTheLibraryOnlyFromTheAppFolderAndSystem32) {
  constexpr DWORD kAppDirAndSystem32 = 0x200 | 0x800;
  EXPECT_EQ(RunTunnelService(config_.c_str(), Calls()), 0);
  constexpr DWORD kSystem32 = 0x800;
  EXPECT_EQ(loader_.default_dirs_flags, std::vector<DWORD>{kSystem32})
      << "later loads of the process: System32 only";
  EXPECT_EQ(loader_.loaded_name, L"tunnel.dll");
  EXPECT_EQ(loader_.load_file, nullptr);
  EXPECT_EQ(loader_.load_flags, kAppDirAndSystem32);
  ASSERT_FALSE(loader_.calls.empty());
  EXPECT_EQ(loader_.calls[0], "SetDefaultDllDirectories") << "restricted before the load";

  // Without the process-wide restriction the load itself stays restricted.
  loader_ = FakeLoader{};
  loader_.default_dirs_set = false;
  EXPECT_EQ(RunTunnelService(config_.c_str(), Calls()), 0);
  EXPECT_EQ(loader_.load_flags, kAppDirAndSystem32);
  EXPECT_TRUE(loader_.logs.empty());
}

TEST_F(ServiceHostTest, ResultRows) {
  const CallList loaded = {"SetDefaultDllDirectories", "LoadLibraryExW", "GetProcAddress"};
  const struct {
    const char* name;
    bool loads;
    WireGuardTunnelServiceFn export_function;
    int exit_code;
    CallList calls;
    Logs logs;
  } cases[] = {
      {"library not loaded",
       false,
       &ExportReturning<TRUE>,
       1,
       {"SetDefaultDllDirectories", "LoadLibraryExW"},
       {L"[Tarnwick] RunTunnelService: failed to load tunnel.dll: " + SystemErrorText(126) +
        L"\n"}},
      {"export missing",
       true,
       nullptr,
       1,
       loaded,
       {L"[Tarnwick] RunTunnelService: WireGuardTunnelService export not found: " +
        SystemErrorText(127) + L"\n"}},
      {"export returned zero", true, &ExportReturning<FALSE>, 1, loaded, {}},
      {"export returned nonzero", true, &ExportReturning<7>, 0, loaded, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    loader_ = FakeLoader{};
    loader_.loads = c.loads;
    loader_.export_function = c.export_function;
    EXPECT_EQ(RunTunnelService(config_.c_str(), Calls()), c.exit_code);
    EXPECT_EQ(loader_.calls, c.calls);
    EXPECT_EQ(loader_.logs, c.logs);
    if (c.loads) {
      EXPECT_EQ(loader_.proc_name, "WireGuardTunnelService");
    }
    EXPECT_FALSE(StandInLoaded()) << "the library is unloaded on every path";
  }
}

// The service runs as SYSTEM at every boot: a configuration the host cannot
// vouch for never reaches the library, which is not even loaded.
TEST_F(ServiceHostTest, RefusesAConfigurationItCannotVouchFor) {
  const struct {
    const wchar_t* path;
    const wchar_t* line;
  } cases[] = {
      {nullptr, L"configuration is not the ProgramData configuration file"},
      {L"", L"configuration is not the ProgramData configuration file"},
      {L"/svc-install", L"configuration is not the ProgramData configuration file"},
      {L"D:\\with blank\\\"odd\".conf", L"configuration path holds a quote or ends in a backslash"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path == nullptr ? std::string("null")
                                   : std::string(c.path, c.path + std::wcslen(c.path)));
    loader_ = FakeLoader{};
    EXPECT_EQ(RunTunnelService(c.path, Calls()), 1);
    EXPECT_TRUE(loader_.calls.empty()) << "nothing loaded";
    EXPECT_EQ(loader_.logs, Logs{std::wstring(L"[Tarnwick] RunTunnelService: ") + c.line + L"\n"});
  }
  // A file that is gone is refused the same way, by what the check saw.
  ASSERT_TRUE(::DeleteFileW(config_.c_str()));
  loader_ = FakeLoader{};
  EXPECT_EQ(RunTunnelService(config_.c_str(), Calls()), 1);
  EXPECT_EQ(loader_.logs,
            Logs{L"[Tarnwick] RunTunnelService: configuration file cannot be opened: " +
                 SystemErrorText(ERROR_FILE_NOT_FOUND) + L"\n"});
}

}  // namespace
