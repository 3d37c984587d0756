#include "desktop/windows/installer/service/held_tree.h"

#include <utility>

#include "base/logging.h"

namespace installer {

base::Result<> HoldNameOrItsLink(const HeldFile& folder, const base::FilePath& path,
                                DWORD access, DWORD share, HeldFile* held) {
  const base::Result<> result = HoldChild(folder, path, access, share, false, false, held);
  if (result.ok() || result.failure().kind != kHeldLink) return result;
  // Windows opens its own links as themselves: deleting one deletes the link alone.
  bool at_name = false;
  if (!held->OpenChild(folder, path.BaseName().value(), access, share) ||
      !held->is_reparse_point() || !IsAtNameIn(folder, path.BaseName().value(), *held, &at_name) ||
      !at_name) {
    *held = HeldFile();
    return result;
  }
  return {};
}

HeldTree::HeldTree(const base::FilePath& top_path, HeldFile top,
                   std::function<void(const base::FilePath&)> between)
    : top_path_(top_path.StripTrailingSeparators()),
      top_(std::move(top)),
      between_(std::move(between)) {}

HeldTree::~HeldTree() = default;

bool HeldTree::Split(const base::FilePath& path, std::vector<std::wstring>* names) const {
  names->clear();
  if (!IsSameOrUnder(path, top_path_)) return false;
  const std::wstring text = path.StripTrailingSeparators().value();
  size_t start = top_path_.value().size();
  while (start < text.size()) {
    if (text[start] == L'\\' || text[start] == L'/') {
      ++start;
      continue;
    }
    size_t end = text.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring name = text.substr(start, end - start);
    if (name == L"." || name == L"..") return false;
    names->push_back(name);
    start = end;
  }
  return true;
}

base::Result<> HeldTree::HoldFolder(const base::FilePath& folder, const HeldFile** held) {
  return WalkTo(folder, nullptr, held);
}

base::Result<> HeldTree::MakeFolder(const base::FilePath& folder,
                                    std::vector<base::FilePath>* made, const HeldFile** held) {
  made->clear();
  return WalkTo(folder, made, held);
}

base::Result<> HeldTree::WalkTo(const base::FilePath& folder, std::vector<base::FilePath>* made,
                                const HeldFile** held) {
  std::vector<std::wstring> names;
  if (!Split(folder, &names)) {
    return base::Failure{0, kHeldLink,
                         folder.AsUTF8() + " is not below " + top_path_.AsUTF8(), folder};
  }
  const HeldFile* parent = &top_;
  std::wstring relative;
  // One folder at a time from the top: a missing one ends the walk, however deep the name.
  for (const std::wstring& name : names) {
    relative += (relative.empty() ? L"" : L"\\") + name;
    auto found = folders_.find(relative);
    if (found == folders_.end()) {
      HeldFile opened;
      const base::FilePath path = top_path_.Append(relative);
      base::Result<> result = HoldChild(*parent, path, kWayAccess, kWayShare, true, true, &opened);
      if (made && IsMissingPlace(result) && result.failure().kind == 0) {
        if (between_) between_(path);
        bool created = false;
        result = MakeChild(*parent, path, &opened, &created);
        if (!result.ok()) return result;
        if (created) made->push_back(path);
      }
      // A file where a folder should be holds nothing below it either.
      if (!result.ok() && !IsMissingPlace(result) && result.failure().kind != kHeldOtherKind)
        return result;
      if (!result.ok())
        return base::Failure{ERROR_PATH_NOT_FOUND, 0, result.failure().text, folder};
      found = folders_.emplace(relative, std::move(opened)).first;
    }
    parent = &found->second;
  }
  *held = parent;
  return {};
}

base::Result<> HeldTree::HoldFile(const base::FilePath& path, DWORD access, DWORD share,
                                  const HeldFile** folder, HeldFile* file) {
  std::vector<std::wstring> names;
  if (!Split(path, &names) || names.empty())
    return base::Failure{0, kHeldLink, path.AsUTF8() + " is not below " + top_path_.AsUTF8(),
                         path};
  base::Result<> result = HoldFolder(path.DirName(), folder);
  if (!result.ok()) return result;
  return HoldNameOrItsLink(**folder, path, access, share, file);
}

base::Result<> HeldTree::MakeChild(const HeldFile& parent, const base::FilePath& path,
                                   HeldFile* held, bool* created) {
  HeldFile making;
  if (!making.CreateChildFolder(parent, path.BaseName().value(), created))
    return base::Failure{GetLastError(), 0, path.AsUTF8() + " cannot be made", path};
  // Taken again as a folder that was there is: one that a link took the name of
  // meanwhile (or that Wine followed, a host link) is refused.
  return HoldChild(parent, path, kWayAccess, kWayShare, true, false, held);
}

bool HeldTree::Relative(const base::FilePath& path, std::wstring* relative) const {
  std::vector<std::wstring> names;
  if (!Split(path, &names)) return false;
  relative->clear();
  for (const std::wstring& name : names) *relative += (relative->empty() ? L"" : L"\\") + name;
  return true;
}

bool HeldTree::RemoveFolderIfEmpty(const base::FilePath& folder) {
  std::wstring relative;
  return Relative(folder, &relative) && !relative.empty() && RemoveIfEmpty(relative);
}

void HeldTree::RemoveEmptied(const base::FilePath& folder) {
  std::wstring relative;
  if (!Relative(folder, &relative)) return;
  while (!relative.empty() && RemoveIfEmpty(relative)) {
    const size_t separator = relative.rfind(L'\\');
    relative.resize(separator == std::wstring::npos ? 0 : separator);
  }
}

bool HeldTree::RemoveIfEmpty(const std::wstring& relative) {
  const auto found = folders_.find(relative);
  bool empty = false;
  if (found == folders_.end() || !found->second.IsEmptyFolder(&empty) || !empty) return false;
  const size_t separator = relative.rfind(L'\\');
  const std::wstring parent_relative =
      separator == std::wstring::npos ? std::wstring() : relative.substr(0, separator);
  const std::wstring name = relative.substr(separator + 1);
  const auto parent = folders_.find(parent_relative);
  if (!parent_relative.empty() && parent == folders_.end()) return false;
  const HeldFile& parent_folder = parent_relative.empty() ? top_ : parent->second;
  const uint64_t index = FileIndexOf(found->second.handle());
  // Its holding handle shares no deletion: let go, and taken again with delete access
  // from its parent, which stays held. Only the very folder let go is removed.
  folders_.erase(found);
  if (between_) between_(top_path_.Append(relative));
  HeldFile removable;
  const base::Result<> held = HoldChild(parent_folder, top_path_.Append(relative),
                                        DELETE | kWayAccess, kWayShare, true, false,
                                        &removable);
  // What came in meanwhile makes the system refuse.
  if (!held.ok() || index == 0 || FileIndexOf(removable.handle()) != index) return false;
  if (!removable.DeleteOnClose()) {
    PLOG(WARNING) << "Could not remove the folder " << removable.final_path().AsUTF8();
    return false;
  }
  return true;
}

std::shared_ptr<HeldTree> HeldTreeSource::Get(const HeldInstallFolder* install) {
  if (!install || !install->is_held()) {
    LOG(ERROR) << "The install folder is not held";
    return nullptr;
  }
  std::shared_ptr<HeldTree> tree = live_.lock();
  if (tree && IsSamePath(tree->top_path(), install->path())) return tree;
  // A handle of its own to the very folder the run holds: the tree may outlive the hold.
  HeldFile top;
  if (!install->folder().Duplicate(&top)) {
    PLOG(ERROR) << "Could not hold " << install->path().AsUTF8();
    return nullptr;
  }
  tree = std::make_shared<HeldTree>(install->path(), std::move(top));
  live_ = tree;
  return tree;
}

}  // namespace installer
