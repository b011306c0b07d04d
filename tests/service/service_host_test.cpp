// The service host through a scripted loader: where it lets the library come
// from, how it calls and unloads it, and the exit code it makes of each case.
#include "service/service_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const auto kLibrary = reinterpret_cast<HMODULE>(0x7000);

struct FakeLoader {
  bool loads = true;
  bool default_dirs_set = true;
  bool has_export = true;
  BOOL export_result = TRUE;

  std::vector<std::string> calls;
  std::vector<std::wstring> logs;
  std::vector<DWORD> default_dirs_flags;
  std::wstring loaded_name;
  HANDLE load_file = reinterpret_cast<HANDLE>(1);
  DWORD load_flags = 0;
  std::string proc_name;
  std::wstring export_path;
  bool export_saw_null = false;
};
FakeLoader* g_loader = nullptr;

BOOL WINAPI FakeSetDefaultDllDirectories(DWORD flags) {
  g_loader->calls.push_back("SetDefaultDllDirectories");
  g_loader->default_dirs_flags.push_back(flags);
  return g_loader->default_dirs_set;
}

HMODULE WINAPI FakeLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  g_loader->calls.push_back("LoadLibraryExW");
  g_loader->loaded_name = name;
  g_loader->load_file = file;
  g_loader->load_flags = flags;
  return g_loader->loads ? kLibrary : nullptr;
}

BOOL WINAPI FakeTunnelService(const wchar_t* path) {
  g_loader->calls.push_back("WireGuardTunnelService");
  g_loader->export_saw_null = path == nullptr;
  if (path != nullptr) g_loader->export_path = path;
  return g_loader->export_result;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  g_loader->calls.push_back("GetProcAddress");
  EXPECT_EQ(module, kLibrary);
  g_loader->proc_name = name;
  if (!g_loader->has_export) return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeTunnelService));
}

BOOL WINAPI FakeFreeLibrary(HMODULE module) {
  g_loader->calls.push_back("FreeLibrary");
  EXPECT_EQ(module, kLibrary);
  return TRUE;
}

void FakeDebugLog(const std::wstring& message) { g_loader->logs.push_back(message); }

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_loader = &loader_;
    calls_.SetDefaultDllDirectories = FakeSetDefaultDllDirectories;
    calls_.LoadLibraryExW = FakeLoadLibraryExW;
    calls_.GetProcAddress = FakeGetProcAddress;
    calls_.FreeLibrary = FakeFreeLibrary;
    calls_.DebugLog = FakeDebugLog;
  }
  void TearDown() override { g_loader = nullptr; }

  FakeLoader loader_;
  tarnwick::ServiceHostCalls calls_;
};

using Calls = std::vector<std::string>;
using Logs = std::vector<std::wstring>;

// The process runs as LocalSystem: neither the library nor anything loaded
// later may come from the current directory or PATH.
TEST_F(ServiceHostTest, LoadsTheLibraryOnlyFromTheAppFolderAndSystem32) {
  constexpr DWORD kAppDirAndSystem32 = 0x200 | 0x800;
  EXPECT_EQ(RunTunnelService(L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", calls_), 0);
  EXPECT_EQ(loader_.default_dirs_flags, std::vector<DWORD>{kAppDirAndSystem32});
  EXPECT_EQ(loader_.loaded_name, L"tunnel.dll");
  EXPECT_EQ(loader_.load_file, nullptr);
  EXPECT_EQ(loader_.load_flags, kAppDirAndSystem32);
  EXPECT_EQ(loader_.calls[0], "SetDefaultDllDirectories") << "restricted before the load";

  // Without the process-wide restriction the load itself stays restricted.
  loader_ = FakeLoader{};
  loader_.default_dirs_set = false;
  EXPECT_EQ(RunTunnelService(L"C:\\c.conf", calls_), 0);
  EXPECT_EQ(loader_.load_flags, kAppDirAndSystem32);
  EXPECT_TRUE(loader_.logs.empty());
}

TEST_F(ServiceHostTest, ResultRows) {
  const struct {
    const char* name;
    bool loads;
    bool has_export;
    BOOL export_result;
    int exit_code;
    Calls calls;
    Logs logs;
  } cases[] = {
      {"library not loaded", false, true, TRUE, 1,
       {"SetDefaultDllDirectories", "LoadLibraryExW"},
       {L"RunTunnelService: failed to load tunnel.dll"}},
      {"export missing", true, false, TRUE, 1,
       {"SetDefaultDllDirectories", "LoadLibraryExW", "GetProcAddress", "FreeLibrary"},
       {L"RunTunnelService: WireGuardTunnelService export not found"}},
      {"export returned zero", true, true, FALSE, 1,
       {"SetDefaultDllDirectories", "LoadLibraryExW", "GetProcAddress", "WireGuardTunnelService",
        "FreeLibrary"},
       {}},
      {"export returned nonzero", true, true, 7, 0,
       {"SetDefaultDllDirectories", "LoadLibraryExW", "GetProcAddress", "WireGuardTunnelService",
        "FreeLibrary"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    loader_ = FakeLoader{};
    loader_.loads = c.loads;
    loader_.has_export = c.has_export;
    loader_.export_result = c.export_result;
    EXPECT_EQ(RunTunnelService(L"C:\\c.conf", calls_), c.exit_code);
    EXPECT_EQ(loader_.calls, c.calls);
    EXPECT_EQ(loader_.logs, c.logs);
    if (c.loads) {
      EXPECT_EQ(loader_.proc_name, "WireGuardTunnelService");
    }
  }
}

TEST_F(ServiceHostTest, HandsThePathToTheExportUnchanged) {
  for (const std::wstring path : {L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", L"", L"/svc-install",
                                  L"D:\\with blank\\\"odd\".conf"}) {
    loader_ = FakeLoader{};
    EXPECT_EQ(RunTunnelService(path.c_str(), calls_), 0);
    EXPECT_FALSE(loader_.export_saw_null);
    EXPECT_EQ(loader_.export_path, path);
  }
  // No path at all reaches the library as an empty one, never as null.
  loader_ = FakeLoader{};
  EXPECT_EQ(RunTunnelService(nullptr, calls_), 0);
  EXPECT_FALSE(loader_.export_saw_null);
  EXPECT_EQ(loader_.export_path, L"");
}

}  // namespace
