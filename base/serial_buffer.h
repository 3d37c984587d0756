// A length-prefixed binary message: a 4-byte little-endian payload size, then the payload
// fields, each starting at a multiple of 4 bytes and padded with zero bytes.
//
//   SerialBuffer message;
//   message.WriteString(":Installer message:");
//   message.WriteInt(type);
//   Send(message.data(), message.size());
//   ...
//   SerialBuffer received(bytes, length);  // read-only view, bytes not copied
//   SerialBufferReader reader(received);
//   std::string text;
//   int received_type = 0;
//   if (!reader.ReadString(&text) || !reader.ReadInt(&received_type)) ...
#ifndef BASE_SERIAL_BUFFER_H_
#define BASE_SERIAL_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/strings/string_piece.h"

namespace base {

class SerialBuffer {
 public:
  // An empty, writable buffer with a 4-byte header.
  SerialBuffer();
  // A read-only view over received bytes, which must outlive it. Bytes whose stored
  // payload size does not leave a header of a non-zero multiple of 4 give a view that
  // reads nothing.
  SerialBuffer(const void* data, size_t length);
  // An owned, writable copy (also of a view).
  SerialBuffer(const SerialBuffer& other);
  SerialBuffer& operator=(const SerialBuffer&) = delete;
  virtual ~SerialBuffer();

  // Reserves a zero-padded field of `size` bytes and returns them for the caller to
  // fill. Writing into a view is a fatal error.
  void* ClaimBytes(size_t size);
  // Always true: the buffer grows as needed, and a string it cannot carry is fatal.
  bool WriteInt(int32_t value);
  bool WriteString(StringPiece text);
  bool WriteWideString(StringPiece16 text);

  // The whole message (header and payload), as it is sent.
  const void* data() const { return storage_; }
  size_t size() const { return storage_ ? header_size_ + payload_size() : 0; }

  const char* payload() const { return storage_ ? storage_ + header_size_ : nullptr; }
  // 0 for a view without a valid header.
  uint32_t payload_size() const;
  size_t header_size() const { return header_size_; }
  size_t capacity() const { return capacity_; }
  bool is_view() const { return capacity_ == kViewCapacity; }

 private:
  static constexpr size_t kViewCapacity = static_cast<size_t>(-1);

  void InitEmpty();

  char* storage_;  // header then payload; owned unless this is a view
  size_t header_size_;
  size_t capacity_;  // payload bytes available after the header, or kViewCapacity
  size_t write_offset_;
};

// Takes the fields out of a buffer in the order they were written. Every read checks
// the bytes left first; after a failed read every later read fails too.
class SerialBufferReader {
 public:
  explicit SerialBufferReader(const SerialBuffer& buffer);

  [[nodiscard]] bool ReadBool(bool* out);
  [[nodiscard]] bool ReadInt(int32_t* out);
  [[nodiscard]] bool ReadString(std::string* out);
  [[nodiscard]] bool ReadWideString(std::wstring* out);
  // A field of |length| raw bytes, written with ClaimBytes; |*data| points into the
  // buffer.
  [[nodiscard]] bool ReadBytes(const char** data, size_t length);

 private:
  size_t BytesLeft() const { return end_offset_ - read_offset_; }
  // Moves past `size` bytes and their padding; the padding may be cut off at the end.
  void Skip(size_t size);
  bool Fail();

  const char* payload_;
  size_t read_offset_;
  size_t end_offset_;
};

}  // namespace base

#endif  // BASE_SERIAL_BUFFER_H_
