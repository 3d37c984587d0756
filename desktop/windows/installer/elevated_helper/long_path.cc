#include "desktop/windows/installer/elevated_helper/long_path.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"

namespace installer {

base::Result<base::FilePath> WithLongNames(const base::FilePath& path) {
  std::vector<std::wstring> missing;
  base::FilePath existing = path.StripTrailingSeparators();
  while (!base::PathExists(existing) && existing.DirName() != existing) {
    missing.push_back(existing.BaseName().value());
    existing = existing.DirName();
  }
  std::vector<wchar_t> buffer(GetLongPathNameW(existing.value().c_str(), nullptr, 0) + 1);
  const DWORD length = GetLongPathNameW(existing.value().c_str(), buffer.data(),
                                        static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size())
    return base::Failure{GetLastError(), 0, "the path cannot be resolved", path};
  base::FilePath long_path =
      base::FilePath(std::wstring(buffer.data(), length)).StripTrailingSeparators();
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) long_path = long_path.Append(*it);
  return long_path;
}

}  // namespace installer
