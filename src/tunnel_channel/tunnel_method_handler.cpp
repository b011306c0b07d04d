#include "tunnel_channel/tunnel_method_handler.h"

#include <cstdint>
#include <memory>
#include <string>

#include "embedding/encodable_value.h"
#include "tunnel_channel/tunnel_stats.h"

namespace tarnwick {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodResult;

// Answers the method with the outcome of its change, on the worker.
ElevationWorker::Answer AnswerWith(std::unique_ptr<MethodResult> result, const char* cancelled,
                                   const char* failed) {
  return [result = std::shared_ptr<MethodResult>(std::move(result)), cancelled,
          failed](ChangeOutcome outcome) {
    switch (outcome) {
      case ChangeOutcome::kSucceeded: result->Success(EncodableValue(true)); return;
      case ChangeOutcome::kCancelled: result->Error("CANCELLED", cancelled); return;
      case ChangeOutcome::kConfigNotWritten:
        result->Error("CONFIG_WRITE", "Failed to write config file");
        return;
      case ChangeOutcome::kFailed: break;
    }
    result->Error("TUNNEL_ERROR", failed);
  };
}

void StartTunnel(const EncodableValue* arguments, std::unique_ptr<MethodResult> result,
                 ElevationWorker& worker) {
  const auto* map = arguments ? std::get_if<EncodableValueMap>(arguments) : nullptr;
  if (map == nullptr) {
    result->Error("INVALID_ARGS", "Config is required");
    return;
  }
  // Found by the map's own ordering: only a string key spelled exactly
  // "config" matches.
  const auto entry = map->find(EncodableValue("config"));
  if (entry == map->end()) {
    result->Error("INVALID_ARGS", "Config is required");
    return;
  }
  const auto* config = std::get_if<std::string>(&entry->second);
  if (config == nullptr) {
    result->Error("INVALID_ARGS", "Config must be a string");
    return;
  }

  // Staged on the worker when this connect runs, not now: a connect still
  // waiting must not be handed another's text.
  worker.Connect(*config, AnswerWith(std::move(result), "Connection cancelled",
                                     "Could not start the VPN service"));
}

void StopTunnel(std::unique_ptr<MethodResult> result, ElevationWorker& worker) {
  // The configuration file stays; the next start overwrites it.
  worker.Disconnect(
      AnswerWith(std::move(result), "Disconnect cancelled", "Could not stop the VPN service"));
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
                            std::unique_ptr<flutter::MethodResult> result, ElevationWorker& worker,
                            const TunnelChannelCalls& calls, const ServiceCalls& service_calls) {
  if (!result) return;  // nothing to answer through
  const std::string& method = call.method_name();
  if (method == "startTunnel") {
    StartTunnel(call.arguments(), std::move(result), worker);
  } else if (method == "stopTunnel") {
    StopTunnel(std::move(result), worker);
  } else if (method == "getStatus") {
    result->Success(EncodableValue(IsTunnelRunning(service_calls)));
  } else if (method == "getStats") {
    GetStats(*result, calls);
  } else {
    result->NotImplemented();
  }
  // A result still here goes with this frame, answered.
}

}  // namespace tarnwick
