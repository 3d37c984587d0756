// Where a PE image keeps its certificate table, read with every offset checked against
// the file, for the payload reader and the signature checks.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PE_IMAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PE_IMAGE_H_

#include <stddef.h>
#include <stdint.h>

namespace installer {

struct PeSecurityDirectory {
  // File offsets of the header checksum and of the security directory entry, which an
  // Authenticode digest leaves out.
  uint64_t checksum_position = 0;
  uint64_t entry_position = 0;
  // The certificate table: file offset and size; size 0 for an unsigned image.
  uint32_t offset = 0;
  uint32_t size = 0;
};

// False when |data| does not start as a PE image ("MZ", the header offset at 60, "PE\0\0"
// there) or its headers end before the security directory. The directory sits at header
// + 0x98 in a PE32 image (optional-header magic 0x10B) and at header + 0xA8 in a PE32+ one
// (0x20B); any other magic is no image this reads.
[[nodiscard]] bool ReadPeSecurityDirectory(const uint8_t* data, size_t length,
                                           PeSecurityDirectory* directory);

// Little-endian reads inside [data, data + length); false when the value does not fit.
[[nodiscard]] bool ReadLittleEndian16(const uint8_t* data, size_t length, uint64_t offset,
                                      uint16_t* value);
[[nodiscard]] bool ReadLittleEndian32(const uint8_t* data, size_t length, uint64_t offset,
                                      uint32_t* value);
// True when |size| bytes at |offset| lie inside the data and equal |bytes|.
[[nodiscard]] bool BytesAt(const uint8_t* data, size_t length, uint64_t offset, const void* bytes,
                           size_t size);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PE_IMAGE_H_
