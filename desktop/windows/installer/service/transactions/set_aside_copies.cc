#include "desktop/windows/installer/service/transactions/set_aside_copies.h"

#include <stdint.h>

#include <algorithm>
#include <utility>

#include "base/files/file_enumerator.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

namespace installer {

namespace {

// The second at which `original` was first set aside to become `name`; false when
// `name` is no set-aside copy of it.
bool FirstSetAsideSecond(std::wstring name, const std::wstring& original, int64_t* second) {
  std::wstring taken_from;
  int64_t seconds = 0;
  while (ParseSetAsideName(name, &taken_from, &seconds)) {
    if (base::FilePath::CompareIgnoreCase(taken_from, original) == 0) {
      *second = seconds;
      return true;
    }
    name = taken_from;
  }
  return false;
}

}  // namespace

std::vector<base::FilePath> FindSetAsideCopies(const base::FilePath& path,
                                               int64_t set_aside_before) {
  const base::FilePath file = path.StripTrailingSeparators();
  const std::wstring original = file.BaseName().value();
  std::vector<std::pair<int64_t, base::FilePath>> found;
  base::FileEnumerator entries(file.DirName(), false,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               original + L".*.old");
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    int64_t second = 0;
    std::wstring taken_from;
    int64_t last_second = 0;
    if (FirstSetAsideSecond(entry.BaseName().value(), original, &second) &&
        ParseSetAsideName(entry.BaseName().value(), &taken_from, &last_second) &&
        last_second < set_aside_before)
      found.emplace_back(second, entry);
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<base::FilePath> copies;
  for (auto& copy : found) copies.push_back(std::move(copy.second));
  return copies;
}

}  // namespace installer
