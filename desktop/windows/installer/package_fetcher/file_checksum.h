// Checks a downloaded file against the SHA-256 checksum the update server sent.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FILE_CHECKSUM_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FILE_CHECKSUM_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/values.h"

namespace installer {

// Whether |checksum| is 64 lower-case hexadecimal digits, the only form that
// CheckFileChecksum can match: anything else fails before a byte is downloaded.
bool IsSha256Hex(const std::string& checksum);

// True when the SHA-256 of the file, as lower-case hexadecimal, equals |expected| exactly.
// Otherwise, when |report| is not null, it receives what went wrong: "detail" and, for a
// mismatch, both checksums, the length and the first and last bytes of the file.
[[nodiscard]] bool CheckFileChecksum(const base::FilePath& path, const std::string& expected,
                                     std::unique_ptr<base::Dictionary>* report);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FILE_CHECKSUM_H_
