// The uninstall's removal of the tunnel's data folder,
// "<ProgramData known folder>\Tarnwick", which holds the configuration and
// with it the private key. The folder belongs to the user who connected
// (any local user may create it first), who may fill it with links and swap
// its entries while it is being removed; the removal runs as SYSTEM. So it
// works by handle only: every entry is opened by its ID through the handle
// of the folder it was listed in, never through a link, and deleted through
// that handle.
#pragma once

#include <windows.h>

#include "service/service_calls.h"

namespace tarnwick {

// Written into HKLM\SOFTWARE\Tarnwick (kPolicyKey) by an upgrading package
// before it removes the older version, and deleted once the new files are
// in place: while it is there, the older version's removal keeps the data
// folder for the new one. Only administrators can write the key.
inline constexpr wchar_t kUpgradeInProgressValue[] = L"UpgradeInProgress";

// Deletes the data folder and everything in it, the configuration file
// first; a link is removed itself, never what it points to. What cannot be
// deleted now (a file held open) is scheduled for deletion at restart and
// named in a line; a link the system will not open as itself is left in
// place and named. Refuses (one line, false) unless this copy is elevated.
// Keeps the folder while an upgrade's marker is there. True when the folder
// is gone or was never there, or all that stays is scheduled or such links.
[[nodiscard]] bool RemoveTunnelData(const ServiceCalls& calls = {});

}  // namespace tarnwick
