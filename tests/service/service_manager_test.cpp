// The service operations through a scripted service control manager: every
// row of their failure tables and the arguments they pass. The handles the
// script hands out are real manager handles of the prefix, because the
// operations close them with the real CloseServiceHandle.
#include "service/service_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using tarnwick::InstallAndStartTunnel;
using tarnwick::IsTunnelRunning;
using tarnwick::ServiceCalls;
using tarnwick::StopAndRemoveTunnel;

constexpr wchar_t kExe[] = L"C:\\Program Files\\Tarnwick\\tarnwick.exe";

using CallList = std::vector<std::string>;
using Logs = std::vector<std::wstring>;

// The scripted manager; each case configures one and reads what it saw.
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

  CallList calls;
  Logs logs;
  SC_HANDLE manager = nullptr;  // the handles handed out, to check what comes back
  SC_HANDLE service = nullptr;
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

// A fresh handle of the prefix's real service manager: whatever the
// operation later does with it, its owner closes it for real.
SC_HANDLE RealServiceManagerHandle() {
  const SC_HANDLE handle = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  EXPECT_NE(handle, nullptr) << "the prefix's service manager is not running: " << ::GetLastError();
  return handle;
}

class ServiceManagerTest : public ::testing::Test {
 protected:
  ServiceCalls Calls() {
    ServiceCalls c;
    c.GetModuleFileNameW = [this](HMODULE module, LPWSTR buffer, DWORD size) {
      scm_.calls.push_back("GetModuleFileNameW");
      EXPECT_EQ(module, nullptr);
      EXPECT_EQ(size, 260u);
      const size_t n = std::min<size_t>(scm_.module_path.size(), size);
      std::copy_n(scm_.module_path.begin(), n, buffer);
      if (n < size) buffer[n] = L'\0';
      return scm_.module_result != 0 ? scm_.module_result : static_cast<DWORD>(n);
    };
    c.OpenSCManagerW = [this](LPCWSTR machine, LPCWSTR database, DWORD access) -> SC_HANDLE {
      scm_.calls.push_back("OpenSCManagerW");
      EXPECT_EQ(machine, nullptr);
      EXPECT_EQ(database, nullptr);
      scm_.manager_access = access;
      if (!scm_.manager_opens) {
        scm_.last_error = ERROR_ACCESS_DENIED;
        return nullptr;
      }
      scm_.manager = RealServiceManagerHandle();
      return scm_.manager;
    };
    c.CreateServiceW = [this](SC_HANDLE manager, LPCWSTR name, LPCWSTR display, DWORD access,
                              DWORD type, DWORD start, DWORD error_control, LPCWSTR binary,
                              LPCWSTR group, LPDWORD tag, LPCWSTR dependencies, LPCWSTR account,
                              LPCWSTR password) -> SC_HANDLE {
      scm_.calls.push_back("CreateServiceW");
      EXPECT_EQ(manager, scm_.manager);
      EXPECT_STREQ(name, L"WireGuardTunnel$Tarnwick");
      EXPECT_STREQ(display, L"Tarnwick WireGuard Tunnel");
      scm_.create_values = {access, type, start, error_control};
      scm_.binary_path = binary;
      scm_.create_nulls = !group && !tag && !account && !password;
      for (const wchar_t* d = dependencies; d && *d; d += wcslen(d) + 1) {
        scm_.dependencies.emplace_back(d);
      }
      if (scm_.create_error != 0) {
        scm_.last_error = scm_.create_error;
        return nullptr;
      }
      scm_.service = RealServiceManagerHandle();
      return scm_.service;
    };
    c.OpenServiceW = [this](SC_HANDLE manager, LPCWSTR name, DWORD access) -> SC_HANDLE {
      scm_.calls.push_back("OpenServiceW");
      EXPECT_EQ(manager, scm_.manager);
      EXPECT_STREQ(name, L"WireGuardTunnel$Tarnwick");
      scm_.open_access = access;
      if (scm_.open_error != 0) {
        scm_.last_error = scm_.open_error;
        return nullptr;
      }
      scm_.service = RealServiceManagerHandle();
      return scm_.service;
    };
    c.ChangeServiceConfig2W = [this](SC_HANDLE service, DWORD level, LPVOID info) {
      scm_.calls.push_back("ChangeServiceConfig2W");
      EXPECT_EQ(service, scm_.service);
      scm_.sid_level = level;
      scm_.sid_type = static_cast<SERVICE_SID_INFO*>(info)->dwServiceSidType;
      if (!scm_.sid_sets) scm_.last_error = ERROR_INVALID_PARAMETER;
      return scm_.sid_sets ? TRUE : FALSE;
    };
    c.StartServiceW = [this](SC_HANDLE service, DWORD argc, LPCWSTR* argv) {
      scm_.calls.push_back("StartServiceW");
      EXPECT_EQ(service, scm_.service);
      EXPECT_EQ(argv, nullptr);
      scm_.start_argc = argc;
      scm_.last_error = scm_.start_error;
      return scm_.start_error == 0 ? TRUE : FALSE;
    };
    c.ControlService = [this](SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
      scm_.calls.push_back("ControlService");
      EXPECT_EQ(service, scm_.service);
      EXPECT_NE(status, nullptr);
      scm_.control_code = control;
      scm_.last_error = scm_.control_error;
      return scm_.control_error == 0 ? TRUE : FALSE;
    };
    c.QueryServiceStatusEx = [this](SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer,
                                    DWORD size, LPDWORD needed) {
      scm_.calls.push_back("QueryServiceStatusEx");
      EXPECT_EQ(service, scm_.service);
      EXPECT_EQ(level, SC_STATUS_PROCESS_INFO);
      EXPECT_EQ(size, 36u);
      EXPECT_NE(needed, nullptr);
      const size_t index = std::min<size_t>(scm_.queries++, scm_.states.size() - 1);
      if (scm_.query_fails) {
        scm_.last_error = ERROR_INVALID_HANDLE;
        return FALSE;
      }
      SERVICE_STATUS_PROCESS status{};
      status.dwCurrentState = scm_.states[index];
      std::memcpy(buffer, &status, sizeof(status));
      return TRUE;
    };
    c.DeleteService = [this](SC_HANDLE service) {
      scm_.calls.push_back("DeleteService");
      EXPECT_EQ(service, scm_.service);
      scm_.last_error = scm_.delete_error;
      return scm_.delete_error == 0 ? TRUE : FALSE;
    };
    c.GetLastError = [this] { return scm_.last_error; };
    c.Sleep = [this](DWORD ms) {
      scm_.calls.push_back("Sleep");
      scm_.sleeps.push_back(ms);
    };
    c.OutputDebugStringW = [this](LPCWSTR line) { scm_.logs.push_back(line); };
    return c;
  }

  // The calls seen, without the status polling, which cases count apart.
  CallList CallsWithoutPolling() const {
    CallList calls;
    for (const std::string& call : scm_.calls) {
      if (call != "QueryServiceStatusEx" && call != "Sleep") calls.push_back(call);
    }
    return calls;
  }

  FakeScm scm_;
};

// The diagnostic lines as they reach the debugger output.
Logs Lines(std::initializer_list<const wchar_t*> messages) {
  Logs lines;
  for (const wchar_t* message : messages) {
    lines.push_back(std::wstring(L"[Tarnwick] ") + message + L"\n");
  }
  return lines;
}

TEST_F(ServiceManagerTest, InstallCreatesTheServiceWithItsIdentityAndStartsIt) {
  EXPECT_TRUE(InstallAndStartTunnel(L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", Calls()));
  EXPECT_EQ(scm_.calls, (CallList{"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW",
                                  "ChangeServiceConfig2W", "StartServiceW"}));
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
      {L"D:\\a b\\..\\x.conf",
       L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"D:\\a b\\..\\x.conf\""},
      {L"%TEMP%\\c.conf",
       L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"%TEMP%\\c.conf\""},
  };
  for (const auto& c : cases) {
    scm_ = FakeScm{};
    EXPECT_TRUE(InstallAndStartTunnel(c.config, Calls()));
    EXPECT_EQ(scm_.binary_path, c.binary_path);
  }
}

TEST_F(ServiceManagerTest, InstallRefusesAnExecutablePathItCannotTrust) {
  // 0 is a failed call; 260 fills the buffer, so the path may be cut.
  for (const DWORD result : {0u, 260u}) {
    scm_ = FakeScm{};
    scm_.module_path = std::wstring(300, L'x');
    scm_.module_result = result;
    EXPECT_FALSE(InstallAndStartTunnel(L"C:\\c.conf", Calls())) << result;
    EXPECT_EQ(scm_.calls, CallList{"GetModuleFileNameW"}) << "no service manager call";
    EXPECT_EQ(scm_.logs, Lines({L"InstallAndStartTunnel: could not resolve exe path"}));
  }
  // One character less fits and is used whole.
  scm_ = FakeScm{};
  scm_.module_path = L"C:\\" + std::wstring(252, L'p') + L".exe";
  ASSERT_EQ(scm_.module_path.size(), 259u);
  EXPECT_TRUE(InstallAndStartTunnel(L"c", Calls()));
  EXPECT_EQ(scm_.binary_path, L"\"" + scm_.module_path + L"\" /service \"c\"");
}

TEST_F(ServiceManagerTest, InstallFailureRows) {
  const CallList full = {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW",
                         "ChangeServiceConfig2W", "StartServiceW"};
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    bool result;
    CallList calls;
    Logs logs;
  } cases[] = {
      {"manager not opened",
       [](FakeScm& s) { s.manager_opens = false; },
       false,
       {"GetModuleFileNameW", "OpenSCManagerW"},
       Lines({L"InstallAndStartTunnel: OpenSCManagerW failed"})},
      {"exists: opened, not rewritten, started",
       [](FakeScm& s) { s.create_error = ERROR_SERVICE_EXISTS; },
       true,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "OpenServiceW",
        "ChangeServiceConfig2W", "StartServiceW"},
       {}},
      {"marked for deletion: no open tried",
       [](FakeScm& s) { s.create_error = ERROR_SERVICE_MARKED_FOR_DELETE; },
       false,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW"},
       Lines({L"InstallAndStartTunnel: CreateServiceW/OpenServiceW failed"})},
      {"exists but cannot be opened",
       [](FakeScm& s) {
         s.create_error = ERROR_SERVICE_EXISTS;
         s.open_error = ERROR_ACCESS_DENIED;
       },
       false,
       {"GetModuleFileNameW", "OpenSCManagerW", "CreateServiceW", "OpenServiceW"},
       Lines({L"InstallAndStartTunnel: CreateServiceW/OpenServiceW failed"})},
      {"SID type not set, start succeeds", [](FakeScm& s) { s.sid_sets = false; }, true, full,
       Lines({L"InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed"})},
      {"SID type not set and start fails",
       [](FakeScm& s) {
         s.sid_sets = false;
         s.start_error = ERROR_SERVICE_DISABLED;
       },
       false, full,
       Lines({L"InstallAndStartTunnel: ChangeServiceConfig2W(SID) failed",
              L"InstallAndStartTunnel: StartServiceW failed"})},
      {"already running",
       [](FakeScm& s) { s.start_error = ERROR_SERVICE_ALREADY_RUNNING; },
       true,
       full,
       {}},
      {"start fails", [](FakeScm& s) { s.start_error = ERROR_SERVICE_DEPENDENCY_FAIL; }, false,
       full, Lines({L"InstallAndStartTunnel: StartServiceW failed"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_EQ(InstallAndStartTunnel(L"C:\\c.conf", Calls()), c.result);
    EXPECT_EQ(scm_.calls, c.calls);
    EXPECT_EQ(scm_.logs, c.logs);
    if (scm_.open_access != 0) {
      EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
    }
  }
}

TEST_F(ServiceManagerTest, RemoveStopsWaitsForStoppedAndDeletes) {
  scm_.states = {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
  EXPECT_TRUE(StopAndRemoveTunnel(Calls()));
  EXPECT_EQ(CallsWithoutPolling(),
            (CallList{"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService"}));
  EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
  EXPECT_EQ(scm_.control_code, static_cast<DWORD>(SERVICE_CONTROL_STOP));
  EXPECT_EQ(scm_.queries, 3);
  EXPECT_EQ(scm_.sleeps, (std::vector<DWORD>{200, 200}));
  EXPECT_TRUE(scm_.logs.empty());
}

TEST_F(ServiceManagerTest, RemoveRequestsDeletionOfAServiceThatNeverStops) {
  scm_.states = {SERVICE_STOP_PENDING};
  EXPECT_TRUE(StopAndRemoveTunnel(Calls()));
  EXPECT_EQ(scm_.queries, 50);
  EXPECT_EQ(scm_.sleeps, std::vector<DWORD>(50, 200));
  // Ends on a pause: no query after the fiftieth.
  ASSERT_GE(scm_.calls.size(), 2u);
  EXPECT_EQ(scm_.calls[scm_.calls.size() - 2], "Sleep");
  EXPECT_EQ(CallsWithoutPolling(),
            (CallList{"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService"}));

  scm_ = FakeScm{};
  scm_.states = {SERVICE_STOP_PENDING};
  scm_.delete_error = ERROR_SERVICE_MARKED_FOR_DELETE;
  EXPECT_TRUE(StopAndRemoveTunnel(Calls()));
  EXPECT_TRUE(scm_.logs.empty());
}

TEST_F(ServiceManagerTest, RemoveFailureRows) {
  const CallList full = {"OpenSCManagerW", "OpenServiceW", "ControlService", "DeleteService"};
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    bool result;
    CallList calls;
    Logs logs;
    int queries;
  } cases[] = {
      {"manager not opened",
       [](FakeScm& s) { s.manager_opens = false; },
       false,
       {"OpenSCManagerW"},
       Lines({L"StopAndRemoveTunnel: OpenSCManagerW failed"}),
       0},
      {"not installed",
       [](FakeScm& s) { s.open_error = ERROR_SERVICE_DOES_NOT_EXIST; },
       true,
       {"OpenSCManagerW", "OpenServiceW"},
       {},
       0},
      {"not openable",
       [](FakeScm& s) { s.open_error = ERROR_ACCESS_DENIED; },
       false,
       {"OpenSCManagerW", "OpenServiceW"},
       Lines({L"StopAndRemoveTunnel: OpenServiceW failed"}),
       0},
      {"not running: stop refused, stopped at the first query",
       [](FakeScm& s) { s.control_error = ERROR_SERVICE_NOT_ACTIVE; },
       true,
       full,
       {},
       1},
      {"status query fails: deletion at once",
       [](FakeScm& s) {
         s.query_fails = true;
         s.states = {SERVICE_RUNNING};
       },
       true,
       full,
       {},
       1},
      {"already marked for deletion",
       [](FakeScm& s) { s.delete_error = ERROR_SERVICE_MARKED_FOR_DELETE; },
       true,
       full,
       {},
       1},
      {"deletion fails", [](FakeScm& s) { s.delete_error = ERROR_ACCESS_DENIED; }, false, full,
       Lines({L"StopAndRemoveTunnel: DeleteService failed"}), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_EQ(StopAndRemoveTunnel(Calls()), c.result);
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
  } states[] = {
      {SERVICE_STOPPED, false}, {SERVICE_START_PENDING, false},    {SERVICE_STOP_PENDING, false},
      {SERVICE_RUNNING, true},  {SERVICE_CONTINUE_PENDING, false}, {SERVICE_PAUSE_PENDING, false},
      {SERVICE_PAUSED, false}};
  for (const auto& s : states) {
    scm_ = FakeScm{};
    scm_.states = {s.state};
    EXPECT_EQ(IsTunnelRunning(Calls()), s.running) << s.state;
    EXPECT_EQ(scm_.calls, (CallList{"OpenSCManagerW", "OpenServiceW", "QueryServiceStatusEx"}));
    EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_CONNECT));
    EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_QUERY_STATUS));
  }
}

TEST_F(ServiceManagerTest, StatusIsNotRunningWhenTheServiceCannotBeAsked) {
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    CallList calls;
  } cases[] = {
      {"manager not opened", [](FakeScm& s) { s.manager_opens = false; }, {"OpenSCManagerW"}},
      {"not installed",
       [](FakeScm& s) { s.open_error = ERROR_SERVICE_DOES_NOT_EXIST; },
       {"OpenSCManagerW", "OpenServiceW"}},
      {"query fails",
       [](FakeScm& s) {
         s.query_fails = true;
         s.states = {SERVICE_RUNNING};
       },
       {"OpenSCManagerW", "OpenServiceW", "QueryServiceStatusEx"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_FALSE(IsTunnelRunning(Calls()));
    EXPECT_EQ(scm_.calls, c.calls);
    EXPECT_TRUE(scm_.logs.empty());
  }
}

}  // namespace
