#include "tunnel_channel/tunnel_method_handler.h"

#include <cstdint>
#include <utility>

#include "embedding/encodable_value.h"
#include "service/service_manager.h"
#include "tunnel_channel/config_staging.h"

namespace tarnwick {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodResult;

void StartTunnel(const TunnelOperations& operations, const EncodableValue* arguments,
                 MethodResult& result) {
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

  const std::wstring path = operations.WriteTunnelConfig(*config);
  if (path.empty()) {
    // No elevation prompt for a configuration the service could not read.
    result.Error("CONFIG_WRITE", "Failed to write config file");
    return;
  }

  switch (operations.RunSelfElevated(L"/svc-install \"" + path + L"\"")) {
    case kSucceeded:
      result.Success(EncodableValue(true));
      return;
    case kCancelled:
      result.Error("CANCELLED", "Connection cancelled");
      return;
    case kFailed:
      break;
  }
  result.Error("TUNNEL_ERROR", "Could not start the VPN service");
}

void StopTunnel(const TunnelOperations& operations, MethodResult& result) {
  // The configuration file stays; the next start overwrites it.
  switch (operations.RunSelfElevated(L"/svc-remove")) {
    case kSucceeded:
      result.Success(EncodableValue(true));
      return;
    case kCancelled:
      result.Error("CANCELLED", "Disconnect cancelled");
      return;
    case kFailed:
      break;
  }
  result.Error("TUNNEL_ERROR", "Could not stop the VPN service");
}

void GetStats(MethodResult& result) {
  // No traffic counters are read; the UI shows -1 as unknown.
  EncodableValueMap stats;
  stats[EncodableValue("rx_bytes")] = EncodableValue(int64_t{-1});
  stats[EncodableValue("tx_bytes")] = EncodableValue(int64_t{-1});
  result.Success(EncodableValue(stats));
}

}  // namespace

TunnelOperations::TunnelOperations()
    : WriteTunnelConfig([](const std::string& config) { return ::WriteTunnelConfig(config); }),
      RunSelfElevated([](const std::wstring& parameters) { return ::RunSelfElevated(parameters); }),
      IsTunnelRunning([] { return ::IsTunnelRunning(); }) {}

void HandleTunnelMethodCall(const TunnelOperations& operations, const flutter::MethodCall& call,
                            std::unique_ptr<MethodResult> result) {
  if (!result) return;  // nothing to answer through
  const std::string& method = call.method_name();
  if (method == "startTunnel") {
    StartTunnel(operations, call.arguments(), *result);
  } else if (method == "stopTunnel") {
    StopTunnel(operations, *result);
  } else if (method == "getStatus") {
    result->Success(EncodableValue(operations.IsTunnelRunning()));
  } else if (method == "getStats") {
    GetStats(*result);
  } else {
    result->NotImplemented();
  }
  // The result goes with this frame: answered once, released on every path.
}

}  // namespace tarnwick

void HandleTunnelMethodCall(const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result) {
  static const tarnwick::TunnelOperations operations;
  tarnwick::HandleTunnelMethodCall(operations, call, std::move(result));
}
