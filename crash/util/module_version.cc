#include "crash/util/module_version.h"

#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"

namespace crash_reporter {

bool GetModuleVersion(const std::wstring& path, VS_FIXEDFILEINFO* version) {
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) {
    // A module without a version resource is not worth a line.
    if (GetLastError() != ERROR_RESOURCE_TYPE_NOT_FOUND)
      PLOG(WARNING) << "GetFileVersionInfoSize: " << base::WideToUTF8(path);
    return false;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
    PLOG(WARNING) << "GetFileVersionInfo: " << base::WideToUTF8(path);
    return false;
  }
  void* root = nullptr;
  UINT root_size = 0;
  if (!VerQueryValueW(data.data(), L"\\", &root, &root_size) || root_size < sizeof(*version)) {
    PLOG(WARNING) << "VerQueryValue";
    return false;
  }
  *version = *static_cast<const VS_FIXEDFILEINFO*>(root);
  version->dwFileFlags &= version->dwFileFlagsMask;
  return true;
}

}  // namespace crash_reporter
