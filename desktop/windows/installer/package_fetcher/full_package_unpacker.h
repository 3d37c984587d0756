// The elevated hand-over's unpacker: the payload reader finds the 7z archive a
// full-package installer carries, and the LZMA extraction unpacks it.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FULL_PACKAGE_UNPACKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FULL_PACKAGE_UNPACKER_H_

#include "desktop/windows/installer/package_copy.h"

namespace installer {

class FullPackageUnpacker final : public PackageUnpacker {
 public:
  bool CarriesPackage(const base::FilePath& file) override;
  [[nodiscard]] base::Result<> Unpack(const base::FilePath& file, const base::FilePath& archive,
                                      const base::FilePath& folder) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FULL_PACKAGE_UNPACKER_H_
