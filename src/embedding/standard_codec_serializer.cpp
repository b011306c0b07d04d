#include "embedding/standard_codec_serializer.h"

#include <algorithm>
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
  // A type byte and a fixed-size payload.
  void Tagged(uint8_t type, const void* payload, size_t count) {
    Byte(type);
    Bytes(payload, count);
  }

 private:
  ByteStreamWriter* stream_;
};

// Output straight into a vector. The vector is kept grown ahead of the
// write position (value-initialised slack, doubling), so a write is a
// capacity check and a copy into place; the slack is cut off when the
// writer goes away, also when a derived serializer throws, so the vector
// then holds exactly what was written. A large block is appended to the
// trimmed vector instead, so its bytes are copied once and never zero-filled
// first. It is itself the writer that nested values are written to, through
// the virtual WriteValue, so a derived serializer sees every nested value
// and finds the bytes before it in place (for alignment) through the writer
// operations.
class VectorWriter final : public ByteStreamWriter {
 public:
  explicit VectorWriter(std::vector<uint8_t>* target) : target_(target), begin_(target->data()) {
    next_ = end_ = begin_ + target->size();
  }
  VectorWriter(const VectorWriter&) = delete;
  VectorWriter& operator=(const VectorWriter&) = delete;
  // Shrinking never allocates, so this cannot throw.
  ~VectorWriter() override { target_->resize(Used()); }

  void WriteByte(uint8_t byte) override { Byte(byte); }
  void WriteBytes(const uint8_t* source, size_t count) override { Bytes(source, count); }
  void PadToAlignment(uint8_t alignment) override { Pad(alignment); }

  void Byte(uint8_t byte) { *Claim(1) = byte; }

  void Bytes(const void* source, size_t count) {
    // An empty vector or string may have no storage at all.
    if (count == 0) return;
    if (count > Room() && count >= kBlockBytes) {
      AppendBlock(static_cast<const uint8_t*>(source), count);
      return;
    }
    std::memcpy(Claim(count), source, count);
  }

  void Pad(uint8_t alignment) {
    const size_t remainder = Used() % alignment;
    if (remainder == 0) return;
    const size_t count = alignment - remainder;
    std::memset(Claim(count), 0, count);
  }

  void Tagged(uint8_t type, const void* payload, size_t count) {
    uint8_t* at = Claim(1 + count);
    at[0] = type;
    std::memcpy(at + 1, payload, count);
  }

  // Bytes written so far, counted from the start of the vector.
  size_t Used() const { return static_cast<size_t>(next_ - begin_); }

  // count writable bytes at the write position, which moves past them.
  uint8_t* Claim(size_t count) {
    if (count > Room()) Grow(count);
    uint8_t* at = next_;
    next_ += count;
    return at;
  }

 private:
  // Blocks at least this large skip the slack.
  static constexpr size_t kBlockBytes = 256;
  // The least the vector grows by, so small messages grow it once.
  static constexpr size_t kMinimumGrowth = 64;

  size_t Room() const { return static_cast<size_t>(end_ - next_); }

  // Doubling keeps the zero-filled slack, and the copies on reallocation,
  // in proportion to the output.
  void Grow(size_t count) {
    const size_t used = Used();
    target_->resize(std::max({used + count, 2 * used, kMinimumGrowth}));
    Rebase(used);
  }

  void AppendBlock(const uint8_t* source, size_t count) {
    const size_t used = Used();
    target_->resize(used);
    target_->insert(target_->end(), source, source + count);
    Rebase(used + count);
  }

  void Rebase(size_t used) {
    begin_ = target_->data();
    next_ = begin_ + used;
    end_ = begin_ + target_->size();
  }

  std::vector<uint8_t>* target_;
  uint8_t* begin_;
  uint8_t* next_;
  uint8_t* end_;
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

// A type byte then a size or count. Through a writer's own operations the
// calls stay what they always were; into a vector it is one claim.
template <typename Sink>
void WriteHeader(Sink& sink, Type type, size_t size) {
  sink.Byte(TypeByte(type));
  WriteSizeTo(sink, size);
}

void WriteHeader(VectorWriter& sink, Type type, size_t size) {
  if (size < 254) {
    const uint8_t header[] = {TypeByte(type), static_cast<uint8_t>(size)};
    std::memcpy(sink.Claim(sizeof(header)), header, sizeof(header));
    return;
  }
  sink.Byte(TypeByte(type));
  WriteSizeTo(sink, size);
}

// A type byte, a size and that many bytes.
template <typename Sink>
void WriteSized(Sink& sink, Type type, const void* bytes, size_t size) {
  WriteHeader(sink, type, size);
  sink.Bytes(bytes, size);
}

void WriteSized(VectorWriter& sink, Type type, const void* bytes, size_t size) {
  if (size < 254) {
    // Short strings are the common case: one claim for all of it.
    uint8_t* at = sink.Claim(2 + size);
    at[0] = TypeByte(type);
    at[1] = static_cast<uint8_t>(size);
    if (size != 0) std::memcpy(at + 2, bytes, size);
    return;
  }
  WriteHeader(sink, type, size);
  sink.Bytes(bytes, size);
}

// A type byte then a number aligned to its own size.
template <typename Sink, typename T>
void WriteAligned(Sink& sink, Type type, T number) {
  sink.Byte(TypeByte(type));
  sink.Pad(sizeof(T));
  sink.Bytes(&number, sizeof(number));
}

void WriteAligned(VectorWriter& sink, Type type, double number) {
  const size_t padding = (0 - (sink.Used() + 1)) % sizeof(number);
  uint8_t* at = sink.Claim(1 + padding + sizeof(number));
  at[0] = TypeByte(type);
  // At least as many bytes as a zero double follow the type byte, so the
  // padding is cleared with one fixed-size store before the number lands.
  const double zero = 0;
  std::memcpy(at + 1, &zero, sizeof(zero));
  std::memcpy(at + 1 + padding, &number, sizeof(number));
}

template <typename Sink, typename T>
void WriteNumber(Sink& sink, Type type, T number) {
  sink.Tagged(TypeByte(type), &number, sizeof(number));
}

// Numeric lists go as one block after one alignment step. Empty ones are
// padded too, because the reader skips to the alignment whatever the count;
// otherwise a value after an empty list would read shifted.
template <typename Sink, typename T>
void WriteNumericList(Sink& sink, Type type, const std::vector<T>& values) {
  WriteHeader(sink, type, values.size());
  sink.Pad(static_cast<uint8_t>(sizeof(T)));
  sink.Bytes(values.data(), values.size() * sizeof(T));
}

void ReportCustomValue() {
  std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
            << "Custom types require codec extensions." << std::endl;
}

// One value into sink unless it is a list or a map; whether it was. Inlined
// into list and map loops too, so plain elements cost no call.
template <typename Sink>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline bool
WriteLeaf(const EncodableValue& value, Sink& sink) {
  switch (value.index()) {
    case kNullIndex: sink.Byte(TypeByte(Type::kNull)); return true;
    case kBoolIndex:
      sink.Byte(TypeByte(std::get<bool>(value) ? Type::kTrue : Type::kFalse));
      return true;
    case kInt32Index: WriteNumber(sink, Type::kInt32, std::get<int32_t>(value)); return true;
    case kInt64Index:
      // Never narrowed to the 32-bit form, whatever the magnitude.
      WriteNumber(sink, Type::kInt64, std::get<int64_t>(value));
      return true;
    case kDoubleIndex: WriteAligned(sink, Type::kFloat64, std::get<double>(value)); return true;
    case kStringIndex: {
      const auto& text = std::get<std::string>(value);
      WriteSized(sink, Type::kString, text.data(), text.size());
      return true;
    }
    case kUInt8ListIndex: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      WriteSized(sink, Type::kUInt8List, bytes.data(), bytes.size());
      return true;
    }
    case kInt32ListIndex:
      WriteNumericList(sink, Type::kInt32List, std::get<std::vector<int32_t>>(value));
      return true;
    case kInt64ListIndex:
      WriteNumericList(sink, Type::kInt64List, std::get<std::vector<int64_t>>(value));
      return true;
    case kDoubleListIndex:
      WriteNumericList(sink, Type::kFloat64List, std::get<std::vector<double>>(value));
      return true;
    case kFloatListIndex:
      WriteNumericList(sink, Type::kFloat32List, std::get<std::vector<float>>(value));
      return true;
    case kListIndex:
    case kMapIndex: return false;
    case kCustomIndex:
    default:
      // Arrives as null on the other side; encoding goes on.
      sink.Byte(TypeByte(Type::kNull));
      ReportCustomValue();
      return true;
  }
}

// One value into sink. Nested values go through the serializer's virtual
// WriteValue with nested_stream, which writes into the same sink; kDirect
// skips that dispatch when the serializer is known to be exactly
// StandardCodecSerializer, where it could only land back here.
template <bool kDirect, typename Sink>
void WriteValueTo(const StandardCodecSerializer& serializer, const EncodableValue& value,
                  Sink& sink, ByteStreamWriter* nested_stream) {
  const auto write_nested = [&](const EncodableValue& nested) {
    if constexpr (kDirect) {
      if (!WriteLeaf(nested, sink)) {
        WriteValueTo<kDirect>(serializer, nested, sink, nested_stream);
      }
    } else {
      serializer.WriteValue(nested, nested_stream);
    }
  };
  if (WriteLeaf(value, sink)) return;
  if (const auto* list = std::get_if<EncodableValueList>(&value)) {
    WriteHeader(sink, Type::kList, list->size());
    for (const EncodableValue& element : *list) write_nested(element);
    return;
  }
  const auto& map = std::get<EncodableValueMap>(value);
  WriteHeader(sink, Type::kMap, map.size());
  for (const auto& entry : map) {
    write_nested(entry.first);
    write_nested(entry.second);
  }
}

// A whole value into a vector through one writer, kept out of line so the
// recursion starts from a small frame.
void WriteToVector(const StandardCodecSerializer& serializer, const EncodableValue& value,
                   std::vector<uint8_t>* target) {
  VectorWriter writer(target);
  if (IsExactlyStandard(serializer)) {
    WriteValueTo<true>(serializer, value, writer, &writer);
  } else {
    WriteValueTo<false>(serializer, value, writer, &writer);
  }
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
  return count <= ByteStreamReader::kRemainingUnknown / size ? count * size
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

// Where a decoded payload goes: returned as a value, or built in place at
// the end of a list whose room is already reserved, so list elements are
// never moved, copied or relocated after they are read.
struct AsValue {
  template <typename T>
  EncodableValue operator()(T&& payload) const {
    return EncodableValue(std::forward<T>(payload));
  }
};

struct AppendTo {
  EncodableValueList* list;
  template <typename T>
  void operator()(T&& payload) const {
    list->emplace_back(std::forward<T>(payload));
  }
};

// The payload of one value whose type byte is consumed, handed to emit
// exactly once. Nested values go through the serializer's virtual
// ReadValueOfType; kDirect skips that dispatch when the serializer is
// exactly StandardCodecSerializer.
template <bool kDirect, typename Stream, typename Emit>
auto ReadPayload(const StandardCodecSerializer& serializer, uint8_t type, Stream* stream, Emit emit)
    -> decltype(emit(std::monostate())) {
  const auto read_nested = [&]() {
    const uint8_t nested_type = stream->ReadByte();
    if constexpr (kDirect) {
      return ReadPayload<kDirect>(serializer, nested_type, stream, AsValue());
    } else {
      return serializer.ReadValueOfType(nested_type, stream);
    }
  };
  switch (static_cast<Type>(type)) {
    case Type::kNull: return emit(std::monostate());
    case Type::kTrue: return emit(true);
    case Type::kFalse: return emit(false);
    case Type::kInt32: return emit(ReadNumber<int32_t>(stream));
    case Type::kInt64: return emit(ReadNumber<int64_t>(stream));
    case Type::kFloat64: stream->SkipToAlignment(8); return emit(ReadNumber<double>(stream));
    case Type::kLargeInt:
    case Type::kString: return emit(ReadString(stream, ReadSizeFrom(stream)));
    case Type::kUInt8List: return emit(ReadBlock<uint8_t>(stream, ReadSizeFrom(stream)));
    case Type::kInt32List: return emit(ReadNumericList<int32_t>(stream, ReadSizeFrom(stream)));
    case Type::kInt64List: return emit(ReadNumericList<int64_t>(stream, ReadSizeFrom(stream)));
    case Type::kFloat64List: return emit(ReadNumericList<double>(stream, ReadSizeFrom(stream)));
    case Type::kFloat32List: return emit(ReadNumericList<float>(stream, ReadSizeFrom(stream)));
    case Type::kList:
    case Type::kMap: break;
    default:
      // Nothing consumed: the next read starts right after the type byte.
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<unsigned>(type) << std::endl;
      return emit(std::monostate());
  }

  if (t_nesting_depth >= kMaxNestingDepth) {
    std::cerr << kNestingTooDeepMessage << std::endl;
    return emit(std::monostate());
  }
  NestingScope scope;
  const size_t count = ReadSizeFrom(stream);
  if (static_cast<Type>(type) == Type::kList) {
    EncodableValueList list;
    if (!InputCanHold(stream, count, kMinEncodedValueBytes)) {
      return emit(std::move(list));
    }
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      if constexpr (kDirect) {
        const uint8_t nested_type = stream->ReadByte();
        ReadPayload<kDirect>(serializer, nested_type, stream, AppendTo{&list});
      } else {
        list.push_back(read_nested());
      }
    }
    return emit(std::move(list));
  }

  EncodableValueMap map;
  if (!InputCanHold(stream, count, kMinEncodedMapEntryBytes)) {
    return emit(std::move(map));
  }
  for (size_t i = 0; i < count; ++i) {
    EncodableValue key = read_nested();
    EncodableValue value = read_nested();
    // Encoded maps arrive in key order, so the end is the usual place. A
    // repeated key keeps its first value.
    map.try_emplace(map.end(), std::move(key), std::move(value));
  }
  return emit(std::move(map));
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  // A nested value from a derived serializer: its parent's vector writer
  // is already in place.
  if (typeid(*stream) == typeid(VectorWriter)) {
    auto* writer = static_cast<VectorWriter*>(stream);
    WriteValueTo<false>(*this, value, *writer, writer);
    return;
  }
  if (std::vector<uint8_t>* target = stream->AppendTarget()) {
    WriteToVector(*this, value, target);
    return;
  }
  StreamSink sink(stream);
  if (IsExactlyStandard(*this)) {
    WriteValueTo<true>(*this, value, sink, stream);
  } else {
    WriteValueTo<false>(*this, value, sink, stream);
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  const bool direct = IsExactlyStandard(*this);
  if (typeid(*stream) == typeid(ByteBufferStreamReader)) {
    auto* buffer = static_cast<ByteBufferStreamReader*>(stream);
    return direct ? ReadPayload<true>(*this, type, buffer, AsValue())
                  : ReadPayload<false>(*this, type, buffer, AsValue());
  }
  return direct ? ReadPayload<true>(*this, type, stream, AsValue())
                : ReadPayload<false>(*this, type, stream, AsValue());
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  return ReadSizeFrom(stream);
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  StreamSink sink(stream);
  WriteSizeTo(sink, size);
}

}  // namespace flutter
