#include "embedding/standard_codec_serializer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/embedding/cerr_capture.h"
#include "tests/embedding/memory_cap.h"
#include "tests/support/bytes.h"
#include "tests/support/point_serializer.h"

namespace flutter {
namespace {

using tarnwick::Bytes;
using tarnwick::Cat;
using tarnwick::Equivalent;
using tarnwick::Hex;
using tarnwick::Point;

const std::string kInvalidRead = "Invalid read in StandardCodecByteStreamReader\n";
const std::string kTooDeep = std::string(kNestingTooDeepMessage) + "\n";

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> out;
  ByteBufferStreamWriter writer(&out);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return out;
}

EncodableValue Decode(const std::vector<uint8_t>& bytes, size_t* end = nullptr) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  EncodableValue value = StandardCodecSerializer::GetInstance().ReadValue(&reader);
  if (end != nullptr) *end = reader.location();
  return value;
}

TEST(StandardCodecSerializer, WritesTheWireFormat) {
  std::vector<uint8_t> all_ff(8, 0xFF);
  struct Case {
    const char* what;
    EncodableValue value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"null", EncodableValue(), Bytes("00")},
      {"true", EncodableValue(true), Bytes("01")},
      {"false", EncodableValue(false), Bytes("02")},
      {"int32", EncodableValue(int32_t{5}), Bytes("03 05 00 00 00")},
      {"int64 never shortened", EncodableValue(int64_t{-1}), Bytes("04 FF FF FF FF FF FF FF FF")},
      {"double padded from the start", EncodableValue(1.0),
       Bytes("06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F")},
      {"string", EncodableValue("abc"), Bytes("07 03 61 62 63")},
      {"empty string", EncodableValue(""), Bytes("07 00")},
      {"byte list, no padding", EncodableValue(std::vector<uint8_t>{1, 2}), Bytes("08 02 01 02")},
      {"int32 list", EncodableValue(std::vector<int32_t>{1}), Bytes("09 01 00 00 01 00 00 00")},
      {"int64 list", EncodableValue(std::vector<int64_t>{2}),
       Bytes("0A 01 00 00 00 00 00 00 02 00 00 00 00 00 00 00")},
      {"double list", EncodableValue(std::vector<double>{-2.0}),
       Bytes("0B 01 00 00 00 00 00 00 00 00 00 00 00 00 00 C0")},
      {"float list", EncodableValue(std::vector<float>{1.0f}), Bytes("0E 01 00 00 00 00 80 3F")},
      {"list", EncodableValue(EncodableValueList{EncodableValue(true), EncodableValue(false)}),
       Bytes("0C 02 01 02")},
      {"statistics map in key order",
       EncodableValue(EncodableValueMap{{EncodableValue("tx_bytes"), EncodableValue(int64_t{-1})},
                                        {EncodableValue("rx_bytes"), EncodableValue(int64_t{-1})}}),
       Cat({Bytes("0D 02 07 08", "rx_bytes"), Bytes("04"), all_ff, Bytes("07 08", "tx_bytes"),
            Bytes("04"), all_ff})},
      // An empty numeric list is padded exactly as the reader skips.
      {"empty int32 list", EncodableValue(std::vector<int32_t>{}), Bytes("09 00 00 00")},
      {"empty float list", EncodableValue(std::vector<float>{}), Bytes("0E 00 00 00")},
      {"empty int64 list", EncodableValue(std::vector<int64_t>{}),
       Bytes("0A 00 00 00 00 00 00 00")},
      {"empty double list", EncodableValue(std::vector<double>{}),
       Bytes("0B 00 00 00 00 00 00 00")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(Encode(c.value)), Hex(c.bytes)) << c.what;
  }
}

TEST(StandardCodecSerializer, WritesSizesInOneThreeOrFiveBytes) {
  struct Case {
    size_t length;
    std::vector<uint8_t> header;
  };
  const Case cases[] = {
      {253, Bytes("07 FD")},
      {254, Bytes("07 FE FE 00")},
      {255, Bytes("07 FE FF 00")},
      {65535, Bytes("07 FE FF FF")},
      {65536, Bytes("07 FF 00 00 01 00")},
  };
  for (const Case& c : cases) {
    const std::string text(c.length, 'x');
    const std::vector<uint8_t> bytes = Encode(EncodableValue(text));
    ASSERT_EQ(bytes.size(), c.header.size() + c.length) << c.length;
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), bytes.begin())) << c.length;
    EXPECT_EQ(std::get<std::string>(Decode(bytes)), text) << c.length;
  }
}

TEST(StandardCodecSerializer, CustomValueIsWrittenAsNullWithOneLine) {
  tarnwick::CerrCapture err;
  const auto bytes = Encode(EncodableValue(
      EncodableValueList{EncodableValue(CustomValue(3)), EncodableValue(int32_t{1})}));
  EXPECT_EQ(Hex(bytes), Hex(Bytes("0C 02 00 03 01 00 00 00")));
  EXPECT_EQ(err.text(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. "
            "Custom types require codec extensions.\n");
  EXPECT_TRUE(err.each_line_flushed());
}

TEST(StandardCodecSerializer, ReadsTheWireFormat) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    EncodableValue expected;
  };
  const Case cases[] = {
      {"type 5 reads as a string", Bytes("05 02 68 69"), EncodableValue("hi")},
      {"list", Bytes("0C 02 01 02"),
       EncodableValue(EncodableValueList{EncodableValue(true), EncodableValue(false)})},
      {"map", Bytes("0D 01 07 01 61 03 07 00 00 00"),
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(int32_t{7})}})},
      {"repeated key keeps the first value",
       Bytes("0D 02 07 01 61 03 01 00 00 00 07 01 61 03 02 00 00 00"),
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(int32_t{1})}})},
      {"map out of key order", Bytes("0D 02 07 01 62 00 07 01 61 01"),
       EncodableValue(EncodableValueMap{{EncodableValue("a"), EncodableValue(true)},
                                        {EncodableValue("b"), EncodableValue()}})},
      {"float list", Bytes("0E 02 00 00 00 00 80 3F 00 00 00 C0"),
       EncodableValue(std::vector<float>{1.0f, -2.0f})},
  };
  for (const Case& c : cases) {
    tarnwick::CerrCapture err;
    EXPECT_TRUE(Equivalent(Decode(c.bytes), c.expected)) << c.what;
    EXPECT_EQ(err.text(), "") << c.what;
  }
}

// Malformed input never stops the reader: each fault is one line and a
// fixed default, and the position says where reading goes on.
TEST(StandardCodecSerializer, ReportsMalformedInputAndGoesOn) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    EncodableValue expected;
    std::string diagnostics;
    size_t end;
  };
  const Case cases[] = {
      {"empty buffer", {}, EncodableValue(), kInvalidRead, 0},
      {"type 15", Bytes("0F 01"), EncodableValue(),
       "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n", 1},
      {"type 255", Bytes("FF"), EncodableValue(),
       "Unknown type in StandardCodecSerializer::ReadValueOfType: 255\n", 1},
      {"truncated int32 reads zero", Bytes("03 01 02"), EncodableValue(int32_t{0}), kInvalidRead,
       1},
      {"truncated double reads zero", Bytes("06 00 00"), EncodableValue(0.0), kInvalidRead, 8},
      {"string longer than the input", Bytes("07 05 61 62"), EncodableValue(""), kInvalidRead, 2},
      {"truncated 16-bit size", Bytes("07 FE 01"), EncodableValue(""), kInvalidRead, 2},
      {"empty numeric list ending the message skips past the end", Bytes("09 00"),
       EncodableValue(std::vector<int32_t>{}), kInvalidRead, 4},
      {"short element reads zero and the next goes on from there", Bytes("0C 02 03 01"),
       EncodableValue(EncodableValueList{EncodableValue(int32_t{0}), EncodableValue(true)}),
       kInvalidRead, 4},
  };
  for (const Case& c : cases) {
    tarnwick::CerrCapture err;
    size_t end = 0;
    EXPECT_TRUE(Equivalent(Decode(c.bytes, &end), c.expected)) << c.what;
    EXPECT_EQ(err.text(), c.diagnostics) << c.what;
    EXPECT_TRUE(err.each_line_flushed()) << c.what;
    EXPECT_EQ(end, c.end) << c.what;
  }
}

// How far the heap grew above live_before since the peak was reset; zero
// where the allocation functions cannot be watched (thread sanitizer).
size_t PeakGrowth(size_t live_before) {
  if (!tarnwick::MemoryCapInstalled()) return 0;
  return tarnwick::PeakHeapBytes() - live_before;
}

// Each row declares a size just within or just beyond the bytes after it.
TEST(StandardCodecSerializer, DeclaredSizesAreBoundedByTheBytesLeft) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    EncodableValue expected;
    bool fails;
    size_t end;
  };
  const Case cases[] = {
      {"string fits", Bytes("07 02 61 62"), EncodableValue("ab"), false, 4},
      {"string one byte over", Bytes("07 03 61 62"), EncodableValue(""), true, 2},
      {"bytes fit", Bytes("08 01 61"), EncodableValue(std::vector<uint8_t>{0x61}), false, 3},
      {"bytes one over", Bytes("08 02 61"), EncodableValue(std::vector<uint8_t>{}), true, 2},
      {"int32 list fits", Bytes("09 01 00 00 07 00 00 00"), EncodableValue(std::vector<int32_t>{7}),
       false, 8},
      {"int32 list one element over", Bytes("09 02 00 00 07 00 00 00"),
       EncodableValue(std::vector<int32_t>{}), true, 4},
      {"list of one-byte elements fits", Bytes("0C 03 00 00 00"),
       EncodableValue(EncodableValueList(3)), false, 5},
      {"list one element over", Bytes("0C 04 00 00 00"), EncodableValue(EncodableValueList{}), true,
       2},
      {"map of two-byte entries fits", Bytes("0D 02 00 01 01 00"),
       EncodableValue(EncodableValueMap{{EncodableValue(), EncodableValue(true)},
                                        {EncodableValue(true), EncodableValue()}}),
       false, 6},
      {"map one entry over", Bytes("0D 03 00 01 01 00"), EncodableValue(EncodableValueMap{}), true,
       2},
      {"4 GiB string in six bytes", Bytes("07 FF FF FF FF FF"), EncodableValue(""), true, 6},
      {"4 Gi elements in six bytes", Bytes("0C FF FF FF FF FF"),
       EncodableValue(EncodableValueList{}), true, 6},
      {"4 Gi entries", Bytes("0D FF FF FF FF FF"), EncodableValue(EncodableValueMap{}), true, 6},
      {"4 Gi doubles", Bytes("0B FF FF FF FF FF"), EncodableValue(std::vector<double>{}), true, 8},
      {"4 Gi bytes", Bytes("08 FF FF FF FF FF"), EncodableValue(std::vector<uint8_t>{}), true, 6},
      // Nested in lists and maps, where elements are read in place.
      {"string in a list one byte over", Bytes("0C 01 07 02 61"),
       EncodableValue(EncodableValueList{EncodableValue("")}), true, 4},
      {"list in a list one element over", Bytes("0C 02 0C 03 00 01"),
       EncodableValue(EncodableValueList{EncodableValue(EncodableValueList{}), EncodableValue()}),
       true, 5},
      {"list as a map value one element over", Bytes("0D 01 00 0C 03 00 00"),
       EncodableValue(EncodableValueMap{{EncodableValue(), EncodableValue(EncodableValueList{})}}),
       true, 5},
  };
  for (const Case& c : cases) {
    tarnwick::CerrCapture err;
    tarnwick::ResetPeakHeapBytes();
    const size_t live_before = tarnwick::LiveHeapBytes();
    size_t end = 0;
    EXPECT_TRUE(Equivalent(Decode(c.bytes, &end), c.expected)) << c.what;
    EXPECT_EQ(err.text(), c.fails ? kInvalidRead : "") << c.what;
    EXPECT_EQ(end, c.end) << c.what;
    EXPECT_LT(PeakGrowth(live_before), size_t{4096}) << c.what;
  }
}

std::vector<uint8_t> NestedLists(size_t depth) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < depth; ++i) {
    bytes.push_back(0x0C);
    bytes.push_back(0x01);
  }
  bytes.push_back(0x01);  // true, the innermost element
  return bytes;
}

size_t ListDepth(const EncodableValue& value, const EncodableValue** innermost) {
  size_t depth = 0;
  const EncodableValue* at = &value;
  while (const auto* list = std::get_if<EncodableValueList>(at)) {
    ++depth;
    if (list->empty()) break;
    at = &list->front();
  }
  *innermost = at;
  return depth;
}

TEST(StandardCodecSerializer, NestingIsBoundedAtTheLimit) {
  {
    tarnwick::CerrCapture err;
    const EncodableValue value = Decode(NestedLists(kMaxNestingDepth));
    const EncodableValue* innermost = nullptr;
    EXPECT_EQ(ListDepth(value, &innermost), kMaxNestingDepth);
    EXPECT_TRUE(std::holds_alternative<bool>(*innermost));
    EXPECT_EQ(err.text(), "");
  }
  {
    tarnwick::CerrCapture err;
    size_t end = 0;
    const auto bytes = NestedLists(kMaxNestingDepth + 1);
    const EncodableValue value = Decode(bytes, &end);
    const EncodableValue* innermost = nullptr;
    EXPECT_EQ(ListDepth(value, &innermost), kMaxNestingDepth);
    EXPECT_TRUE(innermost->IsNull());
    EXPECT_EQ(err.text(), kTooDeep);
    EXPECT_TRUE(err.each_line_flushed());
    // Only the too-deep value's type byte is consumed.
    EXPECT_EQ(end, 2 * kMaxNestingDepth + 1);
  }
  {
    // Maps count as nesting too, mixed with lists: a map under the limit
    // whose value is a too-deep list.
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < kMaxNestingDepth; ++i) {
      const auto level = i % 2 == 0 ? Bytes("0D 01 00") : Bytes("0C 01");
      bytes.insert(bytes.end(), level.begin(), level.end());
    }
    bytes.push_back(0x0C);
    tarnwick::CerrCapture err;
    Decode(bytes);
    EXPECT_EQ(err.text(), kTooDeep);
  }
  // The depth is counted per read, so the next message starts afresh.
  tarnwick::CerrCapture err;
  Decode(NestedLists(kMaxNestingDepth));
  EXPECT_EQ(err.text(), "");
}

// The decoder must survive hostile messages on the thread it is called on
// (under Wine, the Windows main thread and its stack) and inside the memory
// cap this program runs under.
TEST(StandardCodecSerializer, SurvivesHostileMessagesUnderTheMemoryCap) {
  tarnwick::CerrCapture err;
  const auto deep = NestedLists(200000);
  size_t end = 0;
  EncodableValue value = Decode(deep, &end);
  const EncodableValue* innermost = nullptr;
  EXPECT_EQ(ListDepth(value, &innermost), kMaxNestingDepth);
  EXPECT_EQ(err.text(), kTooDeep);

  err.Clear();
  tarnwick::ResetPeakHeapBytes();
  const size_t live_before = tarnwick::LiveHeapBytes();
  const auto started = std::chrono::steady_clock::now();
  value = Decode(Bytes("07 FF FF FF FF FF"));
  EXPECT_EQ(std::get<std::string>(value), "");
  value = Decode(Bytes("0C FF FF FF FF FF"));
  EXPECT_TRUE(std::get<EncodableValueList>(value).empty());
  EXPECT_LT(PeakGrowth(live_before), size_t{4096});
  // No loop over the declared count: far below a second even under Wine.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(err.text(), kInvalidRead + kInvalidRead);

  // The cap's own blocks are aligned as operator new must align them.
  for (size_t size : {1, 24, 4096}) {
    const auto block = std::make_unique<unsigned char[]>(size);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block.get()) % __STDCPP_DEFAULT_NEW_ALIGNMENT__, 0u)
        << size;
  }
}

// A value after an empty numeric list reads back unchanged wherever the
// list falls relative to the alignment.
TEST(StandardCodecSerializer, ValueAfterAnEmptyNumericListReadsBack) {
  const EncodableValue empties[] = {
      EncodableValue(std::vector<int32_t>{}), EncodableValue(std::vector<int64_t>{}),
      EncodableValue(std::vector<double>{}), EncodableValue(std::vector<float>{})};
  for (const EncodableValue& empty : empties) {
    for (size_t shift = 0; shift < 8; ++shift) {
      const EncodableValue value(EncodableValueList{EncodableValue(std::string(shift, 's')), empty,
                                                    EncodableValue(2.5),
                                                    EncodableValue(int32_t{-7})});
      tarnwick::CerrCapture err;
      EXPECT_TRUE(Equivalent(Decode(Encode(value)), value))
          << "index " << empty.index() << " shift " << shift;
      EXPECT_EQ(err.text(), "");
    }
  }
}

// Random trees over every alternative but custom, with empty and non-empty
// containers in every position.
class ValueGenerator {
 public:
  explicit ValueGenerator(uint64_t seed) : random_(seed) {}

  EncodableValue Next(int depth) {
    const int kinds = depth > 0 ? 13 : 11;
    switch (Pick(kinds)) {
      case 0: return EncodableValue();
      case 1: return EncodableValue(Pick(2) == 1);
      case 2: return EncodableValue(static_cast<int32_t>(random_()));
      case 3: return EncodableValue(static_cast<int64_t>(random_()));
      case 4: return EncodableValue(Double());
      case 5: return EncodableValue(String());
      case 6: return EncodableValue(Numbers<uint8_t>());
      case 7: return EncodableValue(Numbers<int32_t>());
      case 8: return EncodableValue(Numbers<int64_t>());
      case 9: return EncodableValue(Doubles<double>());
      case 10: return EncodableValue(Doubles<float>());
      case 11: {
        EncodableValueList list(ContainerLength());
        for (auto& element : list) element = Next(depth - 1);
        return EncodableValue(std::move(list));
      }
      default: {
        EncodableValueMap map;
        for (size_t n = ContainerLength(); n > 0; --n) map[Next(depth - 1)] = Next(depth - 1);
        return EncodableValue(std::move(map));
      }
    }
  }

 private:
  size_t Pick(size_t n) { return static_cast<size_t>(random_() % n); }

  // Mostly short, now and then across the one-byte size boundary; zero often.
  size_t Length() {
    switch (Pick(8)) {
      case 0:
      case 1: return 0;
      case 2: return 250 + Pick(10);
      default: return Pick(6);
    }
  }

  // Containers stay small so trees do; one in eight crosses the boundary.
  size_t ContainerLength() { return Pick(8) == 0 ? Length() : Pick(4); }

  double Double() {
    static const double kSpecial[] = {0.0,
                                      -0.0,
                                      1.0,
                                      std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::denorm_min()};
    if (Pick(4) == 0) return kSpecial[Pick(6)];
    const uint64_t bits = random_();
    double number;
    std::memcpy(&number, &bits, sizeof(number));
    return number;
  }

  std::string String() {
    std::string text(Length(), '\0');
    for (char& c : text) c = static_cast<char>(random_());
    return text;
  }

  template <typename T>
  std::vector<T> Numbers() {
    std::vector<T> values(Length());
    for (T& v : values) v = static_cast<T>(random_());
    return values;
  }

  template <typename T>
  std::vector<T> Doubles() {
    std::vector<T> values(Length());
    for (T& v : values) v = static_cast<T>(Double());
    return values;
  }

  std::mt19937_64 random_;
};

TEST(StandardCodecSerializer, RandomTreesRoundTrip) {
  const uint64_t seed = 0x7A11'5EED;
  std::cout << "value tree seed: " << seed << std::endl;
  ValueGenerator generator(seed);
  size_t total_bytes = 0;
  for (int i = 0; i < 1000; ++i) {
    const EncodableValue value = generator.Next(5);
    const std::vector<uint8_t> bytes = Encode(value);
    total_bytes += bytes.size();
    tarnwick::CerrCapture err;
    size_t end = 0;
    const EncodableValue decoded = Decode(bytes, &end);
    ASSERT_TRUE(Equivalent(decoded, value)) << "tree " << i << " seed " << seed;
    // Equivalence passes NaNs over; the bytes do not.
    ASSERT_EQ(Encode(decoded), bytes) << "tree " << i << " seed " << seed;
    ASSERT_EQ(end, bytes.size()) << "tree " << i;
    ASSERT_EQ(err.text(), "") << "tree " << i;
  }
  std::cout << "encoded " << total_bytes << " bytes" << std::endl;
}

// Streams that implement only the three basic operations: the serializer
// must produce and accept the same bytes through them.
class PlainWriter : public ByteStreamWriter {
 public:
  explicit PlainWriter(std::vector<uint8_t>* out) : out_(out) {}
  void WriteByte(uint8_t byte) override { out_->push_back(byte); }
  void WriteBytes(const uint8_t* source, size_t count) override {
    out_->insert(out_->end(), source, source + count);
  }
  void PadToAlignment(uint8_t alignment) override {
    while (out_->size() % alignment != 0) out_->push_back(0);
  }

 private:
  std::vector<uint8_t>* out_;
};

class PlainReader : public ByteStreamReader {
 public:
  explicit PlainReader(const std::vector<uint8_t>& bytes) : inner_(bytes.data(), bytes.size()) {}
  uint8_t ReadByte() override { return inner_.ReadByte(); }
  void ReadBytes(uint8_t* destination, size_t count) override {
    inner_.ReadBytes(destination, count);
  }
  void SkipToAlignment(uint8_t alignment) override { inner_.SkipToAlignment(alignment); }

 private:
  ByteBufferStreamReader inner_;
};

TEST(StandardCodecSerializer, WorksOverStreamsWithOnlyTheBasicOperations) {
  ValueGenerator generator(99);
  const auto& serializer = StandardCodecSerializer::GetInstance();
  // Also all of them one after another into one vector each, where
  // padding counts from the start of the vector.
  std::vector<uint8_t> all_plain;
  std::vector<uint8_t> all_buffered;
  PlainWriter all_plain_writer(&all_plain);
  ByteBufferStreamWriter all_buffered_writer(&all_buffered);
  for (int i = 0; i < 50; ++i) {
    const EncodableValue value = generator.Next(3);
    std::vector<uint8_t> bytes;
    PlainWriter writer(&bytes);
    serializer.WriteValue(value, &writer);
    ASSERT_EQ(bytes, Encode(value)) << i;
    PlainReader reader(bytes);
    ASSERT_TRUE(Equivalent(serializer.ReadValue(&reader), value)) << i;
    serializer.WriteValue(value, &all_plain_writer);
    serializer.WriteValue(value, &all_buffered_writer);
  }
  EXPECT_EQ(all_buffered, all_plain);
  // Such a reader is trusted with declared sizes: a short string is filled
  // with zeros, as before sizes were checked.
  tarnwick::CerrCapture err;
  const auto short_bytes = Bytes("07 03 61");
  PlainReader short_string(short_bytes);
  EXPECT_EQ(std::get<std::string>(serializer.ReadValue(&short_string)), std::string(3, '\0'));
  EXPECT_EQ(err.text(), kInvalidRead);
}

// A serializer extended with a type of its own sees every nested value
// through the virtual operations, in lists and maps alike.
TEST(StandardCodecSerializer, NestedValuesGoThroughTheVirtualOperations) {
  const tarnwick::PointSerializer serializer;
  const EncodableValue value(EncodableValueList{
      EncodableValue(CustomValue(Point{1, 2})),
      EncodableValue(
          EncodableValueMap{{EncodableValue("p"), EncodableValue(CustomValue(Point{-3, 4}))}})});
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  tarnwick::CerrCapture err;
  serializer.WriteValue(value, &writer);
  EXPECT_EQ(err.text(), "") << "no custom value fell through to the base";

  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  const EncodableValue decoded = serializer.ReadValue(&reader);
  const auto& list = std::get<EncodableValueList>(decoded);
  const Point* first = tarnwick::PointIn(list[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->y, 2);
  const auto& map = std::get<EncodableValueMap>(list[1]);
  const Point* second = tarnwick::PointIn(map.at(EncodableValue("p")));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->x, -3);
}

}  // namespace
}  // namespace flutter
