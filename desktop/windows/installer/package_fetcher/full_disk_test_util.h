// A write function for OutputWriter and LzmaUtil that fails one output as a full disk does.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FULL_DISK_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FULL_DISK_TEST_UTIL_H_

#include "desktop/windows/installer/package_fetcher/output_writer.h"

namespace installer {
namespace testing {

// Writes every output whole with ::WriteFile, except the one whose path ends with the
// components |name| ("docs/text.txt"): of that it writes half, then fails with
// ERROR_DISK_FULL.
OutputWriter::WriteData FullDiskAt(const char* name);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FULL_DISK_TEST_UTIL_H_
