#include "desktop/windows/installer/package_fetcher/full_disk_test_util.h"

#include <string>

#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace testing {

OutputWriter::WriteData FullDiskAt(const char* name) {
  std::wstring ending = L"\\" + base::UTF8ToWide(name);
  for (wchar_t& c : ending) {
    if (c == L'/') c = L'\\';
  }
  return [ending](HANDLE file, const base::FilePath& path, const unsigned char* data,
                  DWORD size, DWORD* written) {
    const std::wstring& value = path.value();
    const bool full = value.size() >= ending.size() &&
                      value.compare(value.size() - ending.size(), ending.size(), ending) == 0;
    if (!::WriteFile(file, data, full ? size / 2 : size, written, nullptr)) return false;
    if (!full) return true;
    ::SetLastError(ERROR_DISK_FULL);
    return false;
  };
}

}  // namespace testing
}  // namespace installer
