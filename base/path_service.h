// PathRegistry: the process-wide answer to "where is folder or file N" for the keys of
// base_paths.h and base_paths_win.h. Answers are cached; an override replaces one key
// for the rest of the run and clears the cache.
//
//   FilePath local_app_data;
//   if (PathRegistry::Get(DIR_LOCAL_APP_DATA, &local_app_data)) ...
#ifndef BASE_PATH_SERVICE_H_
#define BASE_PATH_SERVICE_H_

#include "base/base_paths.h"
#include "base/files/file_path.h"

namespace base {

class PathRegistry {
 public:
  // True with *path filled, or false with *path unchanged when no override or provider
  // knows the key. Thread-safe.
  [[nodiscard]] static bool Get(int key, FilePath* path);

  // Makes `path` the answer for `key`. With `create` a missing folder is created first;
  // without `is_absolute` the path is made absolute. Thread-safe.
  [[nodiscard]] static bool Override(int key, const FilePath& path, bool is_absolute, bool create);
};

}  // namespace base

#endif  // BASE_PATH_SERVICE_H_
