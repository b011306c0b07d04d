#include "tunnel_channel/tunnel_method_handler.h"

#include <cstdint>
#include <string>

#include "embedding/encodable_value.h"
#include "platform/command_line.h"
#include "tunnel_channel/config_staging.h"
#include "tunnel_channel/elevation.h"
#include "tunnel_channel/tunnel_stats.h"

namespace tarnwick {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodResult;

void StartTunnel(const EncodableValue* arguments, MethodResult& result,
                 const TunnelChannelCalls& calls) {
  const auto* map = arguments ? std::get_if<EncodableValueMap>(arguments) : nullptr;
  if (map == nullptr) {
    result.Error("INVALID_ARGS", "Config is required");
    return;
  }
  // Found by the map's own ordering: only a string key spelled exactly
  // "config" matches.
  const auto entry = map->find(EncodableValue("config"));
  if (entry == map->end()) {
    result.Error("INVALID_ARGS", "Config is required");
    return;
  }
  const auto* config = std::get_if<std::string>(&entry->second);
  if (config == nullptr) {
    result.Error("INVALID_ARGS", "Config must be a string");
    return;
  }

  const std::wstring path = WriteTunnelConfig(*config, calls);
  if (path.empty()) {
    // No elevation prompt for a configuration the service could not read.
    result.Error("CONFIG_WRITE", "Failed to write config file");
    return;
  }

  switch (RunSelfElevated(std::wstring(kInstallSwitch) + L" " + QuoteArgument(path), calls)) {
    case kSucceeded: result.Success(EncodableValue(true)); return;
    case kCancelled: result.Error("CANCELLED", "Connection cancelled"); return;
    case kFailed: break;
  }
  result.Error("TUNNEL_ERROR", "Could not start the VPN service");
}

void StopTunnel(MethodResult& result, const TunnelChannelCalls& calls) {
  // The configuration file stays; the next start overwrites it.
  switch (RunSelfElevated(kRemoveSwitch, calls)) {
    case kSucceeded: result.Success(EncodableValue(true)); return;
    case kCancelled: result.Error("CANCELLED", "Disconnect cancelled"); return;
    case kFailed: break;
  }
  result.Error("TUNNEL_ERROR", "Could not stop the VPN service");
}

void GetStats(MethodResult& result, const TunnelChannelCalls& calls) {
  // The adapter's counters, -1 each while it does not exist; always 64-bit,
  // however small the count.
  const TunnelStats counters = ReadTunnelStats(calls);
  EncodableValueMap stats;
  stats[EncodableValue("rx_bytes")] = EncodableValue(counters.rx_bytes);
  stats[EncodableValue("tx_bytes")] = EncodableValue(counters.tx_bytes);
  result.Success(EncodableValue(stats));
}

}  // namespace

void HandleTunnelMethodCall(const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result,
                            const TunnelChannelCalls& calls, const ServiceCalls& service_calls) {
  if (!result) return;  // nothing to answer through
  const std::string& method = call.method_name();
  if (method == "startTunnel") {
    StartTunnel(call.arguments(), *result, calls);
  } else if (method == "stopTunnel") {
    StopTunnel(*result, calls);
  } else if (method == "getStatus") {
    result->Success(EncodableValue(IsTunnelRunning(service_calls)));
  } else if (method == "getStats") {
    GetStats(*result, calls);
  } else {
    result->NotImplemented();
  }
  // The result goes with this frame: answered once, released on every path.
}

}  // namespace tarnwick
