// Byte streams the standard serializer reads from and writes to, with one
// buffer-backed implementation each. Readers and writers are made per
// message, on the caller's stack, over a buffer the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

// Forces inlining of the buffer reader's operations into the serializer's
// read loops, which grow past what the compiler inlines by itself.
#if defined(_MSC_VER)
#define TARNWICK_ALWAYS_INLINE __forceinline
#else
#define TARNWICK_ALWAYS_INLINE inline __attribute__((always_inline))
#endif

namespace flutter {

class ByteStreamReader {
 public:
  // What RemainingBytes() answers for a reader that cannot tell.
  static constexpr size_t kRemainingUnknown = std::numeric_limits<size_t>::max();

  ByteStreamReader() = default;
  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;
  virtual ~ByteStreamReader();

  // Returns the next byte.
  virtual uint8_t ReadByte() = 0;
  // Copies the next count bytes into destination.
  virtual void ReadBytes(uint8_t* destination, size_t count) = 0;
  // Moves the read position forward to a multiple of alignment (4 or 8).
  virtual void SkipToAlignment(uint8_t alignment) = 0;

  // The two operations below let the serializer size payloads against the
  // input before allocating for them, and build them with one copy. Their
  // defaults suit any reader, so one written against the three operations
  // above alone still works (and is trusted with the sizes it declares).
  //
  // Bytes left to read, or kRemainingUnknown. A reader that answers a number
  // must also lend bytes through ReadBytesInPlace.
  virtual size_t RemainingBytes() const;
  // The next count bytes where they lie, and moves past them; they stay
  // valid as long as the reader's buffer does. When fewer than count bytes
  // are left it fails as ReadBytes does (reported, nothing consumed) and
  // returns null. Never null on success, even for a count of 0.
  virtual const uint8_t* ReadBytesInPlace(size_t count);
};

class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;
  virtual ~ByteStreamWriter();

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* source, size_t count) = 0;
  // Appends zero bytes up to a multiple of alignment (4 or 8), measured from
  // the start of the output.
  virtual void PadToAlignment(uint8_t alignment) = 0;

  // The vector this writer only ever appends to, if it is one; lets the
  // serializer append in line instead of through a call per byte, bypassing
  // the three operations above. Null by default, and a writer that must see
  // every byte through those operations returns null.
  virtual std::vector<uint8_t>* AppendTarget();
};

// Reads a message in memory. A read past the end writes
// "Invalid read in StandardCodecByteStreamReader" to standard error, yields
// zero or copies nothing, and leaves the position where it was.
//
// Final and defined here so the serializer, having checked a reader's exact
// type, reads through it without a call per byte.
class ByteBufferStreamReader final : public ByteStreamReader {
 public:
  // bytes must outlive the reader.
  ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  ~ByteBufferStreamReader() override;

  TARNWICK_ALWAYS_INLINE uint8_t ReadByte() override {
    if (!CanRead(1)) return 0;
    return bytes_[location_++];
  }

  TARNWICK_ALWAYS_INLINE void ReadBytes(uint8_t* destination, size_t count) override {
    if (!CanRead(count)) return;
    if (count != 0) std::memcpy(destination, bytes_ + location_, count);
    location_ += count;
  }

  // Not checked against the size: the next read past the end fails.
  TARNWICK_ALWAYS_INLINE void SkipToAlignment(uint8_t alignment) override {
    const size_t remainder = location_ % alignment;
    if (remainder != 0) location_ += alignment - remainder;
  }

  TARNWICK_ALWAYS_INLINE size_t RemainingBytes() const override {
    return location_ < size_ ? size_ - location_ : 0;
  }

  TARNWICK_ALWAYS_INLINE const uint8_t* ReadBytesInPlace(size_t count) override {
    if (!CanRead(count)) return nullptr;
    // An empty message may have no address at all; success must still not
    // look like failure.
    const uint8_t* start = bytes_ != nullptr ? bytes_ + location_ : &kNothing;
    location_ += count;
    return start;
  }

  // Offset of the next read from the start of the message.
  size_t location() const { return location_; }

 private:
  static const uint8_t kNothing;

  // Whether count more bytes can be read; reports the failed read if not.
  // Written so that neither a huge count nor a position skipped past the
  // end can wrap around.
  TARNWICK_ALWAYS_INLINE bool CanRead(size_t count) const {
    if (location_ <= size_ && count <= size_ - location_) return true;
    ReportInvalidRead();
    return false;
  }
  static void ReportInvalidRead();

  const uint8_t* bytes_;
  size_t size_;
  size_t location_ = 0;
};

// Appends to a vector the caller owns; alignment counts from its first byte.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}
  ~ByteBufferStreamWriter() override;

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* source, size_t count) override;
  void PadToAlignment(uint8_t alignment) override;
  std::vector<uint8_t>* AppendTarget() override;

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter
