#include "desktop/windows/installer/service/path_spelling.h"

#include <windows.h>

#include <string>

#include "base/win/scoped_generic.h"

namespace installer {

namespace {

// `component` of `parent` as `parent` lists it, or empty when it cannot be told.
std::wstring ListedName(const std::wstring& parent, const std::wstring& component) {
  WIN32_FIND_DATAW found = {};
  const base::ScopedFindHandle search(FindFirstFileExW((parent + component).c_str(),
                                                       FindExInfoStandard, &found,
                                                       FindExSearchNameMatch, nullptr, 0));
  if (!search.IsValid()) return std::wstring();
  // The search takes wildcards and drops trailing dots and blanks: only the name itself or
  // its short form is the same entry.
  if (base::FilePath::CompareIgnoreCase(found.cFileName, component) != 0 &&
      base::FilePath::CompareIgnoreCase(found.cAlternateFileName, component) != 0) {
    return std::wstring();
  }
  return found.cFileName;
}

}  // namespace

base::FilePath SpellAsListed(const base::FilePath& path) {
  const std::wstring text = path.NormalizePathSeparators().value();
  const bool drive = text.size() >= 3 && text[1] == L':' && text[2] == L'\\' &&
                     ((text[0] >= L'a' && text[0] <= L'z') || (text[0] >= L'A' && text[0] <= L'Z'));
  // A share, a device or a relative path: nothing to list it from.
  if (!drive) return base::FilePath(text).StripTrailingSeparators();
  std::wstring result = {static_cast<wchar_t>(text[0] & ~0x20), L':', L'\\'};
  size_t start = 3;
  bool listing = true;
  while (start < text.size()) {
    size_t end = text.find(L'\\', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring component = text.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    const std::wstring parent = result.back() == L'\\' ? result : result + L'\\';
    if (listing) {
      const std::wstring listed = ListedName(parent, component);
      listing = !listed.empty();
      if (listing) component = listed;
    }
    result = parent + component;
  }
  return base::FilePath(result);
}

}  // namespace installer
