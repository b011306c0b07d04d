// Writes and reads one EncodableValue at a time in the standard message
// format that the engine's side of every standard channel speaks.
//
// Neither direction stops early: a read past the end, an unknown type byte
// or nesting beyond kMaxNestingDepth while reading, and a custom value while
// writing, each give a fixed default and one line on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "embedding/byte_streams.h"
#include "embedding/encodable_value.h"

namespace flutter {

// The type byte that starts every encoded value.
enum class StandardCodecType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // read as a string, never written
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// Bounds on what a message from outside can make the reader do.
//
// Lists and maps nested deeper than this read as null (after their type
// byte, nothing of them consumed) with the line kNestingTooDeepMessage, so a
// hostile message cannot overflow the stack; 256 levels cost well under the
// 1 MiB main-thread stack of a Windows process, even in sanitizer builds.
inline constexpr size_t kMaxNestingDepth = 256;
// A declared size or count is checked against the bytes left before anything
// is allocated for it, counting at least this many bytes per element: a list
// element or a map key or value is at least its type byte.
inline constexpr size_t kMinEncodedValueBytes = 1;
inline constexpr size_t kMinEncodedMapEntryBytes = 2 * kMinEncodedValueBytes;

inline constexpr char kNestingTooDeepMessage[] =
    "Nesting too deep in StandardCodecSerializer::ReadValueOfType";

class StandardCodecSerializer {
 public:
  StandardCodecSerializer();
  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;
  virtual ~StandardCodecSerializer();

  // The process-wide serializer, made on first use.
  static const StandardCodecSerializer& GetInstance();

  // Reads one type byte, then the value it starts.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // Appends the encoding of value. Derived serializers extend the format
  // here and in ReadValueOfType: nested list elements and map entries are
  // written and read through these two virtual operations.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Reads the payload of a value whose type byte is already consumed.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Sizes of strings and lists and counts of map entries: one byte below
  // 254, else 254 and 16 bits, else 255 and the low 32 bits.
  size_t ReadSize(ByteStreamReader* stream) const;
  void WriteSize(size_t size, ByteStreamWriter* stream) const;
};

namespace internal {

// Appends to message what a ByteBufferStreamWriter over it receives from
// WriteByte(lead), when lead is given, and then from serializer's
// WriteValue of each of values in turn: the body of every method-codec
// message. With the standard serializer itself, the message is sized first
// and allocated once.
void AppendMessage(const StandardCodecSerializer& serializer, std::optional<uint8_t> lead,
                   std::initializer_list<const EncodableValue*> values,
                   std::vector<uint8_t>* message);

}  // namespace internal

}  // namespace flutter
