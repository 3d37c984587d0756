// Where the tests find the data made at build time (tools/make-testdata.sh and
// tools/make-signing-testdata.sh): $VELUM_TESTDATA, seen through Wine's drive Z:.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_TEST_DATA_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_TEST_DATA_TEST_UTIL_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {
namespace testing {

// The folder itself ("testdata" when the variable is unset).
base::FilePath TestDataDir();
// A file below it; |relative| uses "/".
base::FilePath TestDataPath(const char* relative);

// The whole contents of |path|; a file that cannot be read fails the test.
std::string ReadAll(const base::FilePath& path);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_TEST_DATA_TEST_UTIL_H_
