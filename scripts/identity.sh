#!/usr/bin/env bash
# The tunnel's names for shell scripts, read from the one header that holds
# them (src/platform/tunnel_identity.h). Source this file, then:
#   tarnwick_identity TunnelServiceName   ->  WireGuardTunnel$Tarnwick
tarnwick_identity_header="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src/platform/tunnel_identity.h"

tarnwick_identity() {
  local value
  value=$(sed -n "s/^inline constexpr wchar_t k$1\[\] = L\"\(.*\)\";\$/\1/p" "$tarnwick_identity_header")
  [ -n "$value" ] || { echo "identity: no k$1 in $tarnwick_identity_header" >&2; return 1; }
  # The C++ escape of a backslash.
  printf '%s\n' "${value//\\\\/\\}"
}
