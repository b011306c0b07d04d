#include "tunnel_channel/tunnel_method_handler.h"

#include <cstdint>
#include <memory>
#include <string>

#include "embedding/encodable_value.h"
#include "platform/command_line.h"
#include "tunnel_channel/config_staging.h"
#include "tunnel_channel/tunnel_stats.h"

namespace tarnwick {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodResult;

// The intents of tunnel changes: a connect with its configuration, a
// disconnect. The same intent asked for again while it is the last change
// shares that change's outcome.
constexpr char kStartIntent[] = "startTunnel\n";
constexpr char kStopIntent[] = "stopTunnel";

// Answers the method with the outcome of its elevated copy, on the worker.
ElevationWorker::Answer AnswerWith(std::unique_ptr<MethodResult> result, const char* cancelled,
                                   const char* failed) {
  return [result = std::shared_ptr<MethodResult>(std::move(result)), cancelled,
          failed](ElevationOutcome outcome) {
    switch (outcome) {
      case kSucceeded: result->Success(EncodableValue(true)); return;
      case kCancelled: result->Error("CANCELLED", cancelled); return;
      case kFailed: break;
    }
    result->Error("TUNNEL_ERROR", failed);
  };
}

void StartTunnel(const EncodableValue* arguments, std::unique_ptr<MethodResult> result,
                 ElevationWorker& worker, const TunnelChannelCalls& calls) {
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

  const std::string intent = std::string(kStartIntent) + *config;
  std::wstring parameters;
  // Nothing is staged for a change that is answered at once, or that joins
  // the same connect already staged and on its way.
  if (worker.Admit(intent) == ElevationWorker::Queued::kQueued) {
    const std::wstring path = WriteTunnelConfig(*config, calls);
    if (path.empty()) {
      // No elevation prompt for a configuration the service could not read.
      result->Error("CONFIG_WRITE", "Failed to write config file");
      return;
    }
    parameters = std::wstring(kInstallSwitch) + L" " + QuoteArgument(path);
  }
  worker.Queue(
      intent, std::move(parameters),
      AnswerWith(std::move(result), "Connection cancelled", "Could not start the VPN service"));
}

void StopTunnel(std::unique_ptr<MethodResult> result, ElevationWorker& worker) {
  // The configuration file stays; the next start overwrites it.
  worker.Queue(
      kStopIntent, kRemoveSwitch,
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
    StartTunnel(call.arguments(), std::move(result), worker, calls);
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
