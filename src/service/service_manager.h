// The tunnel service (kTunnelServiceName) and the three operations on
// it through the service control manager. Each operation opens its own
// handles and closes them (service handle first) before it returns.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/tunnel_identity.h"
#include "service/operation_lock.h"
#include "service/service_calls.h"

namespace tarnwick {

// A double-NUL-terminated list: the literal's own terminator is the second NUL.
inline constexpr wchar_t kTunnelServiceDependencies[] = L"Nsi\0TcpIp\0";

// A stop is polled for this often; a removal waits at most this long.
constexpr DWORD kStopPollIntervalMs = 200;
constexpr DWORD kStopWaitLimitMs = 10000;

// An install's waits. The interactive copy waits a bounded time for the
// elevated one, so each is bounded and their sum (with the lock's) is the
// most an install can take: a restart's stop, the start's confirmation
// (polled after pauses that grow from the first bound to a tenth of the
// service's wait hint, within the second), and the stop that removes a
// service that did not start.
constexpr DWORD kRestartStopWaitMs = 4000;
constexpr DWORD kStartConfirmWaitMs = 6000;
constexpr DWORD kStartPollMinMs = 20;
constexpr DWORD kStartPollMaxMs = 250;
constexpr DWORD kCleanupStopWaitMs = 3000;
constexpr DWORD kInstallWaitBudgetMs =
    kServiceOperationWaitMs + kRestartStopWaitMs + kStartConfirmWaitMs + kCleanupStopWaitMs;
constexpr DWORD kRemoveWaitBudgetMs = kServiceOperationWaitMs + kStopWaitLimitMs;

// A crashed tunnel is restarted after this long, twice at most until a day
// has passed without a crash.
constexpr DWORD kRestartDelayMs = 3000;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;

// The service's command line: "<exe>" /service "<config path>"; nothing
// when either path cannot be passed as one argument.
[[nodiscard]] std::optional<std::wstring> TunnelServiceCommandLine(const std::wstring& exe_path,
                                                                   const std::wstring& config_path);

// Creates the service, or rewrites the stored configuration of the existing
// one (restarting it when it runs), sets its SID type and its restart after
// a crash, starts it and waits for it to run; only for the configuration
// file a privileged copy can vouch for (CheckTunnelConfigPath), and only
// from a protected program folder (CheckProgramFolder) unless the
// administrator's development switch is on. True only when it runs
// afterwards with this configuration. A service it created or started that
// does not end up running is stopped and deleted, so nothing starts at the
// next boot.
[[nodiscard]] bool InstallAndStartTunnel(const std::wstring& config_path,
                                         const ServiceCalls& calls = {});
// Stops the service, waits up to 10 s for it to stop, and deletes it. True
// when it stopped and is deleted (or already marked for deletion), or was
// not installed; false when it did not stop in time, though the manager
// then removes it once it stops.
[[nodiscard]] bool StopAndRemoveTunnel(const ServiceCalls& calls = {});
// True only when the service is in the running state. Never logs.
[[nodiscard]] bool IsTunnelRunning(const ServiceCalls& calls = {});

}  // namespace tarnwick
