// The folders below an install folder that the deletions an installation record asks for
// act through: each opened relative to its held parent, from the install folder down,
// never through a link, and held (without delete sharing: neither it nor a folder on its
// way can be renamed or replaced) for as long as a deletion holding the tree has not been
// committed or rolled back.
//
//   std::shared_ptr<HeldTree> tree = trees.Get(context->GetHeldInstallFolder());
//   const HeldFile* folder = nullptr;
//   HeldFile file;
//   if (tree && tree->HoldFile(path, DELETE, FILE_SHARE_READ, &folder, &file).ok()) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_TREE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_TREE_H_

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/service/held_install_folder.h"

namespace installer {

// Holds `path`'s last name in the held `folder` as HoldChild holds a file; where that
// name is itself a link that the system opened as itself (Windows' own links), holds the
// link: acting on it acts on the link, never on what it leads to.
base::Result<> HoldNameOrItsLink(const HeldFile& folder, const base::FilePath& path,
                                DWORD access, DWORD share, HeldFile* held);

class HeldTree {
 public:
  // `top` is the install folder `top_path` as held for the run. `between`, when given, is
  // called with each emptied folder once it is let go and before it is taken again to be
  // removed, and with each missing folder before it is made (a test's).
  HeldTree(const base::FilePath& top_path, HeldFile top,
           std::function<void(const base::FilePath&)> between = nullptr);
  ~HeldTree();
  HeldTree(const HeldTree&) = delete;
  HeldTree& operator=(const HeldTree&) = delete;

  const base::FilePath& top_path() const { return top_path_; }

  // Holds every folder from the top down to `folder`, which must lie below it or be it;
  // each is held once for the tree's life. A missing folder (or a file in its place)
  // fails with ERROR_PATH_NOT_FOUND, a link on the way with kHeldLink, a name that leaves
  // the top ("..", a path elsewhere) with kHeldLink too.
  base::Result<> HoldFolder(const base::FilePath& folder, const HeldFile** held);
  // As HoldFolder, but each missing folder on the way is made relative to its held
  // parent (never through a link: one at a name, or one put there meanwhile, is refused)
  // and held as a folder that was there. `made` gets each folder made, top first.
  base::Result<> MakeFolder(const base::FilePath& folder, std::vector<base::FilePath>* made,
                            const HeldFile** held);
  // Holds the folder of `path` (HoldFolder), then `path` itself in it for `access` with
  // `share` (HoldNameOrItsLink).
  base::Result<> HoldFile(const base::FilePath& path, DWORD access, DWORD share,
                          const HeldFile** folder, HeldFile* file);
  // Removes `folder` and then each folder above it below the top, stopping at the first
  // that is not empty, each found empty through its held handle and removed through a
  // handle of its held parent that is checked to be that very folder.
  void RemoveEmptied(const base::FilePath& folder);
  // Removes `folder` alone, held by the tree, as RemoveEmptied removes each; false when
  // it stays.
  bool RemoveFolderIfEmpty(const base::FilePath& folder);

 private:
  // HoldFolder, making missing folders into `made` when given.
  base::Result<> WalkTo(const base::FilePath& folder, std::vector<base::FilePath>* made,
                        const HeldFile** held);
  // Makes the folder `path` in the held `parent` and holds it; *created says whether it
  // was missing until now.
  static base::Result<> MakeChild(const HeldFile& parent, const base::FilePath& path,
                                  HeldFile* held, bool* created);
  // `path` relative to the top ("a\b"; empty for the top itself); false when it is no
  // plain path below it.
  bool Relative(const base::FilePath& path, std::wstring* relative) const;
  // `path` below the top as its names, or false when it is no plain path below it.
  bool Split(const base::FilePath& path, std::vector<std::wstring>* names) const;
  // Removes the held folder `relative` when empty; false when it stays.
  bool RemoveIfEmpty(const std::wstring& relative);

  const base::FilePath top_path_;
  const HeldFile top_;
  const std::function<void(const base::FilePath&)> between_;
  // By the folder's path relative to the top.
  std::map<std::wstring, HeldFile, PathIgnoreCaseLess> folders_;
};

// The one tree of a run: made from the install folder the run holds when first asked
// for, shared by the deletions that hold it, and let go with the last of them.
class HeldTreeSource {
 public:
  // Null, logged, when `install` is null or holds nothing.
  std::shared_ptr<HeldTree> Get(const HeldInstallFolder* install);

 private:
  std::weak_ptr<HeldTree> live_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_TREE_H_
