// The block in which this product's installers carry their payload (tracking data or a
// full package) after their image: "VLM", the payload, the payload's length as u32
// little-endian. It ends at the end of the file or, in a signed file, at its certificate
// table. The fetcher reads it; a program that carries one is refused where an archive is
// expected.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PAYLOAD_BLOCK_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PAYLOAD_BLOCK_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "base/files/file_path.h"
#include "base/result.h"

namespace installer {

struct PayloadBlock {
  // Where the payload starts in the file, after the mark.
  uint64_t offset = 0;
  uint32_t length = 0;
};

// Whether a block ends at `end` of the `length` bytes at `data`; its payload in `block`.
[[nodiscard]] bool FindPayloadBlockEndingAt(const uint8_t* data, size_t length, uint64_t end,
                                            PayloadBlock* block);

// Whether the image at `data`, whose certificate table `signature_offset` and
// `signature_size` give (size 0: unsigned), carries a block where installers carry it: at
// its end (`at_end`) or, signed, right before its certificate table.
[[nodiscard]] bool FindInstallerPayloadBlock(const uint8_t* data, size_t length,
                                             uint64_t signature_offset, uint64_t signature_size,
                                             PayloadBlock* block, bool* at_end);

// Fails when the program held open by `held` (read through that handle) carries such a
// block where installers carry it: it is an installer of this product, never a
// component's archive. A file whose headers cannot be read is refused too. `program`
// names it in the failure.
[[nodiscard]] base::Result<> RefuseProductPayload(HANDLE held, const base::FilePath& program);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PAYLOAD_BLOCK_H_
