#include "desktop/windows/installer/service/executable_architecture.h"

#include <windows.h>
#include <string.h>

#include "base/files/memory_mapped_file.h"

namespace installer {

ExecutableArchitecture GetExecutableArchitecture(const base::FilePath& path) {
  if (GetFileAttributesW(path.value().c_str()) == INVALID_FILE_ATTRIBUTES)
    return EXECUTABLE_NOT_AN_IMAGE;
  base::MappedFile mapped;
  if (!mapped.Initialize(path, base::MappedFile::READ_ONLY)) return EXECUTABLE_NOT_AN_IMAGE;
  const uint8_t* data = mapped.data();
  const size_t length = mapped.length();

  const size_t kHeaderOffsetField = 0x3C;
  if (length < kHeaderOffsetField + sizeof(int32_t) || data[0] != 'M' || data[1] != 'Z')
    return EXECUTABLE_NOT_AN_IMAGE;
  int32_t header_offset = 0;
  memcpy(&header_offset, data + kHeaderOffsetField, sizeof(header_offset));
  // The signature and the machine field after it must lie inside the file.
  if (header_offset < 0 || static_cast<size_t>(header_offset) > length - 6)
    return EXECUTABLE_NOT_AN_IMAGE;
  const uint8_t* header = data + header_offset;
  if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0)
    return EXECUTABLE_NOT_AN_IMAGE;
  const uint16_t machine = static_cast<uint16_t>(header[4] | (header[5] << 8));
  return machine == IMAGE_FILE_MACHINE_I386 ? EXECUTABLE_X86 : EXECUTABLE_OTHER_MACHINE;
}

}  // namespace installer
