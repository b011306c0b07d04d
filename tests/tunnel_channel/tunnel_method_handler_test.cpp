#include "tunnel_channel/tunnel_method_handler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "embedding/standard_method_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Standard-codec values written out by hand, as the UI's side sends them.
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
Bytes Str(const std::string& text) {
  Bytes out = {0x07, static_cast<uint8_t>(text.size())};
  out.insert(out.end(), text.begin(), text.end());
  return out;
}
const Bytes kNull = {0x00};
const Bytes kTrue = {0x01};
const Bytes kFalse = {0x02};
Bytes Int32(uint8_t low) { return {0x03, low, 0, 0, 0}; }
const Bytes kInt64MinusOne = {0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
Bytes List(std::initializer_list<Bytes> items) {
  return Cat({{0x0C, static_cast<uint8_t>(items.size())}, Cat(items)});
}
// Entries as key, value, key, value...
Bytes Map(std::initializer_list<Bytes> keys_and_values) {
  return Cat({{0x0D, static_cast<uint8_t>(keys_and_values.size() / 2)}, Cat(keys_and_values)});
}
Bytes Call(const std::string& method, const Bytes& arguments) {
  return Cat({Str(method), arguments});
}

// Reply envelopes.
Bytes SuccessWith(const Bytes& value) { return Cat({{0x00}, value}); }
Bytes ErrorOf(const std::string& code, const std::string& message) {
  return Cat({{0x01}, Str(code), Str(message), kNull});
}
const Bytes kNotImplemented = {};

// What the handler did to the machine.
struct FakeOperations {
  std::wstring config_path = L"C:\\ProgramData\\Tarnwick\\tarnwick.conf";
  ElevationOutcome outcome = kSucceeded;
  bool running = false;

  std::vector<std::string> configs_written;
  std::vector<std::wstring> elevations;
  int status_queries = 0;

  tarnwick::TunnelOperations Table() {
    tarnwick::TunnelOperations table;
    table.WriteTunnelConfig = [this](const std::string& config) {
      configs_written.push_back(config);
      return config_path;
    };
    table.RunSelfElevated = [this](const std::wstring& parameters) {
      elevations.push_back(parameters);
      return outcome;
    };
    table.IsTunnelRunning = [this] {
      ++status_queries;
      return running;
    };
    return table;
  }
};

// An engine-bound result that tells when it is released.
class WatchedResult : public flutter::EngineMethodResult {
 public:
  WatchedResult(flutter::BinaryReply reply, bool* released)
      : EngineMethodResult(std::move(reply), &flutter::StandardMethodCodec::GetInstance()),
        released_(released) {}
  ~WatchedResult() override { *released_ = true; }

 private:
  bool* released_;
};

// Decodes the message as the channel does, runs the handler and returns its
// one reply; fails the test on no reply, two replies or a kept result.
Bytes Handle(FakeOperations& fake, const Bytes& message) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  std::unique_ptr<flutter::MethodCall> call = codec.DecodeMethodCall(message.data(), message.size());
  EXPECT_NE(call, nullptr);
  if (!call) return {0xEE};

  std::vector<Bytes> replies;
  bool released = false;
  auto result = std::make_unique<WatchedResult>(
      [&replies](const uint8_t* data, size_t size) {
        replies.emplace_back(data, data + size);
      },
      &released);
  tarnwick::HandleTunnelMethodCall(fake.Table(), *call, std::move(result));

  EXPECT_TRUE(released) << "the result is released before the handler returns";
  EXPECT_EQ(replies.size(), 1u) << "exactly one answer";
  return replies.empty() ? Bytes{0xEE} : replies.front();
}

const std::string kConfig = "[Interface]\nPrivateKey = k\xc3\xa9y\n";

TEST(HandleTunnelMethodCall, StartTunnelArgumentsThatAreRefused) {
  const Bytes required = ErrorOf("INVALID_ARGS", "Config is required");
  const Bytes not_a_string = ErrorOf("INVALID_ARGS", "Config must be a string");
  struct Row {
    const char* what;
    Bytes arguments;
    Bytes reply;
  } rows[] = {
      {"no arguments", {}, required},
      {"null arguments", kNull, required},
      {"a list", List({Str("config"), Str(kConfig)}), required},
      {"a string", Str(kConfig), required},
      {"an empty map", Map({}), required},
      {"key differing in case", Map({Str("Config"), Str(kConfig)}), required},
      {"key with a trailing blank", Map({Str("config "), Str(kConfig)}), required},
      {"key as a byte list", Map({{0x08, 6, 'c', 'o', 'n', 'f', 'i', 'g'}, Str(kConfig)}), required},
      {"null config", Map({Str("config"), kNull}), not_a_string},
      {"numeric config", Map({Str("config"), Int32(7)}), not_a_string},
      {"list config", Map({Str("config"), List({Str(kConfig)})}), not_a_string},
      {"bool config", Map({Str("config"), kTrue}), not_a_string},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeOperations fake;
    EXPECT_EQ(Handle(fake, Call("startTunnel", row.arguments)), row.reply);
    EXPECT_TRUE(fake.configs_written.empty());
    EXPECT_TRUE(fake.elevations.empty());
  }
}

TEST(HandleTunnelMethodCall, StartTunnelWritesThenInstallsElevated) {
  struct Row {
    const char* what;
    std::string config;
    std::wstring path;  // returned by the write
    ElevationOutcome outcome;
    Bytes reply;
    bool elevated;
  } rows[] = {
      {"installed", kConfig, L"C:\\Program Data\\Tarnwick\\tarnwick.conf", kSucceeded,
       SuccessWith(kTrue), true},
      {"empty configuration", "", L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", kSucceeded,
       SuccessWith(kTrue), true},
      {"prompt declined", kConfig, L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", kCancelled,
       ErrorOf("CANCELLED", "Connection cancelled"), true},
      {"install failed", kConfig, L"C:\\ProgramData\\Tarnwick\\tarnwick.conf", kFailed,
       ErrorOf("TUNNEL_ERROR", "Could not start the VPN service"), true},
      {"file not written", kConfig, L"", kSucceeded,
       ErrorOf("CONFIG_WRITE", "Failed to write config file"), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeOperations fake;
    fake.config_path = row.path;
    fake.outcome = row.outcome;
    // Entries other than "config" are ignored.
    const Bytes arguments = Map({Str("config"), Str(row.config), Str("name"), Str("office")});

    EXPECT_EQ(Handle(fake, Call("startTunnel", arguments)), row.reply);
    EXPECT_EQ(fake.configs_written, std::vector<std::string>{row.config});
    if (row.elevated) {
      EXPECT_EQ(fake.elevations, std::vector<std::wstring>{L"/svc-install \"" + row.path + L"\""});
    } else {
      EXPECT_TRUE(fake.elevations.empty()) << "no prompt without a configuration";
    }
    EXPECT_EQ(fake.status_queries, 0);
  }
}

TEST(HandleTunnelMethodCall, StopTunnelIgnoresArgumentsAndRemovesElevated) {
  const Bytes argument_shapes[] = {
      {},
      kNull,
      Str("x"),
      Int32(1),
      List({}),
      Map({Str("config"), Str(kConfig)}),
  };
  struct Outcome {
    ElevationOutcome outcome;
    Bytes reply;
  } outcomes[] = {
      {kSucceeded, SuccessWith(kTrue)},
      {kCancelled, ErrorOf("CANCELLED", "Disconnect cancelled")},
      {kFailed, ErrorOf("TUNNEL_ERROR", "Could not stop the VPN service")},
  };
  for (const Outcome& outcome : outcomes) {
    for (const Bytes& arguments : argument_shapes) {
      SCOPED_TRACE(::testing::Message() << "outcome " << outcome.outcome << ", arguments of "
                                        << arguments.size() << " bytes");
      FakeOperations fake;
      fake.outcome = outcome.outcome;
      EXPECT_EQ(Handle(fake, Call("stopTunnel", arguments)), outcome.reply);
      EXPECT_EQ(fake.elevations, std::vector<std::wstring>{L"/svc-remove"});
      EXPECT_TRUE(fake.configs_written.empty()) << "the configuration is left alone";
    }
  }
}

TEST(HandleTunnelMethodCall, StatusAndStatsNeverFail) {
  for (bool running : {false, true}) {
    SCOPED_TRACE(running);
    FakeOperations fake;
    fake.running = running;
    EXPECT_EQ(Handle(fake, Call("getStatus", kNull)), SuccessWith(running ? kTrue : kFalse));
    EXPECT_EQ(Handle(fake, Call("getStatus", Map({Str("a"), kTrue}))),
              SuccessWith(running ? kTrue : kFalse));
    EXPECT_EQ(fake.status_queries, 2);

    // Keys in map order, "rx_bytes" first; both 64-bit -1 whatever the state.
    const Bytes stats =
        SuccessWith(Map({Str("rx_bytes"), kInt64MinusOne, Str("tx_bytes"), kInt64MinusOne}));
    EXPECT_EQ(Handle(fake, Call("getStats", kNull)), stats);
    EXPECT_EQ(Handle(fake, Call("getStats", Str("x"))), stats);
    EXPECT_EQ(fake.status_queries, 2) << "stats query nothing";
    EXPECT_TRUE(fake.elevations.empty());
  }
}

TEST(HandleTunnelMethodCall, OtherNamesAreNotImplemented) {
  const char* names[] = {"getstatus", "GetStatus", "getStatus ", " getStatus", "startTunnel2",
                         "stop", "", "connect"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    FakeOperations fake;
    EXPECT_EQ(Handle(fake, Call(name, Map({Str("config"), Str(kConfig)}))), kNotImplemented);
    EXPECT_TRUE(fake.configs_written.empty());
    EXPECT_TRUE(fake.elevations.empty());
    EXPECT_EQ(fake.status_queries, 0);
  }
  // A name with a NUL after a known one is a different name.
  FakeOperations fake;
  const Bytes with_nul = Cat({{0x07, 10}, {'g', 'e', 't', 'S', 't', 'a', 't', 's', 0, 'x'}, kNull});
  EXPECT_EQ(Handle(fake, with_nul), kNotImplemented);
}

}  // namespace
