// Test helpers for the file operations: files with given contents and attributes, and
// whether any set-aside ".old" item remains in a tree.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATION_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATION_TEST_UTIL_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"

namespace installer {
namespace testing {

// Creates the folders above |path| and writes |text|; with |read_only| the file is
// marked read-only afterwards.
[[nodiscard]] bool MakeFile(const base::FilePath& path, const std::string& text,
                            bool read_only = false);

// The text of a file, or "<missing>".
std::string ReadText(const base::FilePath& path);

// True when an entry whose name ends with ".old" exists below |root|.
bool HasSetAsideItem(const base::FilePath& root);

// Gives |path| an access list that denies the current user |access| and names nobody
// else.
[[nodiscard]] bool DenyFileToCurrentUser(const base::FilePath& path, DWORD access);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_FILE_OPERATION_TEST_UTIL_H_
