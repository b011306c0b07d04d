// The tunnel configuration in its fixed place (trust/tunnel_config.h),
// written by the unelevated interactive process and read by path by the
// elevated helper and the service.
//
// These two keep the channel's original staging interface: the path, or an
// empty path for a failure, and no message. They are the only functions of
// ours that answer failure as an empty string; the project's own answer a
// named result.
#pragma once

#include <string>

#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

// The configuration holds the tunnel's private key, and ProgramData lets
// every local user read what an unprivileged process creates there. So the
// file admits only the service (SYSTEM), administrators (the elevated
// helper) and its owner, and a folder made here passes the same on.
inline constexpr wchar_t kConfigFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";
inline constexpr wchar_t kConfigFolderSddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)";

// The configuration folder below ProgramData, created if missing; empty on
// failure,
// and when what stands there is a link, not a folder, or a folder owned by
// anyone but this user, SYSTEM or administrators.
[[nodiscard]] std::wstring GetProgramDataDirectory(const TunnelChannelCalls& calls = {});

// Writes the UTF-8 text, byte for byte, to the configuration file in that
// folder and returns the file's full path; empty on failure, with any
// previous configuration file left as it was.
[[nodiscard]] std::wstring WriteTunnelConfig(const std::string& config,
                                             const TunnelChannelCalls& calls = {});

}  // namespace tarnwick
