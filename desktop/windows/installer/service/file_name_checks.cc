#include "desktop/windows/installer/service/file_name_checks.h"

#include <wchar.h>

namespace installer {

namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// A digit that makes COMn and LPTn devices: 0-9 and, since Windows 10, the superscripts.
bool IsDeviceDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

NameProblem CheckComponent(const std::wstring& component) {
  if (component.empty() || component == L"." || component == L"..") return NameProblem::kOutside;
  for (wchar_t c : component) {
    if (c == L':') return NameProblem::kOutside;
    if (c < 32 || c == 127 || wcschr(L"<>\"|?*", c)) return NameProblem::kCharacter;
  }
  if (IsDeviceName(component)) return NameProblem::kDevice;
  if (component.back() == L' ' || component.back() == L'.') return NameProblem::kCharacter;
  return NameProblem::kNone;
}

}  // namespace

bool IsDeviceName(const std::wstring& component) {
  std::wstring stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) stem.pop_back();
  for (wchar_t& c : stem)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
      stem == L"CONOUT$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         IsDeviceDigit(stem[3]);
}

NameProblem CheckRelativePath(const std::wstring& path) {
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    // An empty component: the path is empty, rooted, a server's, or has "\\" inside.
    const NameProblem problem = CheckComponent(path.substr(start, end - start));
    if (problem != NameProblem::kNone) return problem;
    if (end == path.size()) return NameProblem::kNone;
    start = end + 1;
  }
}

bool IsBareFileName(const std::wstring& name) {
  for (wchar_t c : name)
    if (IsSeparator(c)) return false;
  return CheckRelativePath(name) == NameProblem::kNone;
}

}  // namespace installer
