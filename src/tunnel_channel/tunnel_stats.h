// The tunnel's traffic counters, as getStats reports them. The tunnel runs
// on a network adapter named after it (TunnelAdapterAlias); the counters are that adapter's
// octets since it came up, as the system counts them (the tunnel's own
// encapsulation overhead included). Both read -1 when the adapter does not
// exist, is not up, or the system cannot say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/tunnel_identity.h"
#include "tunnel_channel/tunnel_channel_calls.h"

namespace tarnwick {

struct TunnelStats {
  int64_t rx_bytes = -1;  // received octets; -1: unknown
  int64_t tx_bytes = -1;  // sent octets; -1: unknown

  friend bool operator==(const TunnelStats& a, const TunnelStats& b) {
    return a.rx_bytes == b.rx_bytes && a.tx_bytes == b.tx_bytes;
  }
};

// The tunnel adapter's counters; -1 for both when no adapter has the
// tunnel's alias, it is not up, or either call fails. Two lookups, no waiting: fit for
// the UI thread.
[[nodiscard]] TunnelStats ReadTunnelStats(const TunnelChannelCalls& calls = {});

}  // namespace tarnwick
