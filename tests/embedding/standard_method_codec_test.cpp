#include "embedding/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "embedding/method_result.h"
#include "tests/embedding/cerr_capture.h"
#include "tests/support/bytes.h"
#include "tests/support/point_serializer.h"

namespace flutter {
namespace {

using tarnwick::Bytes;
using tarnwick::Cat;
using tarnwick::Equivalent;
using tarnwick::Hex;

const std::string kInvalidRead = "Invalid read in StandardCodecByteStreamReader\n";

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

TEST(StandardMethodCodec, EncodesSuccessEnvelopes) {
  const EncodableValue truth(true);
  const EncodableValue number(1.0);
  EXPECT_EQ(Hex(*Codec().EncodeSuccessEnvelope(nullptr)), "00 00");
  EXPECT_EQ(Hex(*Codec().EncodeSuccessEnvelope(&truth)), "00 01");
  // Padding counts the envelope byte.
  EXPECT_EQ(Hex(*Codec().EncodeSuccessEnvelope(&number)),
            "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");
}

TEST(StandardMethodCodec, EncodesErrorEnvelopes) {
  EXPECT_EQ(Hex(*Codec().EncodeErrorEnvelope("CANCELLED", "Connection cancelled", nullptr)),
            Hex(Cat({Bytes("01 07 09", "CANCELLED"), Bytes("07 14", "Connection cancelled"),
                     Bytes("00")})));
  // An empty message is left out as null, not sent as an empty string.
  EXPECT_EQ(Hex(*Codec().EncodeErrorEnvelope("E", "", nullptr)), "01 07 01 45 00 00");
  const EncodableValue details(int32_t{3});
  EXPECT_EQ(Hex(*Codec().EncodeErrorEnvelope("E", "m", &details)),
            "01 07 01 45 07 01 6D 03 03 00 00 00");
}

TEST(StandardMethodCodec, EncodesAndDecodesMethodCalls) {
  EncodableValueMap arguments{{EncodableValue("config"), EncodableValue("abc")}};
  const MethodCall call("startTunnel", std::make_unique<EncodableValue>(arguments));
  const auto bytes = Codec().EncodeMethodCall(call);
  const auto expected =
      Cat({Bytes("07 0B", "startTunnel"), Bytes("0D 01 07 06", "config"), Bytes("07 03", "abc")});
  EXPECT_EQ(Hex(*bytes), Hex(expected));

  tarnwick::CerrCapture err;
  const auto decoded = Codec().DecodeMethodCall(bytes->data(), bytes->size());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "startTunnel");
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_TRUE(Equivalent(*decoded->arguments(), EncodableValue(arguments)));
  EXPECT_EQ(err.text(), "");

  const MethodCall bare("getStats", nullptr);
  EXPECT_EQ(Hex(*Codec().EncodeMethodCall(bare)),
            Hex(Cat({Bytes("07 08", "getStats"), Bytes("00")})));
}

TEST(StandardMethodCodec, DecodesCallsFromTheWire) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::optional<std::string> name;  // none: not a method call
    EncodableValue arguments;
    std::string diagnostics;
  };
  const std::string kNotAName = "Invalid method call; method name is not a string.\n";
  const Case cases[] = {
      {"name only: null arguments", Bytes("07 09", "getStatus"), "getStatus", EncodableValue(),
       kInvalidRead},
      {"trailing bytes ignored", Bytes("07 01 61 01 FF FF"), "a", EncodableValue(true), ""},
      {"name not a string", Bytes("03 01 00 00 00"), std::nullopt, EncodableValue(), kNotAName},
      {"empty message", {}, std::nullopt, EncodableValue(), kInvalidRead + kNotAName},
  };
  for (const Case& c : cases) {
    tarnwick::CerrCapture err;
    const auto call = Codec().DecodeMethodCall(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(err.text(), c.diagnostics) << c.what;
    EXPECT_TRUE(err.each_line_flushed()) << c.what;
    if (!c.name) {
      EXPECT_EQ(call, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(call, nullptr) << c.what;
    EXPECT_EQ(call->method_name(), *c.name);
    ASSERT_NE(call->arguments(), nullptr) << "decoded calls always own arguments";
    EXPECT_TRUE(Equivalent(*call->arguments(), c.arguments)) << c.what;
  }
}

// Records what a decoded envelope hands over.
class RecordingResult : public MethodResult {
 public:
  std::vector<std::string> calls;
  std::optional<EncodableValue> value;
  std::string code;
  std::string message;

  void SuccessInternal(const EncodableValue* result) override {
    calls.push_back(result ? "success(value)" : "success()");
    if (result) value = *result;
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const EncodableValue* details) override {
    calls.push_back(details ? "error(details)" : "error()");
    code = error_code;
    message = error_message;
    if (details) value = *details;
  }
  void NotImplementedInternal() override { calls.push_back("not implemented"); }
};

TEST(StandardMethodCodec, DecodesResponseEnvelopes) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool is_envelope;
    std::vector<std::string> calls;
    std::optional<EncodableValue> value;
    std::string diagnostics;
  };
  const Case cases[] = {
      {"success without value", Bytes("00 00"), true, {"success()"}, std::nullopt, ""},
      {"success with true", Bytes("00 01"), true, {"success(value)"}, EncodableValue(true), ""},
      {"empty response is a success",
       {},
       true,
       {"success()"},
       std::nullopt,
       kInvalidRead + kInvalidRead},
      {"unknown envelope", Bytes("02 00"), false, {}, std::nullopt, ""},
      {"error without message or details",
       Bytes("01 07 01 45 00 00"),
       true,
       {"error()"},
       std::nullopt,
       ""},
      {"error with details of any kind",
       Bytes("01 07 01 45 07 01 6D 0C 00"),
       true,
       {"error(details)"},
       EncodableValue(EncodableValueList{}),
       ""},
  };
  for (const Case& c : cases) {
    RecordingResult result;
    tarnwick::CerrCapture err;
    EXPECT_EQ(Codec().DecodeResponseEnvelope(c.bytes.data(), c.bytes.size(), &result),
              c.is_envelope)
        << c.what;
    EXPECT_EQ(result.calls, c.calls) << c.what;
    EXPECT_EQ(result.value.has_value(), c.value.has_value()) << c.what;
    if (c.value && result.value) {
      EXPECT_TRUE(Equivalent(*result.value, *c.value)) << c.what;
    }
    EXPECT_EQ(err.text(), c.diagnostics) << c.what;
  }

  RecordingResult result;
  const auto envelope = Codec().EncodeErrorEnvelope("TUNNEL_ERROR", "Failed", nullptr);
  ASSERT_TRUE(Codec().DecodeResponseEnvelope(envelope->data(), envelope->size(), &result));
  EXPECT_EQ(result.code, "TUNNEL_ERROR");
  EXPECT_EQ(result.message, "Failed");
}

TEST(StandardMethodCodec, MalformedErrorEnvelopeThrowsBeforeAnswering) {
  const std::vector<uint8_t> cases[] = {
      Bytes("01 03 01 00 00 00 00 00"),  // code is an int32
      Bytes("01 07 01 45 01 00"),        // message is a bool
      Bytes("01"),                       // code missing: null
  };
  for (const auto& bytes : cases) {
    RecordingResult result;
    tarnwick::CerrCapture err;
    EXPECT_THROW(Codec().DecodeResponseEnvelope(bytes.data(), bytes.size(), &result),
                 std::bad_variant_access)
        << Hex(bytes);
    EXPECT_TRUE(result.calls.empty()) << Hex(bytes);
  }
}

// A serializer's own type inside calls and envelopes of the codec bound to
// it; the double after the point pads from the start of the message.
TEST(StandardMethodCodec, CarriesTheSerializersOwnTypes) {
  static const tarnwick::PointSerializer serializer;
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance(&serializer);
  const EncodableValue arguments(
      EncodableValueList{EncodableValue(CustomValue(tarnwick::Point{1, -2})), EncodableValue(1.5)});
  const std::string point = "80 01 00 00 00 FE FF FF FF";
  const std::string one_and_a_half = "00 00 00 00 00 00 F8 3F";

  const MethodCall call("p", std::make_unique<EncodableValue>(arguments));
  const auto message = codec.EncodeMethodCall(call);
  EXPECT_EQ(Hex(*message), "07 01 70 0C 02 " + point + " 06 00 " + one_and_a_half);
  const auto decoded = codec.DecodeMethodCall(message->data(), message->size());
  ASSERT_NE(decoded, nullptr);
  const auto& list = std::get<EncodableValueList>(*decoded->arguments());
  ASSERT_NE(tarnwick::PointIn(list[0]), nullptr);
  EXPECT_EQ(tarnwick::PointIn(list[0])->y, -2);
  EXPECT_EQ(std::get<double>(list[1]), 1.5);

  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope(&arguments)),
            "00 0C 02 " + point + " 06 00 00 00 " + one_and_a_half);
  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E", "", &arguments)),
            "01 07 01 45 00 0C 02 " + point + " 06 00 00 00 00 00 00 00 " + one_and_a_half);
}

class OtherSerializer : public StandardCodecSerializer {};

TEST(StandardMethodCodec, OneCodecPerSerializer) {
  const auto& serializer = StandardCodecSerializer::GetInstance();
  EXPECT_EQ(&StandardMethodCodec::GetInstance(nullptr), &StandardMethodCodec::GetInstance(nullptr));
  EXPECT_EQ(&StandardMethodCodec::GetInstance(nullptr),
            &StandardMethodCodec::GetInstance(&serializer));

  static const OtherSerializer other;
  const StandardMethodCodec& other_codec = StandardMethodCodec::GetInstance(&other);
  EXPECT_NE(&other_codec, &StandardMethodCodec::GetInstance());
  EXPECT_EQ(&other_codec, &StandardMethodCodec::GetInstance(&other));
}

// The registry may be reached from several threads at once; each must get
// the one codec of its serializer (the sanitizer build checks for races).
TEST(StandardMethodCodec, RegistryIsSafeAcrossThreads) {
  static const OtherSerializer serializers[8];
  std::vector<const StandardMethodCodec*> seen(8 * 4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &seen] {
      for (int i = 0; i < 8; ++i) {
        seen[t * 8 + i] = &StandardMethodCodec::GetInstance(&serializers[i]);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 1; t < 4; ++t) {
    for (int i = 0; i < 8; ++i) EXPECT_EQ(seen[t * 8 + i], seen[i]);
  }
  for (int i = 1; i < 8; ++i) EXPECT_NE(seen[i], seen[0]);
}

}  // namespace
}  // namespace flutter
