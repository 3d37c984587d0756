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

namespace {

// Each set-aside copy of `path` with the second it was first set aside and the second it
// was last set aside.
struct FoundCopy {
  int64_t first_second;
  int64_t last_second;
  base::FilePath path;
};

std::vector<FoundCopy> EnumerateSetAsideCopies(const base::FilePath& path) {
  const base::FilePath file = path.StripTrailingSeparators();
  const std::wstring original = file.BaseName().value();
  std::vector<FoundCopy> found;
  base::FileEnumerator entries(file.DirName(), false,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               original + L".*.old");
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    int64_t second = 0;
    std::wstring taken_from;
    int64_t last_second = 0;
    if (FirstSetAsideSecond(entry.BaseName().value(), original, &second) &&
        ParseSetAsideName(entry.BaseName().value(), &taken_from, &last_second))
      found.push_back({second, last_second, entry});
  }
  return found;
}

std::vector<base::FilePath> PathsOf(std::vector<FoundCopy>* found) {
  std::vector<base::FilePath> copies;
  for (FoundCopy& copy : *found) copies.push_back(std::move(copy.path));
  return copies;
}

}  // namespace

std::vector<base::FilePath> FindSetAsideCopies(const base::FilePath& path,
                                               int64_t set_aside_before) {
  std::vector<FoundCopy> found = EnumerateSetAsideCopies(path);
  found.erase(std::remove_if(found.begin(), found.end(),
                             [set_aside_before](const FoundCopy& copy) {
                               return copy.last_second >= set_aside_before;
                             }),
              found.end());
  std::stable_sort(found.begin(), found.end(), [](const FoundCopy& a, const FoundCopy& b) {
    return a.first_second > b.first_second;
  });
  return PathsOf(&found);
}

std::vector<base::FilePath> FindSetAsideCopiesSince(const base::FilePath& path,
                                                    int64_t first_second) {
  std::vector<FoundCopy> found = EnumerateSetAsideCopies(path);
  found.erase(std::remove_if(found.begin(), found.end(),
                             [first_second](const FoundCopy& copy) {
                               return copy.first_second < first_second;
                             }),
              found.end());
  // A copy set aside again later comes after the copy it was made from.
  std::stable_sort(found.begin(), found.end(), [](const FoundCopy& a, const FoundCopy& b) {
    return a.first_second != b.first_second ? a.first_second < b.first_second
                                            : a.path.value().size() < b.path.value().size();
  });
  return PathsOf(&found);
}

}  // namespace installer
