#include "base/win/pe_image.h"

#include <string.h>

#include <algorithm>

namespace base {

namespace {

const char kPeSignature[] = {'P', 'E', '\0', '\0'};
const uint64_t kPeHeaderOffsetPosition = 60;
const uint64_t kMachineOffset = 4;
const uint64_t kSectionCountOffset = 6;
const uint64_t kOptionalHeaderSizeOffset = 20;
const uint64_t kOptionalHeaderOffset = 24;
const uint64_t kSectionHeaderSize = 40;
const size_t kSectionNameSize = 8;
// SizeOfHeaders, at the same place in both optional-header formats.
const uint64_t kHeadersSizeOffset = 60;
const uint64_t kRawSizeOffset = 16;
const uint64_t kRawPointerOffset = 20;
// The optional header's magic tells its format; the machine field does not (an image
// for one machine may carry either format).
const uint64_t kOptionalHeaderMagicOffset = 24;
const uint16_t kPe32Magic = 0x010B;
const uint16_t kPe32PlusMagic = 0x020B;
// The checksum is at the same place in both optional-header formats.
const uint64_t kChecksumOffset = 0x58;
const uint64_t kSecurityDirectoryOffset32 = 0x98;
const uint64_t kSecurityDirectoryOffset64 = 0xA8;

bool Fits(size_t length, uint64_t offset, uint64_t size) {
  return offset <= length && length - offset >= size;
}

}  // namespace

bool ReadLittleEndian16(const uint8_t* data, size_t length, uint64_t offset, uint16_t* value) {
  if (!Fits(length, offset, 2)) return false;
  const uint8_t* p = data + offset;
  *value = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

bool ReadLittleEndian32(const uint8_t* data, size_t length, uint64_t offset, uint32_t* value) {
  if (!Fits(length, offset, 4)) return false;
  const uint8_t* p = data + offset;
  *value = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

bool BytesAt(const uint8_t* data, size_t length, uint64_t offset, const void* bytes, size_t size) {
  return Fits(length, offset, size) && memcmp(data + offset, bytes, size) == 0;
}

bool ReadPeHeader(const uint8_t* data, size_t length, PeHeader* header) {
  PeHeader read;
  if (!data || !BytesAt(data, length, 0, "MZ", 2) ||
      !ReadLittleEndian32(data, length, kPeHeaderOffsetPosition, &read.offset) ||
      !BytesAt(data, length, read.offset, kPeSignature, sizeof(kPeSignature)) ||
      !ReadLittleEndian16(data, length, uint64_t{read.offset} + kMachineOffset, &read.machine)) {
    return false;
  }
  *header = read;
  return true;
}

bool ReadPeSecurityDirectory(const uint8_t* data, size_t length, PeSecurityDirectory* directory) {
  PeHeader header;
  uint16_t magic = 0;
  if (!ReadPeHeader(data, length, &header) ||
      !ReadLittleEndian16(data, length, uint64_t{header.offset} + kOptionalHeaderMagicOffset,
                          &magic) ||
      (magic != kPe32Magic && magic != kPe32PlusMagic)) {
    return false;
  }
  const uint64_t entry = uint64_t{header.offset} +
                         (magic == kPe32Magic ? kSecurityDirectoryOffset32
                                              : kSecurityDirectoryOffset64);
  PeSecurityDirectory read;
  read.checksum_position = uint64_t{header.offset} + kChecksumOffset;
  read.entry_position = entry;
  if (!ReadLittleEndian32(data, length, entry, &read.offset) ||
      !ReadLittleEndian32(data, length, entry + 4, &read.size)) {
    return false;
  }
  *directory = read;
  return true;
}

bool ReadPeImageEnd(const uint8_t* data, size_t length, uint64_t* end) {
  PeHeader header;
  uint16_t sections = 0;
  uint16_t optional_size = 0;
  uint32_t headers_size = 0;
  if (!ReadPeHeader(data, length, &header) ||
      !ReadLittleEndian16(data, length, uint64_t{header.offset} + kSectionCountOffset,
                          &sections) ||
      !ReadLittleEndian16(data, length, uint64_t{header.offset} + kOptionalHeaderSizeOffset,
                          &optional_size) ||
      !ReadLittleEndian32(data, length,
                          uint64_t{header.offset} + kOptionalHeaderOffset + kHeadersSizeOffset,
                          &headers_size)) {
    return false;
  }
  uint64_t image_end = headers_size;
  const uint64_t table = uint64_t{header.offset} + kOptionalHeaderOffset + optional_size;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint64_t section = table + i * kSectionHeaderSize;
    uint32_t raw_size = 0;
    uint32_t raw_pointer = 0;
    if (!ReadLittleEndian32(data, length, section + kRawSizeOffset, &raw_size) ||
        !ReadLittleEndian32(data, length, section + kRawPointerOffset, &raw_pointer)) {
      return false;
    }
    // A section without file data (.bss) may carry any pointer.
    if (raw_size != 0)
      image_end = std::max<uint64_t>(image_end, uint64_t{raw_pointer} + raw_size);
  }
  *end = image_end;
  return true;
}

bool ReadPeSectionNames(const uint8_t* data, size_t length, std::vector<std::string>* names) {
  PeHeader header;
  uint16_t count = 0;
  uint16_t optional_size = 0;
  if (!ReadPeHeader(data, length, &header) ||
      !ReadLittleEndian16(data, length, uint64_t{header.offset} + kSectionCountOffset, &count) ||
      !ReadLittleEndian16(data, length, uint64_t{header.offset} + kOptionalHeaderSizeOffset,
                          &optional_size)) {
    return false;
  }
  const uint64_t table = uint64_t{header.offset} + kOptionalHeaderOffset + optional_size;
  if (!Fits(length, table, count * kSectionHeaderSize)) return false;
  std::vector<std::string> read;
  for (uint16_t i = 0; i < count; ++i) {
    const char* name = reinterpret_cast<const char*>(data + table + i * kSectionHeaderSize);
    read.emplace_back(name, strnlen(name, kSectionNameSize));
  }
  names->swap(read);
  return true;
}

}  // namespace base
