// Reads the headers of a PE image from bytes (a mapped file or a loaded module) with every
// offset checked against the data, so a truncated or hostile image is refused instead of
// read past its end. The payload reader, the signature checks, the architecture probe and
// the instrumented-image check all read their headers here.
#ifndef BASE_WIN_PE_IMAGE_H_
#define BASE_WIN_PE_IMAGE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace base {

// The start of the NT headers: where "PE\0\0" sits and the machine the image is built for.
struct PeHeader {
  uint32_t offset = 0;
  uint16_t machine = 0;
};

// False when |data| does not start as a PE image: "MZ", the header offset at 60, "PE\0\0"
// there and the machine field after it, all inside the data.
[[nodiscard]] bool ReadPeHeader(const uint8_t* data, size_t length, PeHeader* header);

struct PeSecurityDirectory {
  // File offsets of the header checksum and of the security directory entry, which an
  // Authenticode digest leaves out.
  uint64_t checksum_position = 0;
  uint64_t entry_position = 0;
  // The certificate table: file offset and size; size 0 for an unsigned image.
  uint32_t offset = 0;
  uint32_t size = 0;
};

// False when |data| is no PE image (ReadPeHeader) or its headers end before the security
// directory. The directory sits at header + 0x98 in a PE32 image (optional-header magic
// 0x10B) and at header + 0xA8 in a PE32+ one (0x20B); any other magic is no image this
// reads.
[[nodiscard]] bool ReadPeSecurityDirectory(const uint8_t* data, size_t length,
                                           PeSecurityDirectory* directory);

// The file offset where the image's headers and section data end: what the loader reads.
// Whatever follows (a certificate table, an appended payload, a symbol table) lies beyond
// it. False when |data| is no PE image (ReadPeHeader) or ends inside its section table.
[[nodiscard]] bool ReadPeImageEnd(const uint8_t* data, size_t length, uint64_t* end);

// The names of the image's sections in table order, each without its NUL padding; false
// when the image or its section table does not fit in the data.
[[nodiscard]] bool ReadPeSectionNames(const uint8_t* data, size_t length,
                                      std::vector<std::string>* names);

// Little-endian reads inside [data, data + length); false when the value does not fit.
[[nodiscard]] bool ReadLittleEndian16(const uint8_t* data, size_t length, uint64_t offset,
                                      uint16_t* value);
[[nodiscard]] bool ReadLittleEndian32(const uint8_t* data, size_t length, uint64_t offset,
                                      uint32_t* value);
// True when |size| bytes at |offset| lie inside the data and equal |bytes|.
[[nodiscard]] bool BytesAt(const uint8_t* data, size_t length, uint64_t offset, const void* bytes,
                           size_t size);

}  // namespace base

#endif  // BASE_WIN_PE_IMAGE_H_
