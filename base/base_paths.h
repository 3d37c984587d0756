// Path keys answered on every platform, and their provider.
#ifndef BASE_BASE_PATHS_H_
#define BASE_BASE_PATHS_H_

#include "base/base_paths_win.h"
#include "base/files/file_path.h"

namespace base {

enum BasePathKey {
  DIR_CURRENT = 1,       // the process's current directory; never cached
  DIR_EXE = 2,           // directory of the host executable
  DIR_MODULE = 3,        // directory of this library
  DIR_TEMP = 4,          // the temporary directory
  DIR_HOME = 5,          // the user's home directory
  FILE_EXE = 6,          // full path of the host executable
  FILE_MODULE = 7,       // full path of this library
  DIR_SOURCE_ROOT = 8,   // two levels above DIR_EXE
  DIR_USER_DESKTOP = 9,  // the user's desktop
  DIR_TEST_DATA = 10,    // DIR_SOURCE_ROOT\base\test\data, when it exists
};

// Answers DIR_EXE, DIR_MODULE, DIR_TEMP, DIR_HOME and DIR_TEST_DATA; false with *result
// left alone for any other key or on failure.
[[nodiscard]] bool BasePathProvider(int key, FilePath* result);

}  // namespace base

#endif  // BASE_BASE_PATHS_H_
