#include "embedding/byte_streams.h"

#include <iostream>

namespace flutter {

ByteStreamReader::~ByteStreamReader() = default;

size_t ByteStreamReader::RemainingBytes() const { return kRemainingUnknown; }

const uint8_t* ByteStreamReader::ReadBytesInPlace(size_t) { return nullptr; }

ByteStreamWriter::~ByteStreamWriter() = default;

std::vector<uint8_t>* ByteStreamWriter::AppendTarget() { return nullptr; }

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

const uint8_t ByteBufferStreamReader::kNothing = 0;

void ByteBufferStreamReader::ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

void ByteBufferStreamWriter::WriteByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::WriteBytes(const uint8_t* source, size_t count) {
  if (count != 0) buffer_->insert(buffer_->end(), source, source + count);
}

void ByteBufferStreamWriter::PadToAlignment(uint8_t alignment) {
  const size_t remainder = buffer_->size() % alignment;
  if (remainder == 0) return;
  for (size_t i = remainder; i < alignment; ++i) WriteByte(0);
}

std::vector<uint8_t>* ByteBufferStreamWriter::AppendTarget() { return buffer_; }

}  // namespace flutter
