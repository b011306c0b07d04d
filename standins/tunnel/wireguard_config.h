// Checks that a text is a WireGuard configuration the tunnel could run: one
// [Interface] with a PrivateKey and at least one Address, and one or more
// [Peer] sections each with a PublicKey and AllowedIPs. Problems name the
// line and the setting, never its value, so a report cannot leak a key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

struct WireGuardConfigCheck {
  bool valid = false;
  std::string problem;  // empty when valid
  int peer_count = 0;
};

// Base64 of exactly 32 bytes in canonical form (44 characters, one '=').
[[nodiscard]] bool IsWireGuardKey(std::string_view text);

[[nodiscard]] WireGuardConfigCheck CheckWireGuardConfig(std::string_view text);

}  // namespace tarnwick
