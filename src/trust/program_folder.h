// Whether the folder the tunnel service would run from is one only
// administrators can change: the service runs that executable as SYSTEM at
// every boot, and it loads tunnel.dll from beside it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/system_error.h"
#include "trust/trust_calls.h"

namespace tarnwick {

// The library the service host loads from the program folder.
inline constexpr wchar_t kTunnelLibraryName[] = L"tunnel.dll";

// The administrator's switch for development machines, whose build folder
// anyone may change: REG_DWORD 1 lets the service be installed from an
// unprotected program folder. Any other value or type leaves the check on,
// and only administrators can write the key.
inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Tarnwick";
inline constexpr wchar_t kAllowUnprotectedProgramFolderValue[] = L"AllowUnprotectedProgramFolder";

// True only when HKLM\SOFTWARE\Tarnwick holds AllowUnprotectedProgramFolder
// as REG_DWORD 1.
[[nodiscard]] bool UnprotectedProgramFolderAllowed(const TrustCalls& calls = {});

// Refuses the executable's program folder, naming the file or folder that
// someone other than SYSTEM, administrators or TrustedInstaller could
// change (owner or DACL), or that it could not vouch for (missing, a link,
// a second name); nothing when the executable, its folder and the tunnel
// library there are all protected.
[[nodiscard]] std::optional<Refusal> CheckProgramFolder(const std::wstring& exe_path,
                                                        const TrustCalls& calls = {});

}  // namespace tarnwick
