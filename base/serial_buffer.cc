#include "base/serial_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/allocator/allocator_shim.h"
#include "base/logging.h"

namespace base {

namespace {

const size_t kHeaderSize = 4;
const size_t kInitialCapacity = 64;
const size_t kPageSize = 4096;
// Keeps big buffers just below whole pages, leaving room for the allocator's own header.
const size_t kPageSlack = 64;

size_t RoundUp(size_t value, size_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

uint32_t LoadUint32(const char* bytes) {
  uint32_t value;
  memcpy(&value, bytes, sizeof(value));
  return value;
}

void StoreUint32(char* bytes, uint32_t value) { memcpy(bytes, &value, sizeof(value)); }

char* AllocateOrDie(char* old_storage, size_t size) {
  char* storage = static_cast<char*>(allocator::Realloc(old_storage, size ? size : 1));
  CHECK(storage) << "out of memory for a serial buffer of " << size << " bytes";
  return storage;
}

}  // namespace

SerialBuffer::SerialBuffer() { InitEmpty(); }

SerialBuffer::SerialBuffer(const void* data, size_t length)
    : storage_(nullptr), header_size_(0), capacity_(kViewCapacity), write_offset_(0) {
  if (length < kHeaderSize) return;
  const char* bytes = static_cast<const char*>(data);
  uint32_t payload_size = LoadUint32(bytes);
  if (payload_size > length) return;
  size_t header_size = length - payload_size;
  if (header_size == 0 || header_size % 4 != 0) return;
  storage_ = const_cast<char*>(bytes);  // never written: ClaimBytes refuses views
  header_size_ = header_size;
  write_offset_ = payload_size;
}

SerialBuffer::SerialBuffer(const SerialBuffer& other) {
  if (!other.storage_) {
    InitEmpty();  // a view that reads nothing copies as an empty buffer
    return;
  }
  header_size_ = other.header_size_;
  write_offset_ = other.payload_size();
  capacity_ = RoundUp(write_offset_, kInitialCapacity);
  storage_ = AllocateOrDie(nullptr, header_size_ + capacity_);
  memcpy(storage_, other.storage_, header_size_ + write_offset_);
}

SerialBuffer::~SerialBuffer() {
  if (!is_view()) allocator::Free(storage_);
}

void SerialBuffer::InitEmpty() {
  header_size_ = kHeaderSize;
  capacity_ = kInitialCapacity;
  write_offset_ = 0;
  storage_ = AllocateOrDie(nullptr, header_size_ + capacity_);
  StoreUint32(storage_, 0);
}

uint32_t SerialBuffer::payload_size() const {
  return storage_ ? LoadUint32(storage_) : 0;
}

void* SerialBuffer::ClaimBytes(size_t size) {
  CHECK(!is_view()) << "a serial buffer view is read-only";
  // The header holds the payload size in 32 bits.
  CHECK(size <= std::numeric_limits<uint32_t>::max() - 3 - write_offset_)
      << "serial buffer field too large";
  size_t padded = RoundUp(size, 4);
  size_t needed = write_offset_ + padded;
  if (needed > capacity_) {
    size_t grown = capacity_ * 2;
    if (grown > kPageSize) grown = RoundUp(grown, kPageSize) - kPageSlack;
    capacity_ = RoundUp(grown > needed ? grown : needed, kInitialCapacity);
    storage_ = AllocateOrDie(storage_, header_size_ + capacity_);
  }
  char* field = storage_ + header_size_ + write_offset_;
  memset(field + size, 0, padded - size);
  write_offset_ = needed;
  StoreUint32(storage_, static_cast<uint32_t>(needed));
  return field;
}

bool SerialBuffer::WriteInt(int32_t value) {
  memcpy(ClaimBytes(sizeof(value)), &value, sizeof(value));
  return true;
}

bool SerialBuffer::WriteString(StringPiece text) {
  CHECK(text.size() < 0x80000000u) << "serial buffer string too long";
  WriteInt(static_cast<int32_t>(text.size()));
  if (!text.empty()) memcpy(ClaimBytes(text.size()), text.data(), text.size());
  return true;
}

bool SerialBuffer::WriteWideString(StringPiece16 text) {
  static_assert(sizeof(wchar_t) == 2, "wide strings are UTF-16");
  CHECK(text.size() < 0x80000000u) << "serial buffer string too long";
  WriteInt(static_cast<int32_t>(text.size()));
  size_t bytes = text.size() * sizeof(wchar_t);
  if (bytes) memcpy(ClaimBytes(bytes), text.data(), bytes);
  return true;
}

// ---------------------------------------------------------------------------- reader

SerialBufferReader::SerialBufferReader(const SerialBuffer& buffer)
    : payload_(buffer.payload()), read_offset_(0), end_offset_(buffer.payload_size()) {}

void SerialBufferReader::Skip(size_t size) {
  size_t padded = RoundUp(size, 4);
  read_offset_ = padded < BytesLeft() ? read_offset_ + padded : end_offset_;
}

bool SerialBufferReader::Fail() {
  read_offset_ = end_offset_;
  return false;
}

bool SerialBufferReader::ReadBool(bool* out) {
  const char* data = nullptr;
  if (!ReadBytes(&data, 1)) return false;
  *out = *data != 0;
  return true;
}

bool SerialBufferReader::ReadInt(int32_t* out) {
  if (BytesLeft() < sizeof(int32_t)) return Fail();
  memcpy(out, payload_ + read_offset_, sizeof(int32_t));
  read_offset_ += sizeof(int32_t);
  return true;
}

bool SerialBufferReader::ReadBytes(const char** data, size_t length) {
  if (length > BytesLeft()) return Fail();
  *data = payload_ + read_offset_;
  Skip(length);
  return true;
}

bool SerialBufferReader::ReadString(std::string* out) {
  int32_t length = 0;
  if (!ReadInt(&length)) return false;
  if (length < 0 || static_cast<size_t>(length) > BytesLeft()) return Fail();
  out->assign(payload_ + read_offset_, static_cast<size_t>(length));
  Skip(static_cast<size_t>(length));
  return true;
}

bool SerialBufferReader::ReadWideString(std::wstring* out) {
  int32_t length = 0;
  if (!ReadInt(&length)) return false;
  // A lying length must not overflow the byte count; like every failure it ends the
  // reader, so no later field is taken from the middle of this one.
  if (length < 0 || length > std::numeric_limits<int32_t>::max() / 2) return Fail();
  size_t bytes = static_cast<size_t>(length) * sizeof(wchar_t);
  if (bytes > BytesLeft()) return Fail();
  out->resize(static_cast<size_t>(length));
  if (bytes) memcpy(&(*out)[0], payload_ + read_offset_, bytes);
  Skip(bytes);
  return true;
}

}  // namespace base
