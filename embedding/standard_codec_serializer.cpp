#include "embedding/standard_codec_serializer.h"

#include <cstring>
#include <iostream>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

namespace flutter {

namespace {

using Type = StandardCodecType;

constexpr uint8_t TypeByte(Type type) { return static_cast<uint8_t>(type); }

// Output through a writer's own three operations, for writers that do not
// append to a vector.
class StreamSink {
 public:
  explicit StreamSink(ByteStreamWriter* stream) : stream_(stream) {}
  void Byte(uint8_t byte) { stream_->WriteByte(byte); }
  void Bytes(const void* source, size_t count) {
    if (count != 0) stream_->WriteBytes(static_cast<const uint8_t*>(source), count);
  }
  void Pad(uint8_t alignment) { stream_->PadToAlignment(alignment); }

 private:
  ByteStreamWriter* stream_;
};

// Output into a vector through a small buffer of its own: a capacity check
// and a copy per value instead of a container call per byte, with one
// append to the vector per kStageBytes. It is itself the writer that nested
// values are written to, through the virtual WriteValue, so a derived
// serializer sees every nested value and finds the bytes before it in
// place (for alignment) through the writer operations.
class StagingWriter final : public ByteStreamWriter {
 public:
  explicit StagingWriter(std::vector<uint8_t>* target) : target_(target) {}
  StagingWriter(const StagingWriter&) = delete;
  StagingWriter& operator=(const StagingWriter&) = delete;

  void WriteByte(uint8_t byte) override { Byte(byte); }
  void WriteBytes(const uint8_t* source, size_t count) override {
    Bytes(source, count);
  }
  void PadToAlignment(uint8_t alignment) override { Pad(alignment); }

  void Byte(uint8_t byte) {
    if (used_ == kStageBytes) Flush();
    stage_[used_++] = byte;
  }

  void Bytes(const void* source, size_t count) {
    if (count <= kStageBytes - used_) {
      // An empty vector or string may have no storage at all.
      if (count != 0) std::memcpy(stage_ + used_, source, count);
      used_ += count;
      return;
    }
    BytesPastTheStage(static_cast<const uint8_t*>(source), count);
  }

  void Pad(uint8_t alignment) {
    const size_t remainder = (target_->size() + used_) % alignment;
    if (remainder == 0) return;
    for (size_t i = remainder; i < alignment; ++i) Byte(0);
  }

  // Kept out of line so the common path above inlines into its callers.
  void BytesPastTheStage(const uint8_t* source, size_t count) {
    if (count >= kStageBytes) {
      // One growth of the vector for the staged bytes and the block.
      target_->reserve(target_->size() + used_ + count);
      Flush();
      target_->insert(target_->end(), source, source + count);
    } else {
      Flush();
      std::memcpy(stage_, source, count);
      used_ = count;
    }
  }

  // Moves what is staged into the vector; the value is complete there
  // only after this.
  void Flush() {
    target_->insert(target_->end(), stage_, stage_ + used_);
    used_ = 0;
  }

 private:
  static constexpr size_t kStageBytes = 1024;

  std::vector<uint8_t>* target_;
  size_t used_ = 0;
  uint8_t stage_[kStageBytes];
};

// Whether serializer is exactly StandardCodecSerializer, so that no derived
// class can have overridden its virtual operations.
bool IsExactlyStandard(const StandardCodecSerializer& serializer) {
  return typeid(serializer) == typeid(StandardCodecSerializer);
}

template <typename Sink>
void WriteSizeTo(Sink& sink, size_t size) {
  if (size < 254) {
    sink.Byte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    const auto size16 = static_cast<uint16_t>(size);
    sink.Byte(254);
    sink.Bytes(&size16, sizeof(size16));
  } else {
    // Only the low 32 bits fit; callers never encode anything that large.
    const auto size32 = static_cast<uint32_t>(size);
    sink.Byte(255);
    sink.Bytes(&size32, sizeof(size32));
  }
}

template <typename Sink, typename T>
void WriteNumber(Sink& sink, T number) {
  sink.Bytes(&number, sizeof(number));
}

// Numeric lists go as one block after one alignment step. Empty ones are
// padded too, because the reader skips to the alignment whatever the count;
// otherwise a value after an empty list would read shifted.
template <typename Sink, typename T>
void WriteNumericList(Sink& sink, Type type, const std::vector<T>& values) {
  sink.Byte(TypeByte(type));
  WriteSizeTo(sink, values.size());
  sink.Pad(static_cast<uint8_t>(sizeof(T)));
  sink.Bytes(values.data(), values.size() * sizeof(T));
}

// One value into sink. Nested values go through the serializer's virtual
// WriteValue with nested_stream, which writes into the same sink; kDirect
// skips that dispatch when the serializer is known to be exactly
// StandardCodecSerializer, where it could only land back here.
template <bool kDirect, typename Sink>
void WriteValueTo(const StandardCodecSerializer& serializer,
                  const EncodableValue& value, Sink& sink,
                  ByteStreamWriter* nested_stream) {
  const auto write_nested = [&](const EncodableValue& nested) {
    if constexpr (kDirect) {
      WriteValueTo<kDirect>(serializer, nested, sink, nested_stream);
    } else {
      serializer.WriteValue(nested, nested_stream);
    }
  };
  switch (value.index()) {
    case kNullIndex:
      sink.Byte(TypeByte(Type::kNull));
      return;
    case kBoolIndex:
      sink.Byte(TypeByte(std::get<bool>(value) ? Type::kTrue : Type::kFalse));
      return;
    case kInt32Index:
      sink.Byte(TypeByte(Type::kInt32));
      WriteNumber(sink, std::get<int32_t>(value));
      return;
    case kInt64Index:
      // Never narrowed to the 32-bit form, whatever the magnitude.
      sink.Byte(TypeByte(Type::kInt64));
      WriteNumber(sink, std::get<int64_t>(value));
      return;
    case kDoubleIndex:
      sink.Byte(TypeByte(Type::kFloat64));
      sink.Pad(8);
      WriteNumber(sink, std::get<double>(value));
      return;
    case kStringIndex: {
      const auto& text = std::get<std::string>(value);
      sink.Byte(TypeByte(Type::kString));
      WriteSizeTo(sink, text.size());
      sink.Bytes(text.data(), text.size());
      return;
    }
    case kUInt8ListIndex: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      sink.Byte(TypeByte(Type::kUInt8List));
      WriteSizeTo(sink, bytes.size());
      sink.Bytes(bytes.data(), bytes.size());
      return;
    }
    case kInt32ListIndex:
      WriteNumericList(sink, Type::kInt32List, std::get<std::vector<int32_t>>(value));
      return;
    case kInt64ListIndex:
      WriteNumericList(sink, Type::kInt64List, std::get<std::vector<int64_t>>(value));
      return;
    case kDoubleListIndex:
      WriteNumericList(sink, Type::kFloat64List, std::get<std::vector<double>>(value));
      return;
    case kFloatListIndex:
      WriteNumericList(sink, Type::kFloat32List, std::get<std::vector<float>>(value));
      return;
    case kListIndex: {
      const auto& list = std::get<EncodableValueList>(value);
      sink.Byte(TypeByte(Type::kList));
      WriteSizeTo(sink, list.size());
      for (const EncodableValue& element : list) write_nested(element);
      return;
    }
    case kMapIndex: {
      const auto& map = std::get<EncodableValueMap>(value);
      sink.Byte(TypeByte(Type::kMap));
      WriteSizeTo(sink, map.size());
      for (const auto& entry : map) {
        write_nested(entry.first);
        write_nested(entry.second);
      }
      return;
    }
    case kCustomIndex:
    default:
      // Arrives as null on the other side; encoding goes on.
      sink.Byte(TypeByte(Type::kNull));
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                << "Custom types require codec extensions." << std::endl;
      return;
  }
}

// A whole value into a vector through one staging writer, kept out of line
// so its buffer is not part of every nested call's frame.
void WriteStaged(const StandardCodecSerializer& serializer,
                 const EncodableValue& value, std::vector<uint8_t>* target) {
  StagingWriter staging(target);
  if (IsExactlyStandard(serializer)) {
    WriteValueTo<true>(serializer, value, staging, &staging);
  } else {
    WriteValueTo<false>(serializer, value, staging, &staging);
  }
  staging.Flush();
}

// How deep the lists and maps being read on this thread are nested. A
// thread-local because the serializer is stateless and shared, and the
// virtual read operations carry no depth of their own.
thread_local size_t t_nesting_depth = 0;

class NestingScope {
 public:
  NestingScope() { ++t_nesting_depth; }
  ~NestingScope() { --t_nesting_depth; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
};

// count elements of size bytes each, saturated so an absurd count cannot
// wrap into a small one.
size_t BlockSize(size_t count, size_t size) {
  return count <= ByteStreamReader::kRemainingUnknown / size
             ? count * size
             : ByteStreamReader::kRemainingUnknown;
}

// The read side is written once over the stream type: over
// ByteBufferStreamReader (final, defined in its header) every read is a
// direct inline call; over any other reader each goes through its virtual
// operations.
template <typename Stream>
bool SizeIsKnown(const Stream* stream) {
  return stream->RemainingBytes() != ByteStreamReader::kRemainingUnknown;
}

// A count the rest of the input cannot hold is a failed read. Asking the
// reader for that many bytes in place fails by construction, which reports
// it in the reader's words and consumes nothing.
template <typename Stream>
bool InputCanHold(Stream* stream, size_t count, size_t min_bytes) {
  const size_t needed = BlockSize(count, min_bytes);
  if (needed <= stream->RemainingBytes()) return true;
  stream->ReadBytesInPlace(needed);
  return false;
}

template <typename T>
std::vector<T> VectorFromBytes(const uint8_t* source, size_t count) {
  if (reinterpret_cast<uintptr_t>(source) % alignof(T) == 0) {
    // Built straight from the input, one copy, no zero-fill first. Padding
    // counts from the start of the message, so this is the usual case.
    const T* first = reinterpret_cast<const T*>(source);
    return std::vector<T>(first, first + count);
  }
  std::vector<T> values(count);
  if (count != 0) std::memcpy(values.data(), source, count * sizeof(T));
  return values;
}

// The payload of a string or list whose count has been read. A count the
// input cannot hold gives an empty payload (one failed read reported), so a
// few bytes declaring 4 GiB allocate nothing. Readers that cannot tell
// what is left are trusted with the count.
template <typename T, typename Stream>
std::vector<T> ReadBlock(Stream* stream, size_t count) {
  const size_t size = BlockSize(count, sizeof(T));
  if (!SizeIsKnown(stream)) {
    std::vector<T> values(count);
    stream->ReadBytes(reinterpret_cast<uint8_t*>(values.data()), size);
    return values;
  }
  const uint8_t* source = stream->ReadBytesInPlace(size);
  if (source == nullptr) return {};
  return VectorFromBytes<T>(source, count);
}

template <typename Stream>
std::string ReadString(Stream* stream, size_t size) {
  if (!SizeIsKnown(stream)) {
    std::string text(size, '\0');
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&text[0]), size);
    return text;
  }
  const uint8_t* source = stream->ReadBytesInPlace(size);
  if (source == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(source), size);
}

template <typename T, typename Stream>
std::vector<T> ReadNumericList(Stream* stream, size_t count) {
  stream->SkipToAlignment(static_cast<uint8_t>(sizeof(T)));
  return ReadBlock<T>(stream, count);
}

template <typename Stream>
size_t ReadSizeFrom(Stream* stream) {
  const uint8_t first = stream->ReadByte();
  if (first < 254) return first;
  if (first == 254) {
    uint16_t size = 0;
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
    return size;
  }
  uint32_t size = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
  return size;
}

template <typename T, typename Stream>
T ReadNumber(Stream* stream) {
  T number = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
  return number;
}

// The payload of one value whose type byte is consumed. Nested values go
// through the serializer's virtual ReadValueOfType; kDirect skips that
// dispatch when the serializer is exactly StandardCodecSerializer.
template <bool kDirect, typename Stream>
EncodableValue ReadPayload(const StandardCodecSerializer& serializer,
                           uint8_t type, Stream* stream) {
  const auto read_nested = [&]() {
    const uint8_t nested_type = stream->ReadByte();
    if constexpr (kDirect) {
      return ReadPayload<kDirect>(serializer, nested_type, stream);
    } else {
      return serializer.ReadValueOfType(nested_type, stream);
    }
  };
  switch (static_cast<Type>(type)) {
    case Type::kNull:
      return EncodableValue();
    case Type::kTrue:
      return EncodableValue(true);
    case Type::kFalse:
      return EncodableValue(false);
    case Type::kInt32:
      return EncodableValue(ReadNumber<int32_t>(stream));
    case Type::kInt64:
      return EncodableValue(ReadNumber<int64_t>(stream));
    case Type::kFloat64:
      stream->SkipToAlignment(8);
      return EncodableValue(ReadNumber<double>(stream));
    case Type::kLargeInt:
    case Type::kString:
      return EncodableValue(ReadString(stream, ReadSizeFrom(stream)));
    case Type::kUInt8List:
      return EncodableValue(ReadBlock<uint8_t>(stream, ReadSizeFrom(stream)));
    case Type::kInt32List:
      return EncodableValue(ReadNumericList<int32_t>(stream, ReadSizeFrom(stream)));
    case Type::kInt64List:
      return EncodableValue(ReadNumericList<int64_t>(stream, ReadSizeFrom(stream)));
    case Type::kFloat64List:
      return EncodableValue(ReadNumericList<double>(stream, ReadSizeFrom(stream)));
    case Type::kFloat32List:
      return EncodableValue(ReadNumericList<float>(stream, ReadSizeFrom(stream)));
    case Type::kList:
    case Type::kMap:
      break;
    default:
      // Nothing consumed: the next read starts right after the type byte.
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<unsigned>(type) << std::endl;
      return EncodableValue();
  }

  if (t_nesting_depth >= kMaxNestingDepth) {
    std::cerr << kNestingTooDeepMessage << std::endl;
    return EncodableValue();
  }
  NestingScope scope;
  const size_t count = ReadSizeFrom(stream);
  if (static_cast<Type>(type) == Type::kList) {
    EncodableValueList list;
    if (!InputCanHold(stream, count, kMinEncodedValueBytes)) return list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) list.push_back(read_nested());
    return EncodableValue(std::move(list));
  }

  EncodableValueMap map;
  if (!InputCanHold(stream, count, kMinEncodedMapEntryBytes)) return map;
  for (size_t i = 0; i < count; ++i) {
    EncodableValue key = read_nested();
    EncodableValue value = read_nested();
    // Encoded maps arrive in key order, so the end is the usual place. A
    // repeated key keeps its first value.
    map.try_emplace(map.end(), std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(
    ByteStreamReader* stream) const {
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  // A nested value from a derived serializer: its parent's staging writer
  // is already in place.
  if (typeid(*stream) == typeid(StagingWriter)) {
    auto* staging = static_cast<StagingWriter*>(stream);
    WriteValueTo<false>(*this, value, *staging, staging);
    return;
  }
  if (std::vector<uint8_t>* target = stream->AppendTarget()) {
    WriteStaged(*this, value, target);
    return;
  }
  StreamSink sink(stream);
  if (IsExactlyStandard(*this)) {
    WriteValueTo<true>(*this, value, sink, stream);
  } else {
    WriteValueTo<false>(*this, value, sink, stream);
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  const bool direct = IsExactlyStandard(*this);
  if (typeid(*stream) == typeid(ByteBufferStreamReader)) {
    auto* buffer = static_cast<ByteBufferStreamReader*>(stream);
    return direct ? ReadPayload<true>(*this, type, buffer)
                  : ReadPayload<false>(*this, type, buffer);
  }
  return direct ? ReadPayload<true>(*this, type, stream)
                : ReadPayload<false>(*this, type, stream);
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  return ReadSizeFrom(stream);
}

void StandardCodecSerializer::WriteSize(size_t size,
                                        ByteStreamWriter* stream) const {
  StreamSink sink(stream);
  WriteSizeTo(sink, size);
}

}  // namespace flutter
