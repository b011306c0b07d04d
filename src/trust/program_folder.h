// Whether the folder the tunnel service would run from is one only
// administrators can change: the service runs that executable as SYSTEM at
// every boot, and it loads tunnel.dll from beside it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/system_error.h"
#include "platform/tunnel_identity.h"
#include "trust/trust_calls.h"

namespace tarnwick {

// The library the service host loads from the program folder.
inline constexpr wchar_t kTunnelLibraryName[] = L"tunnel.dll";

// The administrator's switch for development machines, whose build folder
// anyone may change: REG_DWORD 1 lets the service be installed from an
// unprotected program folder. Any other value or type leaves the check on,
// and only administrators can write the key.

// True only when HKLM\SOFTWARE\Tarnwick holds AllowUnprotectedProgramFolder
// as REG_DWORD 1.
[[nodiscard]] bool UnprotectedProgramFolderAllowed(const TrustCalls& calls = {});

// Refuses the executable's program folder unless it is on a local fixed
// drive (never a network path) and, from the drive's root down, no folder
// above it can be deleted, renamed or re-permissioned by anyone but SYSTEM,
// administrators or TrustedInstaller, and neither the folder, the
// executable nor the tunnel library there can be changed by anyone else
// (owner or DACL). Each must be what it claims (present, no link, one name
// for a file). The refusal names the first object it could not vouch for.
[[nodiscard]] std::optional<Refusal> CheckProgramFolder(const std::wstring& exe_path,
                                                        const TrustCalls& calls = {});

}  // namespace tarnwick
