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

// What a method may use besides its call: the worker for tunnel changes,
// the calls for the state it reads.
struct MethodContext {
  ElevationWorker& worker;
  const TunnelChannelCalls& calls;
  const ServiceCalls& service_calls;
};

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
                 const MethodContext& context) {
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
  context.worker.Connect(*config, AnswerWith(std::move(result), "Connection cancelled",
                                             "Could not start the VPN service"));
}

// Any arguments are ignored. The configuration file stays; the next start
// overwrites it.
void StopTunnel(const EncodableValue* /*arguments*/, std::unique_ptr<MethodResult> result,
                const MethodContext& context) {
  context.worker.Disconnect(
      AnswerWith(std::move(result), "Disconnect cancelled", "Could not stop the VPN service"));
}

void GetStatus(const EncodableValue* /*arguments*/, std::unique_ptr<MethodResult> result,
               const MethodContext& context) {
  result->Success(EncodableValue(IsTunnelRunning(context.service_calls)));
}

// The adapter's counters, -1 each while it does not exist; always 64-bit,
// however small the count.
void GetStats(const EncodableValue* /*arguments*/, std::unique_ptr<MethodResult> result,
              const MethodContext& context) {
  const TunnelStats counters = ReadTunnelStats(context.calls);
  EncodableValueMap stats;
  stats[EncodableValue("rx_bytes")] = EncodableValue(counters.rx_bytes);
  stats[EncodableValue("tx_bytes")] = EncodableValue(counters.tx_bytes);
  result->Success(EncodableValue(stats));
}

// The channel's methods, matched by exact name. A method that starts a
// change passes its result to the worker; the others answer at once.
struct Method {
  const char* name;
  void (*handle)(const EncodableValue* arguments, std::unique_ptr<MethodResult> result,
                 const MethodContext& context);
};
constexpr Method kMethods[] = {
    {"startTunnel", StartTunnel},
    {"stopTunnel", StopTunnel},
    {"getStatus", GetStatus},
    {"getStats", GetStats},
};

}  // namespace

void HandleTunnelMethodCall(const flutter::MethodCall& call,
                            std::unique_ptr<flutter::MethodResult> result, ElevationWorker& worker,
                            const TunnelChannelCalls& calls, const ServiceCalls& service_calls) {
  if (!result) return;  // nothing to answer through
  const MethodContext context{worker, calls, service_calls};
  for (const Method& method : kMethods) {
    if (call.method_name() == method.name) {
      method.handle(call.arguments(), std::move(result), context);
      return;
    }
  }
  result->NotImplemented();
}

}  // namespace tarnwick
