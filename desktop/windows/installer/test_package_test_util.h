// Test helpers: the test browser packages made by the build (testing/test_pkg/) and the
// fake programs in them.
#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_PACKAGE_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_PACKAGE_TEST_UTIL_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {
namespace testing {

// "test_pkg", "test_pkg_v2", "test_pkg_full" (test_pkg with its own installer, the backend
// test helper) or "components" beside the running test EXE; also the full-package
// installer "test_pkg_full_installer.exe" that carries test_pkg_full.
base::FilePath GetTestPackageFolder(const wchar_t* name);

// The version a package stands for (its "VERSION" file).
std::string GetTestPackageVersion(const wchar_t* name);

// Starts `program` (a fake program) with "--sleep" and returns once it runs; an invalid
// handle on failure. The caller ends it with TerminateProcess.
base::ScopedHandle StartSleepingFakeProgram(const base::FilePath& program);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_PACKAGE_TEST_UTIL_H_
