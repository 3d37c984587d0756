#include "desktop/windows/installer/service/transactions/set_aside_copies.h"

#include <stdint.h>

#include <algorithm>
#include <utility>

#include "base/files/file_enumerator.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

namespace installer {

SetAsideCopyIndex::SetAsideCopyIndex() = default;
SetAsideCopyIndex::~SetAsideCopyIndex() = default;

bool SetAsideCopyIndex::IgnoreCaseLess::operator()(const std::wstring& a,
                                                   const std::wstring& b) const {
  return base::FilePath::CompareIgnoreCase(a, b) < 0;
}

std::vector<base::FilePath> SetAsideCopyIndex::CopiesSince(const base::FilePath& path,
                                                           int64_t first_second) {
  const base::FilePath file = path.StripTrailingSeparators();
  const base::FilePath folder = file.DirName();
  auto listed = folders_.find(folder.value());
  if (listed == folders_.end()) {
    listed = folders_.emplace(folder.value(), Copies()).first;
    base::FileEnumerator entries(folder, false,
                                 base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                                 L"*.old");
    for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
      // A copy of each name its own was set aside from, by the second that one was.
      std::wstring name = entry.BaseName().value();
      std::wstring taken_from;
      int64_t second = 0;
      while (ParseSetAsideName(name, &taken_from, &second)) {
        listed->second[taken_from].push_back({second, entry});
        name = taken_from;
      }
    }
  }
  std::vector<Copy> found;
  const auto copies = listed->second.find(file.BaseName().value());
  if (copies != listed->second.end()) {
    for (const Copy& copy : copies->second) {
      if (copy.first_second >= first_second) found.push_back(copy);
    }
  }
  // A copy set aside again later comes after the copy it was made from.
  std::stable_sort(found.begin(), found.end(), [](const Copy& a, const Copy& b) {
    return a.first_second != b.first_second ? a.first_second < b.first_second
                                            : a.path.value().size() < b.path.value().size();
  });
  std::vector<base::FilePath> paths;
  for (Copy& copy : found) paths.push_back(std::move(copy.path));
  return paths;
}

std::vector<base::FilePath> FindSetAsideCopiesSince(const base::FilePath& path,
                                                    int64_t first_second) {
  return SetAsideCopyIndex().CopiesSince(path, first_second);
}

}  // namespace installer
