#include "desktop/windows/installer/service/executable_architecture.h"

#include <windows.h>

#include "base/files/memory_mapped_file.h"
#include "base/win/pe_image.h"

namespace installer {

ExecutableArchitecture GetExecutableArchitecture(const base::FilePath& path) {
  if (GetFileAttributesW(path.value().c_str()) == INVALID_FILE_ATTRIBUTES)
    return EXECUTABLE_NOT_AN_IMAGE;
  base::MappedFile mapped;
  if (!mapped.Initialize(path, base::MappedFile::READ_ONLY)) return EXECUTABLE_NOT_AN_IMAGE;
  base::PeHeader header;
  if (!base::ReadPeHeader(mapped.data(), mapped.length(), &header)) return EXECUTABLE_NOT_AN_IMAGE;
  return header.machine == IMAGE_FILE_MACHINE_I386 ? EXECUTABLE_X86 : EXECUTABLE_OTHER_MACHINE;
}

}  // namespace installer
