#include "desktop/windows/installer/service/payload_block.h"

#include "base/win/pe_image.h"

namespace installer {

namespace {

const char kPayloadMark[] = {'V', 'L', 'M'};

}  // namespace

bool FindPayloadBlockEndingAt(const uint8_t* data, size_t length, uint64_t end,
                              PayloadBlock* block) {
  uint32_t size = 0;
  if (end < sizeof(size) || !base::ReadLittleEndian32(data, length, end - sizeof(size), &size))
    return false;
  // The payload and its mark lie before the length field, within the file.
  const uint64_t payload_end = end - sizeof(size);
  if (payload_end < uint64_t{size} + sizeof(kPayloadMark)) return false;
  const uint64_t offset = payload_end - size;
  if (!base::BytesAt(data, length, offset - sizeof(kPayloadMark), kPayloadMark,
                     sizeof(kPayloadMark)))
    return false;
  block->offset = offset;
  block->length = size;
  return true;
}

bool FindInstallerPayloadBlock(const uint8_t* data, size_t length, uint64_t signature_offset,
                               uint64_t signature_size, PayloadBlock* block, bool* at_end) {
  *at_end = FindPayloadBlockEndingAt(data, length, length, block);
  return *at_end ||
         (signature_size != 0 && FindPayloadBlockEndingAt(data, length, signature_offset, block));
}

}  // namespace installer
