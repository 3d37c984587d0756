// Test helpers: a private scratch folder that is removed with its contents, and a
// directory link (a junction; under Wine a symbolic link made from the host side).
#ifndef BASE_FILES_SCRATCH_DIR_TEST_UTIL_H_
#define BASE_FILES_SCRATCH_DIR_TEST_UTIL_H_

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_path.h"

namespace base {

class ScratchDir {
 public:
  // Creates a new empty folder under the temporary folder; path() is empty on failure.
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const FilePath& path() const { return path_; }

 private:
  FilePath path_;
};

// A fixture owning a scratch folder, with names resolved inside it.
class ScratchDirTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
  FilePath Path(const wchar_t* name) const { return scratch_.path().Append(name); }
  // Writes |text| to |name| in the folder (a failure fails the test); returns its path.
  FilePath Write(const wchar_t* name, const std::string& text);
  // Creates folders (names ending in "\") and files (holding their own name).
  void MakeTree(const std::vector<std::wstring>& entries);

  ScratchDir scratch_;
};

// Makes |link| a directory link to the existing folder |target|. Under Wine, which
// cannot create reparse points, the link is a host symbolic link (Wine shows it as a
// reparse point). False with |error| set when it cannot be made.
[[nodiscard]] bool MakeDirectoryLink(const FilePath& link, const FilePath& target,
                                     std::string* error);

// Removes a link made by MakeDirectoryLink (Wine cannot remove host links itself).
[[nodiscard]] bool RemoveDirectoryLink(const FilePath& link);

// True when running under Wine.
bool RunningUnderWine();

// The host (Unix) path of |path| under Wine; empty elsewhere or when it has none.
std::string UnixPath(const FilePath& path);

// Starts |command|, which under Wine may name a host program by its Unix path. Wine gives
// no waitable process for host programs, so callers wait on what the program makes.
[[nodiscard]] bool StartHostCommand(const std::string& command);

// Waits until |path| exists (or no longer does), watching its folder for changes; false
// when no change came within |timeout_ms| of the previous one.
[[nodiscard]] bool WaitForPathExistence(const FilePath& path, bool should_exist, DWORD timeout_ms);

// Writes |text| to |path| (created or truncated); false on any failure.
[[nodiscard]] bool WriteTextFile(const FilePath& path, const std::string& text);

}  // namespace base

#endif  // BASE_FILES_SCRATCH_DIR_TEST_UTIL_H_
