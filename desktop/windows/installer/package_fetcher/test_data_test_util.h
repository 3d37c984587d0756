// Where the tests find the data made at build time (tools/make-testdata.sh and
// tools/make-signing-testdata.sh): $VELUM_TESTDATA, seen through Wine's drive Z:.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_TEST_DATA_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_TEST_DATA_TEST_UTIL_H_

#include <string>

#include "base/files/file_path.h"
#include "base/process/process.h"

namespace installer {
namespace testing {

// The folder itself ("testdata" when the variable is unset).
base::FilePath TestDataDir();
// A file below it; |relative| uses "/".
base::FilePath TestDataPath(const char* relative);

// The whole contents of |path|; a file that cannot be read fails the test.
std::string ReadAll(const base::FilePath& path);

// Starts `driver`, a full-package installer made of the take driver
// (elevated_take_test_helper.cc), to take the package of `package` and the `components`
// into `destination`, its result written to `result`; `events` followed by "-ready" and
// "-go" names the events the caller made for it.
base::Process StartTakeDriver(const base::FilePath& driver, const std::wstring& events,
                              const base::FilePath& package, const base::FilePath& destination,
                              const base::FilePath& result,
                              const std::wstring& components = std::wstring());

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_TEST_DATA_TEST_UTIL_H_
