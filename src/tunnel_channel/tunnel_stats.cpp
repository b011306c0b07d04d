#include "tunnel_channel/tunnel_stats.h"

#include <limits>

namespace tarnwick {
namespace {

// The system counts unsigned 64-bit octets; the channel carries signed
// ones, where -1 means unknown. A count past the signed range (centuries
// of traffic) stays the largest count rather than turning negative.
int64_t ToChannelCount(ULONG64 octets) {
  constexpr auto kMax = static_cast<ULONG64>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(octets > kMax ? kMax : octets);
}

}  // namespace

TunnelStats ReadTunnelStats(const TunnelChannelCalls& calls) {
  const std::wstring alias = TunnelAdapterAlias();
  NET_LUID luid{};
  // Fails while the tunnel is down: no adapter carries the alias then.
  if (calls.ConvertInterfaceAliasToLuid(alias.c_str(), &luid) != NO_ERROR) return {};

  MIB_IF_ROW2 row{};
  row.InterfaceLuid = luid;  // the LUID, not the zero index, picks the row
  if (calls.GetIfEntry2(&row) != NO_ERROR) return {};
  // An adapter that is down carries no tunnel: its last counts (or the
  // zeros of one the system still remembers after it went) are no traffic
  // of a running tunnel.
  if (row.OperStatus != IfOperStatusUp) return {};
  return {ToChannelCount(row.InOctets), ToChannelCount(row.OutOctets)};
}

}  // namespace tarnwick
