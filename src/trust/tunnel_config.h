// Where the tunnel's configuration lives and whether a privileged copy may
// read it. The one place is "<ProgramData known folder>\<kConfigFolderName>\<kConfigFileName>":
// the known folder is the system's answer, so no user's environment can move
// it (an environment variable is the user's to set).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/system_error.h"
#include "platform/tunnel_identity.h"
#include "trust/trust_calls.h"

namespace tarnwick {

struct ConfigLocation {
  std::wstring program_data;  // the known folder itself
  std::wstring folder;        // "<ProgramData>\Tarnwick"
  std::wstring file;          // the folder, then the file name
  HRESULT error = S_OK;       // why both are empty

  explicit operator bool() const { return !file.empty(); }
};

// The configuration's folder and file below the ProgramData known folder;
// empty, with the system's error, when the system does not name it.
[[nodiscard]] ConfigLocation TunnelConfigLocation(const TrustCalls& calls = {});

// Refuses a configuration path handed to a privileged copy unless it is the
// location's file (letter case aside), a file with one name in a real
// folder, neither a link, and neither changeable by anyone but SYSTEM,
// administrators and the file's owner.
[[nodiscard]] std::optional<Refusal> CheckTunnelConfigPath(const std::wstring& config_path,
                                                           const ConfigLocation& location,
                                                           const TrustCalls& calls = {});

}  // namespace tarnwick
