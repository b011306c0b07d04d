// The service operations through a scripted service control manager: every
// row of their failure tables and the arguments they pass. The handles the
// script hands out are real manager handles of the prefix, because the
// operations close them with the real CloseServiceHandle.
#include "service/service_manager.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/security_descriptor.h"
#include "platform/system_error.h"
#include "tests/support/paths.h"
#include "tests/support/program_data.h"

namespace {

using tarnwick::InstallAndStartTunnel;
using tarnwick::IsTunnelRunning;
using tarnwick::ServiceCalls;
using tarnwick::StopAndRemoveTunnel;
using tarnwick::SystemErrorText;
using tarnwick::e2e::TempDir;

constexpr wchar_t kExe[] = L"C:\\Program Files\\Tarnwick\\tarnwick.exe";

using CallList = std::vector<std::string>;
using Logs = std::vector<std::wstring>;

// The scripted manager; each case configures one and reads what it saw.
struct FakeScm {
  std::wstring module_path = kExe;
  std::optional<DWORD> module_result;  // when set, returned instead of the length

  bool manager_opens = true;
  DWORD create_error = 0;  // nonzero: CreateServiceW fails with it
  DWORD open_error = 0;    // nonzero: OpenServiceW fails with it
  bool sid_sets = true;
  bool failure_actions_set = true;
  DWORD start_error = 0;
  DWORD control_error = 0;
  // Query answers before and after a start that succeeded; the last repeats.
  std::vector<DWORD> states{SERVICE_STOPPED};
  std::vector<DWORD> started_states{SERVICE_RUNNING};
  DWORD wait_hint = 0;
  DWORD exit_code = 0, specific_exit_code = 0;  // as a stopped service reports them
  bool query_fails = false;
  DWORD delete_error = 0;
  DWORD lock_wait = WAIT_OBJECT_0;  // what waiting for the operation lock gives
  DWORD lock_error = 0;             // nonzero: CreateMutexW fails with it
  std::wstring lock_owner;          // set: the object at the name is this SID's
  // Private namespaces: none (the fallback), or one created or opened.
  bool namespaces = false;
  bool namespace_exists = false;
  bool boundary_takes_sid = true;

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
  std::vector<std::pair<int, DWORD>> failure_actions;  // type, delay
  DWORD failure_reset = 0;
  int namespace_closes = 0, boundary_deletes = 0;
  std::vector<std::wstring> events;  // "<type> <id> <text>" per event of the source
  bool started = false;
  bool deleted = false;
  DWORD start_argc = 99;
  DWORD control_code = 0;
  int queries = 0, started_queries = 0;
  std::vector<DWORD> sleeps;
  std::wstring lock_name;
  std::wstring lock_sddl;
  int lock_releases = 0;
  std::wstring rewritten_binary_path;   // by ChangeServiceConfigW
  std::vector<DWORD> rewritten_values;  // type, start, error control
  std::wstring rewritten_display_name;
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
  void SetUp() override {
    // A ProgramData of the test's own, with the staged file as the user
    // leaves it; the checks read it for real.
    config_ = tarnwick::e2e::ConfigFileBelow(program_data_.path());
    program_data_.MakeDir(tarnwick::kConfigFolderName);
    ASSERT_TRUE(tarnwick::e2e::WriteFileBytes(config_, "[Interface]\n"));
  }

  ServiceCalls Calls() {
    ServiceCalls c;
    c.SHGetKnownFolderPath = [this](REFKNOWNFOLDERID id, DWORD, HANDLE, PWSTR* path) {
      EXPECT_TRUE(IsEqualGUID(id, FOLDERID_ProgramData));
      return tarnwick::e2e::AnswerKnownFolder(program_data_.path(), path);
    };
    c.CreateMutexW = [this](LPSECURITY_ATTRIBUTES attributes, BOOL owned, LPCWSTR name) {
      scm_.calls.push_back("CreateMutexW");
      EXPECT_FALSE(owned);
      scm_.lock_name = name;
      LPWSTR sddl = nullptr;
      if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
              attributes->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
              nullptr)) {
        scm_.lock_sddl = sddl;
        ::LocalFree(sddl);
      }
      if (scm_.lock_error != 0) {
        scm_.last_error = scm_.lock_error;
        return static_cast<HANDLE>(nullptr);
      }
      // A real mutex with the owner the product asked for, or the one of
      // another account's object that already stood at the name.
      if (scm_.lock_owner.empty()) return ::CreateMutexW(attributes, FALSE, nullptr);
      const tarnwick::UniqueLocalMemory other = tarnwick::SecurityDescriptorFromSddl(
          (L"O:" + scm_.lock_owner + L"D:(A;;GA;;;WD)").c_str());
      SECURITY_ATTRIBUTES theirs = tarnwick::AttributesOf(other);
      return ::CreateMutexW(&theirs, FALSE, nullptr);
    };
    c.WaitForSingleObject = [this](HANDLE, DWORD timeout) {
      EXPECT_EQ(timeout, tarnwick::kServiceOperationWaitMs);
      return scm_.lock_wait;
    };
    c.ReleaseMutex = [this](HANDLE) {
      ++scm_.lock_releases;
      return TRUE;
    };
    c.ChangeServiceConfigW = [this](SC_HANDLE service, DWORD type, DWORD start, DWORD error_control,
                                    LPCWSTR binary, LPCWSTR group, LPDWORD tag,
                                    LPCWSTR dependencies, LPCWSTR account, LPCWSTR password,
                                    LPCWSTR display) {
      scm_.calls.push_back("ChangeServiceConfigW");
      EXPECT_EQ(service, scm_.service);
      EXPECT_TRUE(!group && !tag && !account && !password);
      std::vector<std::wstring> listed;
      for (const wchar_t* d = dependencies; d && *d; d += wcslen(d) + 1) listed.emplace_back(d);
      EXPECT_EQ(listed, (std::vector<std::wstring>{L"Nsi", L"TcpIp"}));
      scm_.rewritten_values = {type, start, error_control};
      scm_.rewritten_binary_path = binary;
      scm_.rewritten_display_name = display;
      return TRUE;
    };
    c.GetModuleFileNameW = [this](HMODULE module, LPWSTR buffer, DWORD size) {
      scm_.calls.push_back("GetModuleFileNameW");
      EXPECT_EQ(module, nullptr);
      EXPECT_EQ(size, 260u);
      const size_t n = std::min<size_t>(scm_.module_path.size(), size);
      std::copy_n(scm_.module_path.begin(), n, buffer);
      if (n < size) buffer[n] = L'\0';
      return scm_.module_result.value_or(static_cast<DWORD>(n));
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
      EXPECT_STREQ(name, tarnwick::kTunnelServiceName);
      EXPECT_STREQ(display, tarnwick::kTunnelServiceDisplayName);
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
      EXPECT_STREQ(name, tarnwick::kTunnelServiceName);
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
      if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* actions = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        scm_.failure_reset = actions->dwResetPeriod;
        for (DWORD i = 0; i < actions->cActions; ++i) {
          scm_.failure_actions.emplace_back(actions->lpsaActions[i].Type,
                                            actions->lpsaActions[i].Delay);
        }
        if (!scm_.failure_actions_set) scm_.last_error = ERROR_ACCESS_DENIED;
        return scm_.failure_actions_set ? TRUE : FALSE;
      }
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
      scm_.started = scm_.start_error == 0 || scm_.start_error == ERROR_SERVICE_ALREADY_RUNNING;
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
      EXPECT_EQ(size, sizeof(SERVICE_STATUS_PROCESS));
      EXPECT_NE(needed, nullptr);
      const std::vector<DWORD>& states = scm_.started ? scm_.started_states : scm_.states;
      int& count = scm_.started ? scm_.started_queries : scm_.queries;
      const size_t index = std::min<size_t>(count++, states.size() - 1);
      if (scm_.query_fails) {
        scm_.last_error = ERROR_INVALID_HANDLE;
        return FALSE;
      }
      SERVICE_STATUS_PROCESS status{};
      status.dwCurrentState = states[index];
      status.dwWaitHint = scm_.wait_hint;
      status.dwWin32ExitCode = scm_.exit_code;
      status.dwServiceSpecificExitCode = scm_.specific_exit_code;
      std::memcpy(buffer, &status, sizeof(status));
      return TRUE;
    };
    c.DeleteService = [this](SC_HANDLE service) {
      scm_.calls.push_back("DeleteService");
      EXPECT_EQ(service, scm_.service);
      scm_.last_error = scm_.delete_error;
      scm_.deleted = scm_.delete_error == 0 || scm_.delete_error == ERROR_SERVICE_MARKED_FOR_DELETE;
      return scm_.delete_error == 0 ? TRUE : FALSE;
    };
    c.RegisterEventSourceW = [](LPCWSTR server, LPCWSTR source) {
      EXPECT_EQ(server, nullptr);
      EXPECT_STREQ(source, tarnwick::kEventSourceName);
      return ::RegisterEventSourceW(nullptr, L"TarnwickTest");  // closed for real
    };
    c.ReportEventW = [this](HANDLE, WORD type, WORD, DWORD id, PSID, WORD count, DWORD,
                            LPCWSTR* text, LPVOID) {
      EXPECT_EQ(count, 1);
      scm_.events.push_back(std::to_wstring(type) + L" " + std::to_wstring(id) + L" " + text[0]);
      return TRUE;
    };
    // Private namespaces through handles that are only tokens here.
    c.CreateBoundaryDescriptorW = [this](LPCWSTR name, ULONG) {
      EXPECT_STREQ(name, L"Tarnwick");
      return scm_.namespaces ? reinterpret_cast<HANDLE>(0xB0) : nullptr;
    };
    c.AddSIDToBoundaryDescriptor = [this](HANDLE* boundary, PSID sid) {
      EXPECT_EQ(*boundary, reinterpret_cast<HANDLE>(0xB0));
      wchar_t* text = nullptr;
      EXPECT_TRUE(::ConvertSidToStringSidW(sid, &text));
      EXPECT_STREQ(text, L"S-1-5-32-544") << "bounded by the Administrators group";
      ::LocalFree(text);
      return scm_.boundary_takes_sid ? TRUE : FALSE;
    };
    c.CreatePrivateNamespaceW = [this](LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR name) -> HANDLE {
      EXPECT_STREQ(name, L"Tarnwick");
      if (!scm_.namespace_exists) return reinterpret_cast<HANDLE>(0xC0);
      scm_.last_error = ERROR_ALREADY_EXISTS;
      return nullptr;
    };
    c.OpenPrivateNamespaceW = [](LPVOID, LPCWSTR) { return reinterpret_cast<HANDLE>(0xC0); };
    c.ClosePrivateNamespace = [this](HANDLE handle, ULONG) -> BOOLEAN {
      EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0xC0));
      ++scm_.namespace_closes;
      return TRUE;
    };
    c.DeleteBoundaryDescriptor = [this](HANDLE) { ++scm_.boundary_deletes; };
    c.GetLastError = [this] { return scm_.last_error; };
    c.Sleep = [this](DWORD ms) {
      scm_.calls.push_back("Sleep");
      scm_.sleeps.push_back(ms);
    };
    c.OutputDebugStringW = [this](LPCWSTR line) { scm_.logs.push_back(line); };
    // The administrator's development switch is on, so the cases about the
    // service manager get past the program folder check (its own tests
    // judge the folder).
    c.RegGetValueW = [](HKEY, LPCWSTR, LPCWSTR, DWORD, LPDWORD type, PVOID data,
                        LPDWORD size) -> LSTATUS {
      *type = REG_DWORD;
      *static_cast<DWORD*>(data) = 1;
      *size = sizeof(DWORD);
      return ERROR_SUCCESS;
    };
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
  TempDir program_data_;
  std::wstring config_;
};

// The diagnostic lines as they reach the debugger output.
Logs Lines(std::initializer_list<std::wstring> messages) {
  Logs lines;
  for (const std::wstring& message : messages) lines.push_back(L"[Tarnwick] " + message + L"\n");
  return lines;
}

// The line of a failed call: its code and the system's text.
std::wstring Failed(const wchar_t* operation_and_call, DWORD code) {
  return std::wstring(operation_and_call) + L" failed: " + SystemErrorText(code);
}

TEST_F(ServiceManagerTest, InstallCreatesTheServiceWithItsIdentityAndStartsIt) {
  EXPECT_TRUE(InstallAndStartTunnel(config_, Calls()));
  EXPECT_TRUE(scm_.started);
  EXPECT_EQ(scm_.lock_name, tarnwick::kOperationMutexFallbackName);
  EXPECT_EQ(scm_.lock_sddl, L"D:P(A;;GA;;;SY)(A;;GA;;;BA)") << "only SYSTEM and administrators";
  EXPECT_EQ(scm_.lock_releases, 1);
  EXPECT_TRUE(scm_.logs.empty());
  EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ(scm_.create_values, (std::vector<DWORD>{SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                    SERVICE_AUTO_START, SERVICE_ERROR_NORMAL}));
  EXPECT_TRUE(scm_.create_nulls);
  EXPECT_EQ(scm_.dependencies, (std::vector<std::wstring>{L"Nsi", L"TcpIp"}));
  EXPECT_EQ(scm_.binary_path,
            L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\" /service \"" + config_ + L"\"");
  EXPECT_EQ(scm_.sid_level, static_cast<DWORD>(SERVICE_CONFIG_SERVICE_SID_INFO));
  EXPECT_EQ(scm_.sid_type, static_cast<DWORD>(SERVICE_SID_TYPE_UNRESTRICTED));
  // A crash restarts it after 3 s, twice; a day without one resets the count.
  EXPECT_EQ(scm_.failure_actions,
            (std::vector<std::pair<int, DWORD>>{
                {SC_ACTION_RESTART, 3000}, {SC_ACTION_RESTART, 3000}, {SC_ACTION_NONE, 0}}));
  EXPECT_EQ(scm_.failure_reset, 86400u);
  EXPECT_EQ(scm_.start_argc, 0u);
  EXPECT_FALSE(scm_.deleted);
}

TEST_F(ServiceManagerTest, InstallTakesOnlyTheProgramDataConfigurationFile) {
  const struct {
    std::wstring config;
    const wchar_t* line;  // null: accepted
  } cases[] = {
      {L"", L"configuration is not the ProgramData configuration file"},
      {L"D:\\a b\\..\\x.conf", L"configuration is not the ProgramData configuration file"},
      {config_ + L"\\", L"configuration path holds a quote or ends in a backslash"},
      {config_ + L"\" /service \"C:\\x",
       L"configuration path holds a quote or ends in a backslash"},
      {tarnwick::e2e::JoinPath(tarnwick::e2e::ConfigFolderBelow(program_data_.path()),
                               L"other.conf"),
       L"configuration is not the ProgramData configuration file"},
      // The file system ignores case, and so does the comparison; the
      // service is given the name as the system spells it.
      {program_data_.path() + L"\\TARNWICK\\TARNWICK.CONF", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.config.begin(), c.config.end()));
    scm_ = FakeScm{};
    EXPECT_EQ(InstallAndStartTunnel(c.config, Calls()), c.line == nullptr);
    if (c.line != nullptr) {
      EXPECT_EQ(scm_.calls, CallList{"GetModuleFileNameW"}) << "no lock, no service manager";
      EXPECT_EQ(scm_.logs, Lines({std::wstring(L"InstallAndStartTunnel: ") + c.line}));
    } else {
      EXPECT_EQ(scm_.binary_path, L"\"" + std::wstring(kExe) + L"\" /service \"" + config_ + L"\"");
    }
  }
}

TEST_F(ServiceManagerTest, InstallRefusesAnExecutablePathItCannotTrust) {
  // 0 is a failed call, told by its error; 260 fills the buffer, so the
  // path may be cut.
  const struct {
    DWORD result;
    DWORD error;
  } rows[] = {{0, ERROR_ACCESS_DENIED}, {260, ERROR_INSUFFICIENT_BUFFER}};
  for (const auto& row : rows) {
    scm_ = FakeScm{};
    scm_.module_path = std::wstring(300, L'x');
    scm_.module_result = row.result;
    scm_.last_error = row.result == 0 ? row.error : 0;
    EXPECT_FALSE(InstallAndStartTunnel(L"C:\\c.conf", Calls())) << row.result;
    EXPECT_EQ(scm_.calls, CallList{"GetModuleFileNameW"}) << "no service manager call";
    EXPECT_EQ(scm_.logs, Lines({L"InstallAndStartTunnel: could not resolve exe path: " +
                                SystemErrorText(row.error)}));
  }
  // One character less fits and is used whole.
  scm_ = FakeScm{};
  scm_.module_path = L"C:\\" + std::wstring(252, L'p') + L".exe";
  ASSERT_EQ(scm_.module_path.size(), 259u);
  EXPECT_TRUE(InstallAndStartTunnel(config_, Calls()));
  EXPECT_EQ(scm_.binary_path, L"\"" + scm_.module_path + L"\" /service \"" + config_ + L"\"");
}

TEST_F(ServiceManagerTest, InstallFailureRows) {
  const CallList full = {"GetModuleFileNameW", "CreateMutexW",          "OpenSCManagerW",
                         "CreateServiceW",     "ChangeServiceConfig2W", "ChangeServiceConfig2W",
                         "StartServiceW"};
  const CallList rewritten = {"GetModuleFileNameW",    "CreateMutexW",
                              "OpenSCManagerW",        "CreateServiceW",
                              "OpenServiceW",          "ChangeServiceConfigW",
                              "ChangeServiceConfig2W", "ChangeServiceConfig2W",
                              "ControlService",        "StartServiceW"};
  // A start that fails leaves no service: stopped and deleted.
  CallList removed = full;
  removed.insert(removed.end(), {"ControlService", "DeleteService"});
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
       {"GetModuleFileNameW", "CreateMutexW", "OpenSCManagerW"},
       Lines({Failed(L"InstallAndStartTunnel: OpenSCManagerW", ERROR_ACCESS_DENIED)})},
      {"another operation holds the lock",
       [](FakeScm& s) { s.lock_wait = WAIT_TIMEOUT; },
       false,
       {"GetModuleFileNameW", "CreateMutexW"},
       Lines({L"InstallAndStartTunnel: another service operation did not end in time"})},
      {"lock left by a copy that died",
       [](FakeScm& s) { s.lock_wait = WAIT_ABANDONED; },
       true,
       full,
       {}},
      {"exists, stopped: rewritten and started",
       [](FakeScm& s) { s.create_error = ERROR_SERVICE_EXISTS; },
       true,
       rewritten,
       {}},
      {"exists, running: rewritten, stopped and started again",
       [](FakeScm& s) {
         s.create_error = ERROR_SERVICE_EXISTS;
         s.states = {SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
       },
       true,
       rewritten,
       {}},
      {"exists, never stops: not started on the old configuration",
       [](FakeScm& s) {
         s.create_error = ERROR_SERVICE_EXISTS;
         s.states = {SERVICE_RUNNING};
       },
       false,
       {"GetModuleFileNameW", "CreateMutexW", "OpenSCManagerW", "CreateServiceW", "OpenServiceW",
        "ChangeServiceConfigW", "ChangeServiceConfig2W", "ChangeServiceConfig2W", "ControlService"},
       Lines({L"InstallAndStartTunnel: service did not stop"})},
      {"marked for deletion: no open tried",
       [](FakeScm& s) { s.create_error = ERROR_SERVICE_MARKED_FOR_DELETE; },
       false,
       {"GetModuleFileNameW", "CreateMutexW", "OpenSCManagerW", "CreateServiceW"},
       Lines({Failed(L"InstallAndStartTunnel: CreateServiceW/OpenServiceW",
                     ERROR_SERVICE_MARKED_FOR_DELETE)})},
      {"exists but cannot be opened",
       [](FakeScm& s) {
         s.create_error = ERROR_SERVICE_EXISTS;
         s.open_error = ERROR_ACCESS_DENIED;
       },
       false,
       {"GetModuleFileNameW", "CreateMutexW", "OpenSCManagerW", "CreateServiceW", "OpenServiceW"},
       Lines({Failed(L"InstallAndStartTunnel: CreateServiceW/OpenServiceW", ERROR_ACCESS_DENIED)})},
      {"SID type not set, start succeeds", [](FakeScm& s) { s.sid_sets = false; }, true, full,
       Lines({Failed(L"InstallAndStartTunnel: ChangeServiceConfig2W(SID)",
                     ERROR_INVALID_PARAMETER)})},
      {"restart after a crash not set, start succeeds",
       [](FakeScm& s) { s.failure_actions_set = false; }, true, full,
       Lines({Failed(L"InstallAndStartTunnel: ChangeServiceConfig2W(failure actions)",
                     ERROR_ACCESS_DENIED)})},
      {"SID type not set and start fails",
       [](FakeScm& s) {
         s.sid_sets = false;
         s.start_error = ERROR_SERVICE_DISABLED;
       },
       false, removed,
       Lines({Failed(L"InstallAndStartTunnel: ChangeServiceConfig2W(SID)", ERROR_INVALID_PARAMETER),
              Failed(L"InstallAndStartTunnel: StartServiceW", ERROR_SERVICE_DISABLED)})},
      {"already running",
       [](FakeScm& s) { s.start_error = ERROR_SERVICE_ALREADY_RUNNING; },
       true,
       full,
       {}},
      {"start fails", [](FakeScm& s) { s.start_error = ERROR_SERVICE_DEPENDENCY_FAIL; }, false,
       removed,
       Lines({Failed(L"InstallAndStartTunnel: StartServiceW", ERROR_SERVICE_DEPENDENCY_FAIL)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scm_ = FakeScm{};
    c.setup(scm_);
    EXPECT_EQ(InstallAndStartTunnel(config_, Calls()), c.result);
    EXPECT_EQ(CallsWithoutPolling(), c.calls);
    EXPECT_EQ(scm_.logs, c.logs);
    EXPECT_EQ(scm_.lock_releases, scm_.lock_wait == WAIT_TIMEOUT ? 0 : 1);
    if (!scm_.rewritten_binary_path.empty()) {
      EXPECT_EQ(scm_.rewritten_binary_path, scm_.binary_path) << "the new command line";
      EXPECT_EQ(scm_.rewritten_values, (std::vector<DWORD>{0x10, 2, 1}));
      EXPECT_EQ(scm_.rewritten_display_name, tarnwick::kTunnelServiceDisplayName);
    }
    if (scm_.open_access != 0) {
      EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
    }
  }
}

TEST_F(ServiceManagerTest, RemoveStopsWaitsForStoppedAndDeletes) {
  scm_.states = {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
  EXPECT_TRUE(StopAndRemoveTunnel(Calls()));
  EXPECT_EQ(CallsWithoutPolling(), (CallList{"CreateMutexW", "OpenSCManagerW", "OpenServiceW",
                                             "ControlService", "DeleteService"}));
  EXPECT_EQ(scm_.lock_releases, 1);
  EXPECT_EQ(scm_.manager_access, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ(scm_.open_access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
  EXPECT_EQ(scm_.control_code, static_cast<DWORD>(SERVICE_CONTROL_STOP));
  EXPECT_EQ(scm_.queries, 3);
  EXPECT_EQ(scm_.sleeps, (std::vector<DWORD>{200, 200}));
  EXPECT_TRUE(scm_.logs.empty());
}

TEST_F(ServiceManagerTest, RemoveOfAServiceThatNeverStopsRequestsDeletionAndSaysSo) {
  for (const DWORD delete_error : {DWORD{0}, DWORD{ERROR_SERVICE_MARKED_FOR_DELETE}}) {
    scm_ = FakeScm{};
    scm_.states = {SERVICE_STOP_PENDING};
    scm_.delete_error = delete_error;
    EXPECT_FALSE(StopAndRemoveTunnel(Calls())) << "the tunnel may still run";
    EXPECT_EQ(scm_.queries, 50);
    EXPECT_EQ(scm_.sleeps, std::vector<DWORD>(50, 200));
    // Ends on a pause: no query after the fiftieth.
    ASSERT_GE(scm_.calls.size(), 2u);
    EXPECT_EQ(scm_.calls[scm_.calls.size() - 2], "Sleep");
    EXPECT_EQ(CallsWithoutPolling(), (CallList{"CreateMutexW", "OpenSCManagerW", "OpenServiceW",
                                               "ControlService", "DeleteService"}));
    EXPECT_EQ(scm_.logs, Lines({L"StopAndRemoveTunnel: service did not stop"}));
  }
}

TEST_F(ServiceManagerTest, RemoveFailureRows) {
  const CallList full = {"CreateMutexW", "OpenSCManagerW", "OpenServiceW", "ControlService",
                         "DeleteService"};
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
       {"CreateMutexW", "OpenSCManagerW"},
       Lines({Failed(L"StopAndRemoveTunnel: OpenSCManagerW", ERROR_ACCESS_DENIED)}),
       0},
      {"another operation holds the lock",
       [](FakeScm& s) { s.lock_wait = WAIT_TIMEOUT; },
       false,
       {"CreateMutexW"},
       Lines({L"StopAndRemoveTunnel: another service operation did not end in time"}),
       0},
      {"not installed",
       [](FakeScm& s) { s.open_error = ERROR_SERVICE_DOES_NOT_EXIST; },
       true,
       {"CreateMutexW", "OpenSCManagerW", "OpenServiceW"},
       {},
       0},
      {"not openable",
       [](FakeScm& s) { s.open_error = ERROR_ACCESS_DENIED; },
       false,
       {"CreateMutexW", "OpenSCManagerW", "OpenServiceW"},
       Lines({Failed(L"StopAndRemoveTunnel: OpenServiceW", ERROR_ACCESS_DENIED)}),
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
       Lines({Failed(L"StopAndRemoveTunnel: DeleteService", ERROR_ACCESS_DENIED)}), 1},
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

// Connected means running: the start is confirmed, and a service that does
// not end up running is stopped and deleted, so nothing starts at the next
// boot.
TEST_F(ServiceManagerTest, InstallConfirmsTheStartAndLeavesNoServiceThatDoesNotRun) {
  const std::wstring still_starting =
      L"InstallAndStartTunnel: service still starting after 6000 ms";
  const std::wstring not_stopped =
      L"InstallAndStartTunnel: service did not stop after the failed start; it is deleted once it "
      L"stops";
  const struct {
    const char* name;
    std::vector<DWORD> started_states;
    DWORD wait_hint;
    bool result;
    Logs logs;
    std::vector<DWORD> sleeps;  // the confirmation's pauses, then the cleanup's
    DWORD delete_error = 0;
  } rows[] = {
      // The first look after the shortest pause, then pauses that double
      // up to a tenth of the wait hint (within 20 and 250 ms).
      {"runs at once", {SERVICE_RUNNING}, 0, true, {}, {20}},
      {"runs within its wait hint",
       {SERVICE_START_PENDING, SERVICE_START_PENDING, SERVICE_RUNNING},
       1000,
       true,
       {},
       {20, 40, 80}},
      {"no wait hint: polled at the shortest pause",
       {SERVICE_START_PENDING, SERVICE_RUNNING},
       0,
       true,
       {},
       {20, 20}},
      {"stops with the tunnel library's error",
       {SERVICE_START_PENDING, SERVICE_STOPPED},
       60000,
       false,
       Lines({L"InstallAndStartTunnel: service stopped while starting: exit code 1066, "
              L"service-specific 2"}),
       {20, 40}},
      {"stops, and is already marked for deletion",
       {SERVICE_START_PENDING, SERVICE_STOPPED},
       0,
       false,
       Lines({L"InstallAndStartTunnel: service stopped while starting: exit code 1066, "
              L"service-specific 2"}),
       {20, 20},
       ERROR_SERVICE_MARKED_FOR_DELETE},
      {"still starting when the wait ends, and it will not stop",
       {SERVICE_START_PENDING},
       2500,
       false,
       Lines({still_starting, not_stopped}),
       [] {
         // 6000 ms of confirmation, then 3000 ms of cleanup.
         std::vector<DWORD> sleeps = {20, 40, 80, 160};
         sleeps.insert(sleeps.end(), 22, 250);
         sleeps.push_back(200);
         sleeps.insert(sleeps.end(), 15, 200);
         return sleeps;
       }()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    scm_ = FakeScm{};
    scm_.started_states = row.started_states;
    scm_.wait_hint = row.wait_hint;
    scm_.delete_error = row.delete_error;
    scm_.exit_code = ERROR_SERVICE_SPECIFIC_ERROR;
    scm_.specific_exit_code = 2;
    EXPECT_EQ(InstallAndStartTunnel(config_, Calls()), row.result);
    EXPECT_EQ(scm_.logs, row.logs);
    EXPECT_EQ(scm_.sleeps, row.sleeps);
    EXPECT_EQ(scm_.deleted, !row.result) << "a failed connect leaves no service";
  }
}

// The lock is made where no other account can make or hold it first: a
// private namespace bounded by the Administrators group, where the system
// offers one; the global name where it does not. A lock object of another
// account's, openable or not, neither stops nor holds up the user's change.
TEST_F(ServiceManagerTest, OperationLockLivesWhereOnlyAdministratorsCanMakeIt) {
  const struct {
    const char* name;
    std::function<void(FakeScm&)> setup;
    std::wstring lock_name;
    int namespace_closes;
    Logs logs;
  } rows[] = {
      {"no private namespaces", [](FakeScm&) {}, L"Global\\TarnwickServiceOperation", 0, {}},
      {"namespace made here",
       [](FakeScm& s) { s.namespaces = true; },
       L"Tarnwick\\ServiceOperation",
       1,
       {}},
      {"namespace made by another copy",
       [](FakeScm& s) {
         s.namespaces = true;
         s.namespace_exists = true;
       },
       L"Tarnwick\\ServiceOperation",
       1,
       {}},
      {"boundary refused: the global name",
       [](FakeScm& s) {
         s.namespaces = true;
         s.boundary_takes_sid = false;
       },
       L"Global\\TarnwickServiceOperation",
       0,
       {}},
      {"another account's object at the name",
       [](FakeScm& s) { s.lock_error = ERROR_ACCESS_DENIED; }, L"Global\\TarnwickServiceOperation",
       0,
       Lines({L"StopAndRemoveTunnel: going on without the operation lock "
              L"Global\\TarnwickServiceOperation: " +
              Failed(L"CreateMutexW", ERROR_ACCESS_DENIED)})},
      // Held by its maker: waiting on it would time out.
      {"another account's object that we may open",
       [](FakeScm& s) {
         s.lock_owner = L"S-1-5-21-1-2-3-1001";
         s.lock_wait = WAIT_TIMEOUT;
       },
       L"Global\\TarnwickServiceOperation", 0,
       Lines({L"StopAndRemoveTunnel: going on without the operation lock "
              L"Global\\TarnwickServiceOperation: it was made by an account other than SYSTEM "
              L"or Administrators"})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    scm_ = FakeScm{};
    row.setup(scm_);
    EXPECT_TRUE(StopAndRemoveTunnel(Calls()));
    EXPECT_EQ(scm_.lock_name, row.lock_name);
    EXPECT_EQ(scm_.lock_sddl, L"D:P(A;;GA;;;SY)(A;;GA;;;BA)") << "only SYSTEM and administrators";
    EXPECT_EQ(scm_.logs, row.logs);
    EXPECT_EQ(scm_.namespace_closes, row.namespace_closes);
    EXPECT_EQ(scm_.boundary_deletes, scm_.namespaces ? 1 : 0);
  }
}

// An administrator finds the privileged copies' lines in Event Viewer: the
// same text, as an error of the source "Tarnwick", message 1.
TEST_F(ServiceManagerTest, LinesAlsoGoToTheApplicationEventLog) {
  scm_.manager_opens = false;
  EXPECT_FALSE(InstallAndStartTunnel(config_, Calls()));
  const std::wstring line = Failed(L"InstallAndStartTunnel: OpenSCManagerW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(scm_.logs, Lines({line}));
  EXPECT_EQ(scm_.events, std::vector<std::wstring>{L"1 1 " + line});
}

}  // namespace
