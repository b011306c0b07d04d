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

// Bytes a size or count takes on the wire.
constexpr size_t SizeFieldBytes(size_t size) { return size < 254 ? 1 : size <= 0xFFFF ? 3 : 5; }

// The offset at, moved up to a multiple of alignment.
constexpr size_t AlignedUp(size_t at, size_t alignment) {
  return (at + alignment - 1) / alignment * alignment;
}

// Copies count bytes without a library call when there are few of them:
// most strings on a channel are names and keys of a few bytes. Two
// overlapping fixed-size copies cover every length up to twice their size.
TARNWICK_ALWAYS_INLINE void CopyBytes(uint8_t* to, const void* source, size_t count) {
  const auto* from = static_cast<const uint8_t*>(source);
  if (count > 16) {
    std::memcpy(to, from, count);
  } else if (count >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + count - 8, from + count - 8, 8);
  } else if (count >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + count - 4, from + count - 4, 4);
  } else if (count != 0) {
    to[0] = from[0];
    to[count / 2] = from[count / 2];
    to[count - 1] = from[count - 1];
  }
}

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
// write position (value-initialised slack, doubling, never past a
// reservation made for the whole message), so a write is a capacity check
// and a copy into place; the slack is cut off when the writer goes away,
// also when a derived serializer throws, so the vector then holds exactly
// what was written. A large block is appended to the trimmed vector
// instead, so its bytes are copied once and never zero-filled first. It is
// itself the writer that nested values are written to, through the virtual
// WriteValue, so a derived serializer sees every nested value and finds the
// bytes before it in place (for alignment) through the writer operations.
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
    if (count > Room() && count >= kBlockBytes) {
      AppendBlock(static_cast<const uint8_t*>(source), count);
      return;
    }
    CopyBytes(Claim(count), source, count);
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

  // For writing through a position held outside the writer (see PutValue):
  // the position, its offset from the start of the vector, room for count
  // bytes at it (returned, as the vector may move), and the position taken
  // back.
  uint8_t* position() const { return next_; }
  size_t OffsetOf(const uint8_t* at) const { return static_cast<size_t>(at - begin_); }
  uint8_t* MakeRoom(uint8_t* at, size_t count) {
    if (count <= static_cast<size_t>(end_ - at)) return at;
    next_ = at;
    Grow(count);
    return next_;
  }
  void set_position(uint8_t* at) { next_ = at; }

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
  // in proportion to the output. A message sized beforehand has its whole
  // length reserved: the slack then stays within it and nothing is copied.
  void Grow(size_t count) {
    const size_t used = Used();
    size_t size = std::max({used + count, 2 * used, kMinimumGrowth});
    if (used + count <= target_->capacity()) size = std::min(size, target_->capacity());
    target_->resize(size);
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

// A type byte then a size or count.
template <typename Sink>
void WriteHeader(Sink& sink, Type type, size_t size) {
  sink.Byte(TypeByte(type));
  WriteSizeTo(sink, size);
}

// A type byte, a size and that many bytes.
template <typename Sink>
void WriteSized(Sink& sink, Type type, const void* bytes, size_t size) {
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
TARNWICK_ALWAYS_INLINE bool WriteLeaf(const EncodableValue& value, Sink& sink) {
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

// The standard serializer's own writing into a vector. The write position
// travels in a local between the writer's claims rather than in the writer:
// a byte store may alias anything, so a position kept in memory would be
// stored and loaded again around every one of them. Plain elements are
// written in line; lists and maps recurse, and the rarer leaves go through
// the writer itself.
uint8_t* PutContainer(const EncodableValue& value, uint8_t* at, VectorWriter& out);

template <typename T>
TARNWICK_ALWAYS_INLINE uint8_t* PutNumber(Type type, T number, uint8_t* at, VectorWriter& out) {
  at = out.MakeRoom(at, 1 + sizeof(number));
  at[0] = TypeByte(type);
  std::memcpy(at + 1, &number, sizeof(number));
  return at + 1 + sizeof(number);
}

// A type byte, a size, and that many bytes.
TARNWICK_ALWAYS_INLINE uint8_t* PutSized(Type type, const void* bytes, size_t size, uint8_t* at,
                                         VectorWriter& out) {
  if (size < 254) {
    // Short strings are the common case: one claim for all of it.
    at = out.MakeRoom(at, 2 + size);
    at[0] = TypeByte(type);
    at[1] = static_cast<uint8_t>(size);
    CopyBytes(at + 2, bytes, size);
    return at + 2 + size;
  }
  const size_t header = 1 + SizeFieldBytes(size);
  at = out.MakeRoom(at, header);
  at[0] = TypeByte(type);
  if (size <= 0xFFFF) {
    at[1] = 254;
    const auto size16 = static_cast<uint16_t>(size);
    std::memcpy(at + 2, &size16, sizeof(size16));
  } else {
    // Only the low 32 bits fit; callers never encode anything that large.
    at[1] = 255;
    const auto size32 = static_cast<uint32_t>(size);
    std::memcpy(at + 2, &size32, sizeof(size32));
  }
  out.set_position(at + header);
  out.Bytes(bytes, size);
  return out.position();
}

// Writes value at at unless it is a list or a map; returns the position
// after it, or null for a list or a map (nothing written).
TARNWICK_ALWAYS_INLINE uint8_t* PutLeaf(const EncodableValue& value, uint8_t* at,
                                        VectorWriter& out) {
  switch (value.index()) {
    case kNullIndex:
      at = out.MakeRoom(at, 1);
      *at = TypeByte(Type::kNull);
      return at + 1;
    case kBoolIndex:
      at = out.MakeRoom(at, 1);
      // Computed rather than chosen: mixed flags cost no branch.
      *at = static_cast<uint8_t>(TypeByte(Type::kFalse) - (*std::get_if<bool>(&value) ? 1 : 0));
      return at + 1;
    case kInt32Index: return PutNumber(Type::kInt32, *std::get_if<int32_t>(&value), at, out);
    case kInt64Index: return PutNumber(Type::kInt64, *std::get_if<int64_t>(&value), at, out);
    case kDoubleIndex: {
      const double number = *std::get_if<double>(&value);
      const size_t padding = (0 - (out.OffsetOf(at) + 1)) % sizeof(number);
      at = out.MakeRoom(at, 1 + padding + sizeof(number));
      at[0] = TypeByte(Type::kFloat64);
      // At least as many bytes as a zero double follow the type byte, so
      // the padding is cleared with one fixed-size store before the number
      // lands.
      const double zero = 0;
      std::memcpy(at + 1, &zero, sizeof(zero));
      std::memcpy(at + 1 + padding, &number, sizeof(number));
      return at + 1 + padding + sizeof(number);
    }
    case kStringIndex: {
      const auto& text = *std::get_if<std::string>(&value);
      return PutSized(Type::kString, text.data(), text.size(), at, out);
    }
    case kUInt8ListIndex: {
      const auto& bytes = *std::get_if<std::vector<uint8_t>>(&value);
      return PutSized(Type::kUInt8List, bytes.data(), bytes.size(), at, out);
    }
    case kListIndex:
    case kMapIndex: return nullptr;
    default: break;
  }
  out.set_position(at);
  WriteLeaf(value, out);
  return out.position();
}

TARNWICK_ALWAYS_INLINE uint8_t* PutValue(const EncodableValue& value, uint8_t* at,
                                         VectorWriter& out) {
  uint8_t* after = PutLeaf(value, at, out);
  return after != nullptr ? after : PutContainer(value, at, out);
}

uint8_t* PutHeader(Type type, size_t size, uint8_t* at, VectorWriter& out) {
  if (size >= 254) {
    out.set_position(at);
    WriteHeader(out, type, size);
    return out.position();
  }
  at = out.MakeRoom(at, 2);
  at[0] = TypeByte(type);
  at[1] = static_cast<uint8_t>(size);
  return at + 2;
}

// A list or a map.
uint8_t* PutContainer(const EncodableValue& value, uint8_t* at, VectorWriter& out) {
  if (const auto* list = std::get_if<EncodableValueList>(&value)) {
    at = PutHeader(Type::kList, list->size(), at, out);
    for (const EncodableValue& element : *list) at = PutValue(element, at, out);
    return at;
  }
  const auto& map = *std::get_if<EncodableValueMap>(&value);
  at = PutHeader(Type::kMap, map.size(), at, out);
  for (const auto& entry : map) {
    at = PutValue(entry.first, at, out);
    at = PutValue(entry.second, at, out);
  }
  return at;
}

// Elements of lists and maps a message may hold and still be sized before
// it is written. The walk costs a fair part of the writing itself, element
// by element, while growing the vector costs a few copies of its bytes, so
// only small messages gain from it; those are most of what a channel
// carries.
constexpr size_t kSizedElementsAtMost = 64;

// A list or map too large to size is estimated from this many of its first
// elements, the rest taken to be like them; the message is reserved at the
// estimate, at least kUnsizedFirstBlock and at most kEstimatedBlockAtMost
// (so a sample unlike the rest cannot reserve much), and grows from there
// if it is short.
constexpr size_t kSampledElements = 8;
constexpr size_t kUnsizedFirstBlock = 4096;
constexpr size_t kEstimatedBlockAtMost = size_t{1} << 20;

template <typename T>
size_t NumericListEnd(const std::vector<T>& values, size_t at) {
  return AlignedUp(at + 1 + SizeFieldBytes(values.size()), sizeof(T)) + values.size() * sizeof(T);
}

// Moves at past a value that is not a list or a map, as the standard
// serializer itself writes it (padding counts from the start of the
// output); whether it was one.
TARNWICK_ALWAYS_INLINE bool SizeLeaf(const EncodableValue& value, size_t& at) {
  switch (value.index()) {
    case kInt32Index: at += 1 + sizeof(int32_t); return true;
    case kInt64Index: at += 1 + sizeof(int64_t); return true;
    case kDoubleIndex: at = AlignedUp(at + 1, sizeof(double)) + sizeof(double); return true;
    case kStringIndex: {
      const size_t size = std::get_if<std::string>(&value)->size();
      at += 1 + SizeFieldBytes(size) + size;
      return true;
    }
    case kUInt8ListIndex: {
      const size_t size = std::get_if<std::vector<uint8_t>>(&value)->size();
      at += 1 + SizeFieldBytes(size) + size;
      return true;
    }
    case kInt32ListIndex:
      at = NumericListEnd(*std::get_if<std::vector<int32_t>>(&value), at);
      return true;
    case kInt64ListIndex:
      at = NumericListEnd(*std::get_if<std::vector<int64_t>>(&value), at);
      return true;
    case kDoubleListIndex:
      at = NumericListEnd(*std::get_if<std::vector<double>>(&value), at);
      return true;
    case kFloatListIndex:
      at = NumericListEnd(*std::get_if<std::vector<float>>(&value), at);
      return true;
    case kListIndex:
    case kMapIndex: return false;
    default:
      // Null, bool, and custom (written as null): the type byte alone.
      at += 1;
      return true;
  }
}

bool SizeContainer(const EncodableValue& value, size_t& at, size_t& budget);

// Moves at past the encoding of value. Lists and maps take their elements
// from budget before they are walked; false as soon as it would run out.
TARNWICK_ALWAYS_INLINE bool SizeValue(const EncodableValue& value, size_t& at, size_t& budget) {
  return SizeLeaf(value, at) || SizeContainer(value, at, budget);
}

// A list or a map.
bool SizeContainer(const EncodableValue& value, size_t& at, size_t& budget) {
  if (const auto* list = std::get_if<EncodableValueList>(&value)) {
    if (list->size() > budget) return false;
    budget -= list->size();
    at += 1 + SizeFieldBytes(list->size());
    for (const EncodableValue& element : *list) {
      if (!SizeValue(element, at, budget)) return false;
    }
    return true;
  }
  const auto& map = *std::get_if<EncodableValueMap>(&value);
  if (map.size() > budget / 2) return false;
  budget -= 2 * map.size();
  at += 1 + SizeFieldBytes(map.size());
  for (const auto& entry : map) {
    if (!SizeValue(entry.first, at, budget) || !SizeValue(entry.second, at, budget)) return false;
  }
  return true;
}

// Where a list or map that is too large to size probably ends, when it
// starts at at.
size_t EstimatedEnd(const EncodableValue& value, size_t at) {
  const auto* list = std::get_if<EncodableValueList>(&value);
  const auto* map = std::get_if<EncodableValueMap>(&value);
  const size_t count = list != nullptr ? list->size() : map->size();
  at += 1 + SizeFieldBytes(count);
  const size_t first = at;
  size_t sampled = 0;
  size_t budget = kSizedElementsAtMost;
  const auto sample = [&](const EncodableValue& element, const EncodableValue* more) {
    size_t end = at;
    if (sampled == kSampledElements || !SizeValue(element, end, budget)) return false;
    if (more != nullptr && !SizeValue(*more, end, budget)) return false;
    at = end;
    ++sampled;
    return true;
  };
  if (list != nullptr) {
    for (const EncodableValue& element : *list) {
      if (!sample(element, nullptr)) break;
    }
  } else {
    for (const auto& entry : *map) {
      if (!sample(entry.first, &entry.second)) break;
    }
  }
  return sampled == 0 ? at : first + (at - first) / sampled * count;
}

// lead, when given, then values, appended to target by the standard
// serializer itself. A small message is sized first, so a fresh vector is
// allocated once at its exact size, a larger one is estimated; a vector that
// already holds bytes grows at least by doubling, so writing value after
// value into it stays linear.
void WriteStandard(std::optional<uint8_t> lead, std::initializer_list<const EncodableValue*> values,
                   std::vector<uint8_t>* target) {
  size_t end = target->size() + (lead ? 1 : 0);
  size_t budget = kSizedElementsAtMost;
  for (const EncodableValue* value : values) {
    const size_t start = end;
    if (SizeValue(*value, end, budget)) continue;
    const size_t estimate = std::min(EstimatedEnd(*value, start) - start, kEstimatedBlockAtMost);
    end = start + std::max(estimate, kUnsizedFirstBlock);
  }
  if (end > target->capacity()) {
    target->reserve(std::max(end, 2 * target->capacity()));
  }
  VectorWriter writer(target);
  uint8_t* at = writer.position();
  if (lead) {
    at = writer.MakeRoom(at, 1);
    *at++ = *lead;
  }
  for (const EncodableValue* value : values) at = PutValue(*value, at, writer);
  writer.set_position(at);
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
TARNWICK_ALWAYS_INLINE bool SizeIsKnown(const Stream* stream) {
  return stream->RemainingBytes() != ByteStreamReader::kRemainingUnknown;
}

// A count the rest of the input cannot hold is a failed read. Asking the
// reader for that many bytes in place fails by construction, which reports
// it in the reader's words and consumes nothing.
template <typename Stream>
TARNWICK_ALWAYS_INLINE bool InputCanHold(Stream* stream, size_t count, size_t min_bytes) {
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

// A string of size bytes, handed to emit; built where it goes straight from
// the input when the reader lends its bytes.
template <typename Stream, typename Emit>
TARNWICK_ALWAYS_INLINE auto ReadString(Stream* stream, size_t size, Emit& emit)
    -> decltype(emit(std::monostate())) {
  if (!SizeIsKnown(stream)) {
    std::string text(size, '\0');
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&text[0]), size);
    return emit(std::move(text));
  }
  const uint8_t* source = stream->ReadBytesInPlace(size);
  if (source == nullptr) return emit(std::string());
  return emit(std::in_place_type<std::string>, reinterpret_cast<const char*>(source), size);
}

template <typename T, typename Stream>
std::vector<T> ReadNumericList(Stream* stream, size_t count) {
  stream->SkipToAlignment(static_cast<uint8_t>(sizeof(T)));
  return ReadBlock<T>(stream, count);
}

template <typename Stream>
TARNWICK_ALWAYS_INLINE size_t ReadSizeFrom(Stream* stream) {
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
TARNWICK_ALWAYS_INLINE T ReadNumber(Stream* stream) {
  T number = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
  return number;
}

// Where a decoded payload goes: returned as a value, or built in place at
// the end of a list whose room is already reserved, so list elements are
// never moved, copied or relocated after they are read. A list is made
// where it goes before its elements are read into it (List), so it is not
// moved either.
struct AsValue {
  template <typename... Payload>
  EncodableValue operator()(Payload&&... payload) const {
    return EncodableValue(std::forward<Payload>(payload)...);
  }
  template <typename Fill>
  EncodableValue List(Fill fill) const {
    EncodableValue value(std::in_place_type<EncodableValueList>);
    fill(*std::get_if<EncodableValueList>(&value));
    return value;
  }
};

struct AppendTo {
  EncodableValueList* list;
  template <typename... Payload>
  void operator()(Payload&&... payload) const {
    list->emplace_back(std::forward<Payload>(payload)...);
  }
  template <typename Fill>
  void List(Fill fill) const {
    fill(*std::get_if<EncodableValueList>(
        &list->emplace_back(std::in_place_type<EncodableValueList>)));
  }
};

template <bool kDirect, typename Stream, typename Emit>
auto ReadOtherPayload(const StandardCodecSerializer& serializer, uint8_t type, Stream* stream,
                      Emit emit) -> decltype(emit(std::monostate()));

// The payload of one value whose type byte is consumed, handed to emit
// exactly once. Numbers and strings, most of what a message holds, are read
// in line, also into the loops over list elements; ReadOtherPayload reads
// the rest, so the loops stay small enough to keep the reads themselves in
// line.
template <bool kDirect, typename Stream, typename Emit>
TARNWICK_ALWAYS_INLINE auto ReadPayload(const StandardCodecSerializer& serializer, uint8_t type,
                                        Stream* stream, Emit emit)
    -> decltype(emit(std::monostate())) {
  switch (static_cast<Type>(type)) {
    case Type::kNull: return emit(std::monostate());
    // One case for both, so that mixed flags do not make the dispatch
    // itself harder to predict.
    case Type::kTrue:
    case Type::kFalse: return emit(type == TypeByte(Type::kTrue));
    case Type::kInt32: return emit(ReadNumber<int32_t>(stream));
    case Type::kInt64: return emit(ReadNumber<int64_t>(stream));
    case Type::kFloat64: stream->SkipToAlignment(8); return emit(ReadNumber<double>(stream));
    case Type::kString: return ReadString(stream, ReadSizeFrom(stream), emit);
    default: return ReadOtherPayload<kDirect>(serializer, type, stream, emit);
  }
}

// Byte and numeric lists, lists, maps, and values of unknown types. Nested
// values go through the serializer's virtual ReadValueOfType; kDirect skips
// that dispatch when the serializer is exactly StandardCodecSerializer.
template <bool kDirect, typename Stream, typename Emit>
auto ReadOtherPayload(const StandardCodecSerializer& serializer, uint8_t type, Stream* stream,
                      Emit emit) -> decltype(emit(std::monostate())) {
  switch (static_cast<Type>(type)) {
    case Type::kLargeInt: return ReadString(stream, ReadSizeFrom(stream), emit);
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
  const auto read_nested = [&]() {
    const uint8_t nested_type = stream->ReadByte();
    if constexpr (kDirect) {
      return ReadPayload<kDirect>(serializer, nested_type, stream, AsValue());
    } else {
      return serializer.ReadValueOfType(nested_type, stream);
    }
  };
  NestingScope scope;
  const size_t count = ReadSizeFrom(stream);
  if (type == TypeByte(Type::kList)) {
    return emit.List([&](EncodableValueList& list) {
      if (!InputCanHold(stream, count, kMinEncodedValueBytes)) return;
      list.reserve(count);
      for (size_t left = count; left != 0; --left) {
        if constexpr (kDirect) {
          const uint8_t nested_type = stream->ReadByte();
          ReadPayload<kDirect>(serializer, nested_type, stream, AppendTo{&list});
        } else {
          list.push_back(read_nested());
        }
      }
    });
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
  const bool direct = IsExactlyStandard(*this);
  // A nested value from a derived serializer: its parent's vector writer
  // is already in place.
  if (typeid(*stream) == typeid(VectorWriter)) {
    auto* writer = static_cast<VectorWriter*>(stream);
    if (direct) {
      writer->set_position(PutValue(value, writer->position(), *writer));
    } else {
      WriteValueTo<false>(*this, value, *writer, writer);
    }
    return;
  }
  if (std::vector<uint8_t>* target = stream->AppendTarget()) {
    if (direct) {
      WriteStandard(std::nullopt, {&value}, target);
    } else {
      VectorWriter writer(target);
      WriteValueTo<false>(*this, value, writer, &writer);
    }
    return;
  }
  StreamSink sink(stream);
  if (direct) {
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

namespace internal {

void AppendMessage(const StandardCodecSerializer& serializer, std::optional<uint8_t> lead,
                   std::initializer_list<const EncodableValue*> values,
                   std::vector<uint8_t>* message) {
  if (IsExactlyStandard(serializer)) {
    WriteStandard(lead, values, message);
    return;
  }
  // A derived serializer sees each value through its own WriteValue, over
  // the writer a caller of its own would give it.
  ByteBufferStreamWriter writer(message);
  if (lead) writer.WriteByte(*lead);
  for (const EncodableValue* value : values) serializer.WriteValue(*value, &writer);
}

}  // namespace internal

}  // namespace flutter
