#include "base/path_service.h"

#include <map>

#include "base/files/file_util.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

typedef bool (*PathProvider)(int key, FilePath* result);

// Asked in this order until one answers.
const PathProvider kProviders[] = {WindowsPathProvider, BasePathProvider};

struct PathData {
  Lock lock;
  std::map<int, FilePath> cache;
  std::map<int, FilePath> overrides;
};

PathData& GetPathData() {
  // Created once, thread-safely, and never destroyed: callers may run during exit.
  static PathData* data = new PathData;
  return *data;
}

}  // namespace

// static
bool PathRegistry::Get(int key, FilePath* path) {
  if (key == DIR_CURRENT) return GetCurrentDirectoryPath(path);

  PathData& data = GetPathData();
  {
    AutoLock hold(data.lock);
    auto cached = data.cache.find(key);
    if (cached != data.cache.end()) {
      *path = cached->second;
      return true;
    }
    auto overridden = data.overrides.find(key);
    if (overridden != data.overrides.end()) {
      data.cache[key] = overridden->second;
      *path = overridden->second;
      return true;
    }
  }

  // Providers run without the lock: they ask for the keys they build on. Two threads may
  // compute one key at once; the later store wins.
  FilePath result;
  for (PathProvider provider : kProviders) {
    result.clear();
    if (provider(key, &result)) break;
  }
  if (result.empty()) return false;
  if (result.ReferencesParent()) {
    result = MakeAbsoluteFilePath(result);
    if (result.empty()) return false;
  }

  *path = result;
  AutoLock hold(data.lock);
  data.cache[key] = result;
  return true;
}

// static
bool PathRegistry::Override(int key, const FilePath& path, bool is_absolute, bool create) {
  FilePath file_path = path;
  if (create && GetFileAttributesW(file_path.value().c_str()) == INVALID_FILE_ATTRIBUTES &&
      !CreateDirectory(file_path)) {
    return false;
  }
  if (!is_absolute) {
    file_path = MakeAbsoluteFilePath(file_path);
    if (file_path.empty()) return false;
  }

  PathData& data = GetPathData();
  AutoLock hold(data.lock);
  data.cache.clear();
  data.overrides[key] = file_path;
  return true;
}

}  // namespace base
