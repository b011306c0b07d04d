// The uninstall's removal of the tunnel's data folder,
// "<ProgramData known folder>\Tarnwick", which holds the configuration and
// with it the private key. The folder belongs to the user who connected
// (any local user may create it first), who may fill it with links and
// second names and swap its entries while it is being removed; the removal
// runs as SYSTEM. So it works by handle only: every entry is opened by name
// through the handle of the folder it is listed in, never through a link,
// and deleted through its own handle; no path below ProgramData is handed
// to anything that resolves it later.
#pragma once

#include <windows.h>

#include "platform/tunnel_identity.h"
#include "uninstall/uninstall_calls.h"

namespace tarnwick {

// kUpgradeInProgressValue is written into the policy key by an upgrading
// package just before it removes the older version, and deleted just after:
// while it is there, the older version's removal keeps the data folder for
// the new one.
// A marker older than this was left by an upgrade that failed half-way:
// the removal it was meant for ran right after it was written.
constexpr ULONGLONG kUpgradeMarkerLifetimeMinutes = 10;

// Folders deeper than this below the data folder are left in place, named.
constexpr size_t kMaxRemovalDepth = 64;

// Deletes the data folder and everything in it, the configuration file
// first; a link is removed itself, never what it points to, and a second
// name of a file only as that name. What cannot be deleted now is moved into
// a quarantine folder that is deleted at restart (Quarantine), or, when it
// cannot even be moved (held open by another program), left in place and
// named in a warning line, as are links the system will not open as
// themselves and folders too deep. Refuses (one line, false) unless this
// copy is elevated. Keeps the folder while a recent upgrade marker is there,
// and removes a stale one. False only when it could not start: not
// elevated, or the folder cannot be reached at all.
[[nodiscard]] bool RemoveTunnelData(const UninstallCalls& calls = {});

}  // namespace tarnwick
