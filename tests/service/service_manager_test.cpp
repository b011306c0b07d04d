// The service operations through a scripted service control manager: every
// row of their failure tables, the arguments they pass, and the closing of
// the service handle before the manager handle on every path.
#include "service/service_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const auto kManager = reinterpret_cast<SC_HANDLE>(0x1000);
const auto kService = reinterpret_cast<SC_HANDLE>(0x2000);
// What a close leaves in the last-error slot, so reading it late is caught.
constexpr DWORD kErrorAfterClose = 0xC105E;
constexpr wchar_t kExe[] = L"C:\\Program Files\\Tarnwick\\tarnwick.exe";

// The scripted manager; each test configures one and reads what it saw.
struct FakeScm {
  std::wstring module_path = kExe;
  DWORD module_result = 0;  // when nonzero, returned instead of the length

  bool manager_opens = true;
  DWORD create_error = 0;  // nonzero: CreateServiceW fails with it
  DWORD open_error = 0;    // nonzero: OpenServiceW fails with it
  bool sid_sets = true;
  DWORD start_error = 0;
  DWORD control_error = 0;
  std::vector<DWORD> states{SERVICE_STOPPED};  // query answers; the last repeats
  bool query_fails = false;
  DWORD delete_error = 0;

  std::vector<std::string> calls;
  std::vector<std::wstring> logs;
  std::vector<SC_HANDLE> closed;
  DWORD last_error = 0;
  DWORD manager_access = 0;
  DWORD open_access = 0;
  std::wstring binary_path;
  std::vector<std::wstring> dependencies;
  std::vector<DWORD> create_values;  // access, type, start, error control
  bool create_nulls = false;         // group, tag, account, password all null
  DWORD sid_level = 0;
  DWORD sid_type = 0;
  DWORD start_argc = 99;
  DWORD control_code = 0;
  int queries = 0;
  std::vector<DWORD> sleeps;
};
FakeScm* g_scm = nullptr;

DWORD WINAPI FakeGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  g_scm->calls.push_back("GetModuleFileNameW");
  EXPECT_EQ(module, nullptr);
  EXPECT_EQ(size, 260u);
  const size_t n = std::min<size_t>(g_scm->module_path.size(), size);
  std::copy_n(g_scm->module_path.begin(), n, buffer);
  if (n < size) buffer[n] = L'\0';
  return g_scm->module_result != 0 ? g_scm->module_result : static_cast<DWORD>(n);
}

SC_HANDLE WINAPI FakeOpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
  g_scm->calls.push_back("OpenSCManagerW");
  EXPECT_EQ(machine, nullptr);
  EXPECT_EQ(database, nullptr);
  g_scm->manager_access = access;
  if (!g_scm->manager_opens) {
    g_scm->last_error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return kManager;
}

SC_HANDLE WINAPI FakeCreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR display, DWORD access,
                                    DWORD type, DWORD start, DWORD error_control, LPCWSTR binary,
                                    LPCWSTR group, LPDWORD tag, LPCWSTR dependencies,
                                    LPCWSTR account, LPCWSTR password) {
  g_scm->calls.push_back("CreateServiceW");
  EXPECT_EQ(manager, kManager);
  EXPECT_STREQ(name, L"WireGuardTunnel$Tarnwick");
  EXPECT_STREQ(display, L"Tarnwick WireGuard Tunnel");
  g_scm->create_values = {access, type, start, error_control};
  g_scm->binary_path = binary;
  g_scm->create_nulls = !group && !tag && !account && !password;
  for (const wchar_t* d = dependencies; d && *d; d += wcslen(d) + 1) {
    g_scm->dependencies.emplace_back(d);
  }
  if (g_scm->create_error != 0) {
    g_scm->last_error = g_scm->create_error;
    return nullptr;
  }
  return kService;
}

SC_HANDLE WINAPI FakeOpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access) {
  g_scm->calls.push_back("OpenServiceW");
  EXPECT_EQ(manager, kManager);
  EXPECT_STREQ(name, L"WireGuardTunnel$Tarnwick");
  g_scm->open_access = access;
  if (g_scm->open_error != 0) {
    g_scm->last_error = g_scm->open_error;
    return nullptr;
  }
  return kService;
}

BOOL WINAPI FakeChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info) {
  g_scm->calls.push_back("ChangeServiceConfig2W");
  EXPECT_EQ(service, kService);
  g_scm->sid_level = level;
  g_scm->sid_type = static_cast<SERVICE_SID_INFO*>(info)->dwServiceSidType;
  if (!g_scm->sid_sets) g_scm->last_error = ERROR_INVALID_PARAMETER;
  return g_scm->sid_sets;
}

BOOL WINAPI FakeStartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv) {
  g_scm->calls.push_back("StartServiceW");
  EXPECT_EQ(service, kService);
  EXPECT_EQ(argv, nullptr);
  g_scm->start_argc = argc;
  g_scm->last_error = g_scm->start_error;
  return g_scm->start_error == 0;
}

BOOL WINAPI FakeControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  g_scm->calls.push_back("ControlService");
  EXPECT_EQ(service, kService);
  EXPECT_NE(status, nullptr);
  g_scm->control_code = control;
  g_scm->last_error = g_scm->control_error;
  return g_scm->control_error == 0;
}

BOOL WINAPI FakeQueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer,
                                     DWORD size, LPDWORD needed) {
  g_scm->calls.push_back("QueryServiceStatusEx");
  EXPECT_EQ(service, kService);
  EXPECT_EQ(level, SC_STATUS_PROCESS_INFO);
  EXPECT_EQ(size, 36u);
  EXPECT_NE(needed, nullptr);
  const size_t index = std::min<size_t>(g_scm->queries++, g_scm->states.size() - 1);
  if (g_scm->query_fails) {
    g_scm->last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  SERVICE_STATUS_PROCESS status{};
  status.dwCurrentState = g_scm->states[index];
  std::memcpy(buffer, &status, sizeof(status));
  return TRUE;
}

BOOL WINAPI FakeDeleteService(SC_HANDLE service) {
  g_scm->calls.push_back("DeleteService");
  EXPECT_EQ(service, kService);
  g_scm->last_error = g_scm->delete_error;
  return g_scm->delete_error == 0;
}

BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE handle) {
  g_scm->calls.push_back(handle == kService ? "Close(service)" : "Close(manager)");
  g_scm->closed.push_back(handle);
  g_scm->last_error = kErrorAfterClose;
  return TRUE;
}

DWORD WINAPI FakeGetLastError() { return g_scm->last_error; }

void WINAPI FakeSleep(DWORD ms) {
  g_scm->calls.push_back("Sleep");
  g_scm->sleeps.push_back(ms);
}

void FakeDebugLog(const std::wstring& message) { g_scm->logs.push_back(message); }

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_scm = &scm_;
    calls_.GetModuleFileNameW = FakeGetModuleFileNameW;
    calls_.OpenSCManagerW = FakeOpenSCManagerW;
    calls_.CreateServiceW = FakeCreateServiceW;
    calls_.OpenServiceW = FakeOpenServiceW;
    calls_.ChangeServiceConfig2W = FakeChangeServiceConfig2W;
    calls_.StartServiceW = FakeStartServiceW;
    calls_.ControlService = FakeControlService;
    calls_.QueryServiceStatusEx = FakeQueryServiceStatusEx;
    calls_.DeleteService = FakeDeleteService;
    calls_.CloseServiceHandle = FakeCloseServiceHandle;
    calls_.GetLastError = FakeGetLastError;
    calls_.Sleep = FakeSleep;
    calls_.DebugLog = FakeDebugLog;
  }
  void TearDown() override { g_scm = nullptr; }

  // The calls seen, without the status polling, which tests count apart.
  std::vector<std::string> CallsWithoutPolling() const {
    std::vector<std::string> calls;
    for (const std::string& call : scm_.calls) {
      if (call != "QueryServiceStatusEx" && call != "Sleep") calls.push_back(call);
    }
    return calls;
  }

  FakeScm scm_;
  tarnwick::ServiceCalls calls_;
};

using Calls = std::vector<std::string>;
using Logs = std::vector<std::wstring>;

TEST_F(ServiceManagerTest, InstallCreatesTheServiceWithItsIdentityAndStartsIt) {
  EXPECT_TRUE(InstallAndStartTunnel(L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", calls_));
  EXPECT_EQ(scm_.calls, (Calls{"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW",
                               "ChangeServiceConfig2W", "StartServiceW", "Close(service)",
                               "Close(manager)"}));
  EXPECT_TRUE(scm_.logs.empty());
  EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ(scm_.create_values, (std::vector<DWORD>{0xF01FF, 0x10, 2, 1}));
  EXPECT_TRUE(scm_.create_nulls);
  EXPECT_EQ(scm_.dependencies, (std::vector<std::wstring>{L"Nsi", L"TcpIp"}));
  EXPECT_EQ(scm_.binary_path,
            L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service "
            L"\"C:\\ProgramData\\Tarnwick\\tarnwick.conf\"");
  EXPECT_EQ(scm_.sid_level, 5u);
  EXPECT_EQ(scm_.sid_type, 1u);
  EXPECT_EQ(scm_.start_argc, 0u);
}

TEST_F(ServiceManagerTest, InstallPutsTheConfigurationPathInTheCommandLineUnchanged) {
  const struct {
    std::wstring config;
    std::wstring binary_path;
  } cases[] = {
      {L"", L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"\""},
      {L"D:\\a b\\..\\x.conf", L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"D:\\a b\\..\\x.conf\""},
      {L"%TEMP%\\c.conf", L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"%TEMP%\\c.conf\""},
  };
  for (const auto& c : cases) {
    scm_ = FakeScm{};
    EXPECT_TRUE(InstallAndStartTunnel(c.config, calls_));
    EXPECT_EQ(scm_.binary_path, c.binary_path);
  }
}

TEST_F(ServiceManagerTest, InstallRefusesAnExecutablePathItCannotTrust) {
  // 0 is a failed call; 260 fills the buffer, so the path may be cut.
  for (const DWORD result : {0u, 260u}) {
    scm_ = FakeScm{};
    scm_.module_path = std::wstring(300, L'x');
    scm_.module_result = result;
    EXPECT_FALSE(InstallAndStartTunnel(L"C:\\c.conf", calls_)) << result;
    EXPECT_EQ(scm_.calls, Calls{"GetModuleFileNameW"}) << "no service manager call";
    EXPECT_EQ(scm_.logs, Logs{L"InstallAndStartTunnel: could not resolve exe path"});
  }
  // One character less fits and is used whole.
  scm_ = FakeScm{};
  scm_.module_path = L"C:\\" + std::wstring(252, L'p') + L".exe";
  ASSERT_EQ(scm_.module_path.size(), 259u);
  EXPECT_TRUE(InstallAndStartTunnel(L"c", calls_));
  EXPECT_EQ(scm_.binary_path, L"\"" + scm_.module_path + L"\" /service \"c\"");
}

TEST_F(ServiceManagerTest, InstallFailureRows) {
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    bool result;
    Calls calls;
    Logs logs;
  } cases[] = {
      {"manager not opened", [](FakeScm& s) { s.manager_opens = false; }, false,
       {"GetModuleFileNameW", "OpenSCManagerW"},
       {L"InstallAndStartTunnel: OpenSCManagerW failed"}},
      {"exists: opened, not rewritten, started",
       [](FakeScm& s) { s.create_error = ERROR_SERVICE_EXISTS; }, true,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "OpenServiceW",
        "ChangeServiceConfig2W", "StartServiceW", "Close(service)", "Close(manager)"},
       {}},
      {"marked for deletion: no open tried",
       [](FakeScm& s) { s.create_error = ERROR_SERVICE_MARKED_FOR_DELETE; }, false,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "Close(manager)"},
       {L"InstallAndStartTunnel: CreateServiceW/OpenServiceW failed"}},
      {"exists but cannot be opened",
       [](FakeScm& s) {
         s.create_error = ERROR_SERVICE_EXISTS;
         s.open_error = ERROR_ACCESS_DENIED;
       },
       false,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "OpenServiceW", "Close(manager)"},
       {L"InstallAndStartTunnel: CreateServiceW/OpenServiceW failed"}},
      {"SID type not set, start succeeds", [](FakeScm& s) { s.sid_sets = false; }, true,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "ChangeServiceConfig2W",
        "StartServiceW", "Close(service)", "Close(manager)"},
       {L"InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed"}},
      {"SID type not set and start fails",
       [](FakeScm& s) {
         s.sid_sets = false;
         s.start_error = ERROR_SERVICE_DISABLED;
       },
       false,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "ChangeServiceConfig2W",
        "StartServiceW", "Close(service)", "Close(manager)"},
       {L"InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed",
        L"InstallAndStartTunnel: StartServiceW failed"}},
      {"already running", [](FakeScm& s) { s.start_error = ERROR_SERVICE_ALREADY_RUNNING; }, true,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "ChangeServiceConfig2W",
        "StartServiceW", "Close(service)", "Close(manager)"},
       {}},
      {"start fails", [](FakeScm& s) { s.start_error = ERROR_SERVICE_DEPENDENCY_FAIL; }, false,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "ChangeServiceConfig2W",
        "StartServiceW", "Close(service)", "Close(manager)"},
       {L"InstallAndStartTunnel: StartServiceW failed"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_EQ(InstallAndStartTunnel(L"C:\\c.conf", calls_), c.result);
    EXPECT_EQ(scm_.calls, c.calls);
    EXPECT_EQ(scm_.logs, c.logs);
    if (scm_.open_access != 0) {
      EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
    }
  }
}

TEST_F(ServiceManagerTest, RemoveStopsWaitsForStoppedAndDeletes) {
  scm_.states = {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
  EXPECT_TRUE(StopAndRemoveTunnel(calls_));
  EXPECT_EQ(CallsWithoutPolling(), (Calls{"OpenSCManagerW", "OpenServiceW", "ControlService",
                                          "DeleteService", "Close(service)", "Close(manager)"}));
  EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
  EXPECT_EQ(scm_.control_code, static_cast<DWORD>(SERVICE_CONTROL_STOP));
  EXPECT_EQ(scm_.queries, 3);
  EXPECT_EQ(scm_.sleeps, (std::vector<DWORD>{200, 200}));
  EXPECT_TRUE(scm_.logs.empty());
}

TEST_F(ServiceManagerTest, RemoveRequestsDeletionOfAServiceThatNeverStops) {
  scm_.states = {SERVICE_STOP_PENDING};
  EXPECT_TRUE(StopAndRemoveTunnel(calls_));
  EXPECT_EQ(scm_.queries, 50);
  EXPECT_EQ(scm_.sleeps, std::vector<DWORD>(50, 200));
  // Ends on a pause: no query after the fiftieth.
  ASSERT_GE(scm_.calls.size(), 4u);
  EXPECT_EQ(scm_.calls[scm_.calls.size() - 4], "Sleep");
  EXPECT_EQ(CallsWithoutPolling(), (Calls{"OpenSCManagerW", "OpenServiceW", "ControlService",
                                          "DeleteService", "Close(service)", "Close(manager)"}));

  scm_ = FakeScm{};
  scm_.states = {SERVICE_STOP_PENDING};
  scm_.delete_error = ERROR_SERVICE_MARKED_FOR_DELETE;
  EXPECT_TRUE(StopAndRemoveTunnel(calls_));
  EXPECT_TRUE(scm_.logs.empty());
}

TEST_F(ServiceManagerTest, RemoveFailureRows) {
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    bool result;
    Calls calls;
    Logs logs;
    int queries;
  } cases[] = {
      {"manager not opened", [](FakeScm& s) { s.manager_opens = false; }, false,
       {"OpenSCManagerW"}, {L"StopAndRemoveTunnel: OpenSCManagerW failed"}, 0},
      {"not installed", [](FakeScm& s) { s.open_error = ERROR_SERVICE_DOES_NOT_EXIST; }, true,
       {"OpenSCManagerW", "OpenServiceW", "Close(manager)"}, {}, 0},
      {"not openable", [](FakeScm& s) { s.open_error = ERROR_ACCESS_DENIED; }, false,
       {"OpenSCManagerW", "OpenServiceW", "Close(manager)"},
       {L"StopAndRemoveTunnel: OpenServiceW failed"}, 0},
      {"not running: stop refused, stopped at the first query",
       [](FakeScm& s) { s.control_error = ERROR_SERVICE_NOT_ACTIVE; }, true,
       {"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService", "Close(service)",
        "Close(manager)"},
       {}, 1},
      {"status query fails: deletion at once",
       [](FakeScm& s) {
         s.query_fails = true;
         s.states = {SERVICE_RUNNING};
       },
       true,
       {"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService", "Close(service)",
        "Close(manager)"},
       {}, 1},
      {"already marked for deletion",
       [](FakeScm& s) { s.delete_error = ERROR_SERVICE_MARKED_FOR_DELETE; }, true,
       {"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService", "Close(service)",
        "Close(manager)"},
       {}, 1},
      {"deletion fails", [](FakeScm& s) { s.delete_error = ERROR_ACCESS_DENIED; }, false,
       {"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService", "Close(service)",
        "Close(manager)"},
       {L"StopAndRemoveTunnel: DeleteService failed"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_EQ(StopAndRemoveTunnel(calls_), c.result);
    EXPECT_EQ(CallsWithoutPolling(), c.calls);
    EXPECT_EQ(scm_.logs, c.logs);
    EXPECT_EQ(scm_.queries, c.queries);
    EXPECT_TRUE(scm_.sleeps.empty());
  }
}

TEST_F(ServiceManagerTest, StatusIsRunningOnlyInTheRunningState) {
  const struct {
    DWORD state;
    bool running;
  } states[] = {{SERVICE_STOPPED, false},        {SERVICE_START_PENDING, false},
                {SERVICE_STOP_PENDING, false},   {SERVICE_RUNNING, true},
                {SERVICE_CONTINUE_PENDING, false}, {SERVICE_PAUSE_PENDING, false},
                {SERVICE_PAUSED, false}};
  for (const auto& s : states) {
    scm_ = FakeScm{};
    scm_.states = {s.state};
    EXPECT_EQ(IsTunnelRunning(calls_), s.running) << s.state;
    EXPECT_EQ(scm_.calls, (Calls{"OpenSCManagerW", "OpenServiceW", "QueryServiceStatusEx",
                                 "Close(service)", "Close(manager)"}));
    EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_CONNECT));
    EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_QUERY_STATUS));
  }
}

TEST_F(ServiceManagerTest, StatusIsNotRunningWhenTheServiceCannotBeAsked) {
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    Calls calls;
  } cases[] = {
      {"manager not opened", [](FakeScm& s) { s.manager_opens = false; }, {"OpenSCManagerW"}},
      {"not installed", [](FakeScm& s) { s.open_error = ERROR_SERVICE_DOES_NOT_EXIST; },
       {"OpenSCManagerW", "OpenServiceW", "Close(manager)"}},
      {"query fails",
       [](FakeScm& s) {
         s.query_fails = true;
         s.states = {SERVICE_RUNNING};
       },
       {"OpenSCManagerW", "OpenServiceW", "QueryServiceStatusEx", "Close(service)",
        "Close(manager)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_FALSE(IsTunnelRunning(calls_));
    EXPECT_EQ(scm_.calls, c.calls);
    EXPECT_TRUE(scm_.logs.empty());
  }
}

}  // namespace
