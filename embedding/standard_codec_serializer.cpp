#include "embedding/standard_codec_serializer.h"

#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

namespace {

using Type = StandardCodecType;

constexpr uint8_t TypeByte(Type type) { return static_cast<uint8_t>(type); }

// Appends to the writer's vector in line when it has one, so a value costs
// a capacity check and a copy rather than a virtual call per byte.
class Sink {
 public:
  explicit Sink(ByteStreamWriter* stream)
      : stream_(stream), buffer_(stream->AppendTarget()) {}

  void Byte(uint8_t byte) {
    if (buffer_ != nullptr) {
      buffer_->push_back(byte);
    } else {
      stream_->WriteByte(byte);
    }
  }

  void Bytes(const void* source, size_t count) {
    if (count == 0) return;
    const auto* first = static_cast<const uint8_t*>(source);
    if (buffer_ != nullptr) {
      buffer_->insert(buffer_->end(), first, first + count);
    } else {
      stream_->WriteBytes(first, count);
    }
  }

  template <typename T>
  void Number(T number) {
    Bytes(&number, sizeof(number));
  }

  void Pad(uint8_t alignment) {
    if (buffer_ == nullptr) {
      stream_->PadToAlignment(alignment);
      return;
    }
    const size_t remainder = buffer_->size() % alignment;
    if (remainder != 0) buffer_->resize(buffer_->size() + alignment - remainder);
  }

  void Size(size_t size) {
    if (size < 254) {
      Byte(static_cast<uint8_t>(size));
    } else if (size <= 0xFFFF) {
      Byte(254);
      Number(static_cast<uint16_t>(size));
    } else {
      // Only the low 32 bits fit; callers never encode anything that large.
      Byte(255);
      Number(static_cast<uint32_t>(size));
    }
  }

  // Numeric lists go as one block after one alignment step. Empty ones are
  // padded too, because the reader skips to the alignment whatever the
  // count; otherwise a value after an empty list would read shifted.
  template <typename T>
  void NumericList(Type type, const std::vector<T>& values) {
    Byte(TypeByte(type));
    Size(values.size());
    Pad(static_cast<uint8_t>(sizeof(T)));
    Bytes(values.data(), values.size() * sizeof(T));
  }

 private:
  ByteStreamWriter* stream_;
  std::vector<uint8_t>* buffer_;
};

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

bool SizeIsKnown(const ByteStreamReader* stream) {
  return stream->RemainingBytes() != ByteStreamReader::kRemainingUnknown;
}

// A count the rest of the input cannot hold is a failed read. Asking the
// reader for that many bytes in place fails by construction, which reports
// it in the reader's words and consumes nothing.
bool InputCanHold(ByteStreamReader* stream, size_t count, size_t min_bytes) {
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
// few bytes declaring 4 GiB allocate nothing.
template <typename T>
std::vector<T> ReadBlock(ByteStreamReader* stream, size_t count) {
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

std::string ReadString(ByteStreamReader* stream, size_t size) {
  if (!SizeIsKnown(stream)) {
    std::string text(size, '\0');
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&text[0]), size);
    return text;
  }
  const uint8_t* source = stream->ReadBytesInPlace(size);
  if (source == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(source), size);
}

template <typename T>
std::vector<T> ReadNumericList(ByteStreamReader* stream, size_t count) {
  stream->SkipToAlignment(static_cast<uint8_t>(sizeof(T)));
  return ReadBlock<T>(stream, count);
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
  Sink sink(stream);
  switch (value.index()) {
    case kNullIndex:
      sink.Byte(TypeByte(Type::kNull));
      return;
    case kBoolIndex:
      sink.Byte(TypeByte(std::get<bool>(value) ? Type::kTrue : Type::kFalse));
      return;
    case kInt32Index:
      sink.Byte(TypeByte(Type::kInt32));
      sink.Number(std::get<int32_t>(value));
      return;
    case kInt64Index:
      // Never narrowed to the 32-bit form, whatever the magnitude.
      sink.Byte(TypeByte(Type::kInt64));
      sink.Number(std::get<int64_t>(value));
      return;
    case kDoubleIndex:
      sink.Byte(TypeByte(Type::kFloat64));
      sink.Pad(8);
      sink.Number(std::get<double>(value));
      return;
    case kStringIndex: {
      const auto& text = std::get<std::string>(value);
      sink.Byte(TypeByte(Type::kString));
      sink.Size(text.size());
      sink.Bytes(text.data(), text.size());
      return;
    }
    case kUInt8ListIndex: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      sink.Byte(TypeByte(Type::kUInt8List));
      sink.Size(bytes.size());
      sink.Bytes(bytes.data(), bytes.size());
      return;
    }
    case kInt32ListIndex:
      sink.NumericList(Type::kInt32List, std::get<std::vector<int32_t>>(value));
      return;
    case kInt64ListIndex:
      sink.NumericList(Type::kInt64List, std::get<std::vector<int64_t>>(value));
      return;
    case kDoubleListIndex:
      sink.NumericList(Type::kFloat64List, std::get<std::vector<double>>(value));
      return;
    case kFloatListIndex:
      sink.NumericList(Type::kFloat32List, std::get<std::vector<float>>(value));
      return;
    case kListIndex: {
      const auto& list = std::get<EncodableValueList>(value);
      sink.Byte(TypeByte(Type::kList));
      sink.Size(list.size());
      for (const EncodableValue& element : list) WriteValue(element, stream);
      return;
    }
    case kMapIndex: {
      const auto& map = std::get<EncodableValueMap>(value);
      sink.Byte(TypeByte(Type::kMap));
      sink.Size(map.size());
      for (const auto& entry : map) {
        WriteValue(entry.first, stream);
        WriteValue(entry.second, stream);
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

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  switch (static_cast<Type>(type)) {
    case Type::kNull:
      return EncodableValue();
    case Type::kTrue:
      return EncodableValue(true);
    case Type::kFalse:
      return EncodableValue(false);
    case Type::kInt32: {
      int32_t number = 0;
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
      return EncodableValue(number);
    }
    case Type::kInt64: {
      int64_t number = 0;
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
      return EncodableValue(number);
    }
    case Type::kFloat64: {
      stream->SkipToAlignment(8);
      double number = 0;
      stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
      return EncodableValue(number);
    }
    case Type::kLargeInt:
    case Type::kString:
      return EncodableValue(ReadString(stream, ReadSize(stream)));
    case Type::kUInt8List:
      return EncodableValue(ReadBlock<uint8_t>(stream, ReadSize(stream)));
    case Type::kInt32List:
      return EncodableValue(ReadNumericList<int32_t>(stream, ReadSize(stream)));
    case Type::kInt64List:
      return EncodableValue(ReadNumericList<int64_t>(stream, ReadSize(stream)));
    case Type::kFloat64List:
      return EncodableValue(ReadNumericList<double>(stream, ReadSize(stream)));
    case Type::kFloat32List:
      return EncodableValue(ReadNumericList<float>(stream, ReadSize(stream)));
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
  const size_t count = ReadSize(stream);
  if (static_cast<Type>(type) == Type::kList) {
    EncodableValueList list;
    if (!InputCanHold(stream, count, kMinEncodedValueBytes)) return list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t element_type = stream->ReadByte();
      list.push_back(ReadValueOfType(element_type, stream));
    }
    return EncodableValue(std::move(list));
  }

  EncodableValueMap map;
  if (!InputCanHold(stream, count, kMinEncodedMapEntryBytes)) return map;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t key_type = stream->ReadByte();
    EncodableValue key = ReadValueOfType(key_type, stream);
    const uint8_t value_type = stream->ReadByte();
    EncodableValue value = ReadValueOfType(value_type, stream);
    // Encoded maps arrive in key order, so the end is the usual place. A
    // repeated key keeps its first value.
    map.try_emplace(map.end(), std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
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

void StandardCodecSerializer::WriteSize(size_t size,
                                        ByteStreamWriter* stream) const {
  Sink(stream).Size(size);
}

}  // namespace flutter
