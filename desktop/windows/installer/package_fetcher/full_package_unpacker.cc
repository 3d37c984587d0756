#include "desktop/windows/installer/package_fetcher/full_package_unpacker.h"

#include <windows.h>

#include "desktop/windows/installer/package_fetcher/lzma_util.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"

namespace installer {

bool FullPackageUnpacker::CarriesPackage(const base::FilePath& file) {
  const DWORD attributes = GetFileAttributesW(file.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  return PayloadReader(file).type() == PayloadReader::FULL_PACKAGE;
}

base::Result<> FullPackageUnpacker::Unpack(const base::FilePath& file,
                                           const base::FilePath& archive,
                                           const base::FilePath& folder) {
  {
    const PayloadReader reader(file);
    if (reader.type() != PayloadReader::FULL_PACKAGE)
      return base::Failure{0, 0, "it carries no full package", file};
    if (!reader.WritePayloadToFile(archive))
      return base::Failure{0, 0, "its archive cannot be written out", archive};
  }
  LzmaUtil lzma;
  const base::Result<> opened = lzma.Open(archive);
  if (!opened.ok()) return opened;
  return lzma.ExtractArchiveTo(folder);
}

}  // namespace installer
