#include "base/base_paths.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/path_service.h"

namespace base {

bool BasePathProvider(int key, FilePath* result) {
  FilePath path;
  switch (key) {
    case DIR_EXE:
    case DIR_MODULE:
      // A failed lookup of the file is this key's failure too, not ".".
      if (!PathRegistry::Get(key == DIR_EXE ? FILE_EXE : FILE_MODULE, &path)) return false;
      path = path.DirName();
      break;
    case DIR_TEMP:
      if (!GetTempDir(&path)) return false;
      break;
    case DIR_HOME:
      path = GetHomeDir();
      break;
    case DIR_TEST_DATA:
      if (!PathRegistry::Get(DIR_SOURCE_ROOT, &path)) return false;
      path = path.Append(L"base").Append(L"test").Append(L"data");
      if (GetFileAttributesW(path.value().c_str()) == INVALID_FILE_ATTRIBUTES) return false;
      break;
    default:
      return false;
  }
  *result = path;
  return true;
}

}  // namespace base
