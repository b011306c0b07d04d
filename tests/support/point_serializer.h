// A serializer extended with a type of its own, for the codec tests: a
// point, written as the type byte 128 and its two 32-bit coordinates.
#pragma once

#include <cstdint>

#include "embedding/encodable_value.h"
#include "embedding/standard_codec_serializer.h"

namespace tarnwick {

struct Point {
  int32_t x;
  int32_t y;
};

class PointSerializer : public flutter::StandardCodecSerializer {
 public:
  static constexpr uint8_t kPointType = 128;

  void WriteValue(const flutter::EncodableValue& value,
                  flutter::ByteStreamWriter* stream) const override {
    if (const auto* custom = std::get_if<flutter::CustomValue>(&value)) {
      if (const Point* point = custom->TryGetValue<Point>()) {
        stream->WriteByte(kPointType);
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(point), sizeof(Point));
        return;
      }
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }

  flutter::EncodableValue ReadValueOfType(uint8_t type,
                                          flutter::ByteStreamReader* stream) const override {
    if (type != kPointType) return StandardCodecSerializer::ReadValueOfType(type, stream);
    Point point{};
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&point), sizeof(point));
    return flutter::EncodableValue(flutter::CustomValue(point));
  }
};

// The point a value holds, or null.
inline const Point* PointIn(const flutter::EncodableValue& value) {
  const auto* custom = std::get_if<flutter::CustomValue>(&value);
  return custom != nullptr ? custom->TryGetValue<Point>() : nullptr;
}

}  // namespace tarnwick
