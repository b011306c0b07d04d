#include "embedding/byte_streams.h"

#include <iostream>

namespace flutter {

namespace {

void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

}  // namespace

ByteStreamReader::~ByteStreamReader() = default;

size_t ByteStreamReader::RemainingBytes() const { return kRemainingUnknown; }

const uint8_t* ByteStreamReader::ReadBytesInPlace(size_t) { return nullptr; }

ByteStreamWriter::~ByteStreamWriter() = default;

std::vector<uint8_t>* ByteStreamWriter::AppendTarget() { return nullptr; }

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

bool ByteBufferStreamReader::CanRead(size_t count) const {
  // Written so that neither a huge count nor a position skipped past the
  // end can wrap around.
  if (location_ <= size_ && count <= size_ - location_) return true;
  ReportInvalidRead();
  return false;
}

uint8_t ByteBufferStreamReader::ReadByte() {
  if (!CanRead(1)) return 0;
  return bytes_[location_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* destination, size_t count) {
  if (!CanRead(count)) return;
  if (count != 0) std::memcpy(destination, bytes_ + location_, count);
  location_ += count;
}

void ByteBufferStreamReader::SkipToAlignment(uint8_t alignment) {
  // Not checked against the size: the next read past the end fails.
  const size_t remainder = location_ % alignment;
  if (remainder != 0) location_ += alignment - remainder;
}

size_t ByteBufferStreamReader::RemainingBytes() const {
  return location_ < size_ ? size_ - location_ : 0;
}

const uint8_t* ByteBufferStreamReader::ReadBytesInPlace(size_t count) {
  if (!CanRead(count)) return nullptr;
  // An empty message may have no address at all; success must not look
  // like failure.
  static const uint8_t kNothing = 0;
  const uint8_t* start = bytes_ != nullptr ? bytes_ + location_ : &kNothing;
  location_ += count;
  return start;
}

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

void ByteBufferStreamWriter::WriteByte(uint8_t byte) {
  buffer_->push_back(byte);
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* source, size_t count) {
  if (count != 0) buffer_->insert(buffer_->end(), source, source + count);
}

void ByteBufferStreamWriter::PadToAlignment(uint8_t alignment) {
  const size_t remainder = buffer_->size() % alignment;
  if (remainder == 0) return;
  for (size_t i = remainder; i < alignment; ++i) WriteByte(0);
}

std::vector<uint8_t>* ByteBufferStreamWriter::AppendTarget() {
  return buffer_;
}

}  // namespace flutter
