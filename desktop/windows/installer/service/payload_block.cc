#include "desktop/windows/installer/service/payload_block.h"

#include "base/win/pe_image.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

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

base::Result<> RefuseProductPayload(HANDLE held, const base::FilePath& program) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(held, &size) || size.QuadPart <= 0)
    return base::Failure{GetLastError(), 0, "it cannot be read", program};
  const base::ScopedHandle mapping(CreateFileMappingW(held, nullptr, PAGE_READONLY, 0, 0, nullptr));
  const base::ScopedMappedView view(
      mapping.IsValid() ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view.IsValid()) return base::Failure{GetLastError(), 0, "it cannot be read", program};
  const uint8_t* data = static_cast<const uint8_t*>(view.Get());
  const size_t length = static_cast<size_t>(size.QuadPart);
  base::PeSecurityDirectory directory;
  if (!base::ReadPeSecurityDirectory(data, length, &directory))
    return base::Failure{0, 0, "it is no program image", program};
  PayloadBlock block;
  bool at_end = false;
  if (FindInstallerPayloadBlock(data, length, directory.offset, directory.size, &block,
                                &at_end)) {
    return base::Failure{0, 0, "it carries this product's payload: an installer, not an archive",
                         program};
  }
  return base::Result<>();
}

}  // namespace installer
