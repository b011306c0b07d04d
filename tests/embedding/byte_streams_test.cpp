#include "embedding/byte_streams.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/embedding/cerr_capture.h"

namespace flutter {
namespace {

const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";

std::string Repeat(const std::string& line, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += line;
  return all;
}

TEST(ByteBufferStreamReader, ReadsInOrderAndFailsPastTheEndWithoutMoving) {
  const uint8_t bytes[] = {0x10, 0x20, 0x30};
  ByteBufferStreamReader reader(bytes, sizeof(bytes));
  tarnwick::CerrCapture err;

  EXPECT_EQ(reader.ReadByte(), 0x10);
  uint8_t two[2] = {0xAA, 0xAA};
  reader.ReadBytes(two, 2);
  EXPECT_EQ(two[0], 0x20);
  EXPECT_EQ(two[1], 0x30);
  EXPECT_EQ(reader.location(), 3u);
  EXPECT_EQ(err.text(), "");

  EXPECT_EQ(reader.ReadByte(), 0);
  EXPECT_EQ(reader.location(), 3u);
  uint8_t one = 0x5A;
  reader.ReadBytes(&one, 1);
  EXPECT_EQ(one, 0x5A) << "a failed read copies nothing";
  EXPECT_EQ(reader.location(), 3u);
  EXPECT_EQ(err.text(), Repeat(kInvalidRead, 2));
  EXPECT_TRUE(err.each_line_flushed());
}

TEST(ByteBufferStreamReader, PartialReadCopiesNothing) {
  const uint8_t bytes[] = {1, 2, 3};
  ByteBufferStreamReader reader(bytes, sizeof(bytes));
  reader.ReadByte();
  tarnwick::CerrCapture err;
  uint8_t destination[4] = {9, 9, 9, 9};
  reader.ReadBytes(destination, 4);
  EXPECT_EQ(std::vector<uint8_t>(destination, destination + 4), (std::vector<uint8_t>{9, 9, 9, 9}));
  EXPECT_EQ(reader.location(), 1u);
  // A count so large that location + count would wrap must still fail.
  const size_t wrapping = std::numeric_limits<size_t>::max() - reader.location() + 1;
  reader.ReadBytes(destination, wrapping);
  EXPECT_EQ(reader.location(), 1u);
  EXPECT_EQ(err.text(), Repeat(kInvalidRead, 2));
}

TEST(ByteBufferStreamReader, SkipsToAlignmentFromTheStartOfTheMessage) {
  struct Case {
    size_t start;
    uint8_t alignment;
    size_t expected;
  };
  const Case cases[] = {
      {0, 8, 0}, {1, 8, 8}, {7, 8, 8}, {8, 8, 8}, {9, 4, 12}, {12, 4, 12}, {3, 4, 4},
  };
  const std::vector<uint8_t> bytes(16);
  for (const Case& c : cases) {
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    std::vector<uint8_t> sink(c.start);
    reader.ReadBytes(sink.data(), c.start);
    reader.SkipToAlignment(c.alignment);
    EXPECT_EQ(reader.location(), c.expected) << c.start << " aligned to " << int{c.alignment};
  }
}

TEST(ByteBufferStreamReader, ZeroLengthReadPastTheEndIsReported) {
  const uint8_t bytes[] = {0xFF};
  ByteBufferStreamReader reader(bytes, sizeof(bytes));
  reader.ReadByte();
  reader.SkipToAlignment(8);  // now beyond the end; not checked here
  EXPECT_EQ(reader.location(), 8u);
  EXPECT_EQ(reader.RemainingBytes(), 0u);
  tarnwick::CerrCapture err;
  reader.ReadBytes(nullptr, 0);
  EXPECT_EQ(reader.ReadBytesInPlace(0), nullptr);
  EXPECT_EQ(err.text(), Repeat(kInvalidRead, 2));
}

TEST(ByteBufferStreamReader, LendsBytesInPlace) {
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  ByteBufferStreamReader reader(bytes, sizeof(bytes));
  EXPECT_EQ(reader.RemainingBytes(), 5u);
  EXPECT_EQ(reader.ReadBytesInPlace(2), bytes);
  EXPECT_EQ(reader.RemainingBytes(), 3u);
  EXPECT_EQ(reader.ReadBytesInPlace(0), bytes + 2);

  tarnwick::CerrCapture err;
  EXPECT_EQ(reader.ReadBytesInPlace(4), nullptr);
  EXPECT_EQ(reader.location(), 2u);
  EXPECT_EQ(err.text(), kInvalidRead);

  // Success is never null, even over a message with no address at all.
  ByteBufferStreamReader empty(nullptr, 0);
  EXPECT_NE(empty.ReadBytesInPlace(0), nullptr);
  EXPECT_EQ(err.text(), kInvalidRead);
}

TEST(ByteBufferStreamWriter, AppendsAndPadsFromTheStartOfTheVector) {
  std::vector<uint8_t> out = {0xEE};  // earlier content counts for padding
  ByteBufferStreamWriter writer(&out);
  writer.WriteByte(0x01);
  const uint8_t more[] = {0x02, 0x03};
  writer.WriteBytes(more, sizeof(more));
  writer.WriteBytes(nullptr, 0);
  writer.PadToAlignment(8);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xEE, 1, 2, 3, 0, 0, 0, 0}));
  writer.PadToAlignment(4);
  EXPECT_EQ(out.size(), 8u) << "already aligned: nothing added";
  writer.WriteByte(0x09);
  writer.PadToAlignment(4);
  EXPECT_EQ(out.size(), 12u);
  EXPECT_EQ(writer.AppendTarget(), &out);
}

}  // namespace
}  // namespace flutter
