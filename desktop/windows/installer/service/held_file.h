// A file or folder held open and known by what the system says of the handle, not by the
// name it was opened with: its final path and its identity (volume and file id).
//
//   HeldFile folder;
//   if (folder.Open(path, READ_CONTROL, FILE_SHARE_READ, false) &&
//       folder.identity() == other.identity()) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_FILE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_FILE_H_

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/win/scoped_handle.h"

namespace installer {

// What identifies a file on this machine, whatever its name.
struct FileIdentity {
  uint64_t volume = 0;
  uint8_t id[16] = {};
  bool operator==(const FileIdentity& other) const;
};

class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(HeldFile&&) = default;
  HeldFile& operator=(HeldFile&&) = default;

  // Opens `path` (a folder too) with `access` and `share`; links are followed only when
  // `follow_links`. False, with the thread's last error, when it cannot be opened or
  // its final path or identity cannot be read; a path on a network share is refused.
  [[nodiscard]] bool Open(const base::FilePath& path, DWORD access, DWORD share,
                          bool follow_links);

  // Opens `name`, one name the held `folder` lists, relative to the folder's handle: no
  // other folder, and no link, comes between. A link is opened itself, not followed.
  // Its identity is left unread (zero): the held folder already decides which file it is,
  // and reading the volume costs a system call per file.
  [[nodiscard]] bool OpenChild(const HeldFile& folder, const std::wstring& name, DWORD access,
                               DWORD share);

  // Opens the folder `name` in the held `folder`, making it when it is missing, relative
  // to the folder's handle and without following a link: a folder swapped above it or a
  // link in its place never makes a folder elsewhere. Held without delete sharing.
  // `created`, when given, says whether this call made it. False, with the thread's last
  // error, when it can be neither made nor opened.
  [[nodiscard]] bool CreateChildFolder(const HeldFile& folder, const std::wstring& name,
                                       bool* created = nullptr);

  // Makes the file `name` in the held `folder`, relative to the folder's handle, and
  // holds it with `access` and `share`: fails (ERROR_FILE_EXISTS) when anything is at the
  // name, a link included, which is neither followed nor replaced. Its identity is left
  // unread, as OpenChild leaves it.
  [[nodiscard]] bool CreateChildFile(const HeldFile& folder, const std::wstring& name,
                                     DWORD access, DWORD share);

  // Another handle to the same open file, with the same access; false, with the thread's
  // last error, when the system cannot give one.
  [[nodiscard]] bool Duplicate(HeldFile* copy) const;

  // Reads the next part of a held folder's listing as GetFileInformationByHandleEx does
  // with FileIdBothDirectory(Restart)Info; a test's for a listing that fails part way.
  class DirectoryReader {
   public:
    [[nodiscard]] virtual bool Read(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer,
                                    DWORD size) const = 0;

   protected:
    ~DirectoryReader() = default;
  };
  static const DirectoryReader& SystemDirectoryReader();

  // Whether the open folder lists nothing but "." and ".."; false when it cannot be
  // listed. Reads no further than the first other entry.
  [[nodiscard]] bool IsEmptyFolder(bool* empty,
                                   const DirectoryReader& reader = SystemDirectoryReader()) const;
  // What the open folder lists, without "." and ".."; false when it cannot be listed to
  // its end (a listing cut short is never a shorter folder).
  struct Listed {
    std::wstring name;
    DWORD attributes;
    // Which file it is within its volume, as GetFileInformationByHandle gives it.
    uint64_t file_id = 0;
  };
  [[nodiscard]] bool ListFolder(std::vector<Listed>* entries,
                                const DirectoryReader& reader = SystemDirectoryReader()) const;

  // Marks the file or empty folder, held with DELETE access, for deletion: it goes when
  // its last handle closes, wherever its name has gone meanwhile.
  [[nodiscard]] bool DeleteOnClose() const;
  // Renames the file, held with DELETE access, to `name` in the held `folder`, never over
  // anything there: no link on the way is followed.
  [[nodiscard]] bool MoveInto(const HeldFile& folder, const std::wstring& name) const;

  const base::FilePath& final_path() const { return final_path_; }
  // The open file's path as the system's object namespace names it ("\Device\...\a"):
  // read in one call, however long, no drive letter looked up; a folder's is read once.
  // Compare it only with another read here. False, with the thread's last error, when it
  // cannot be read.
  [[nodiscard]] bool ReadDevicePath(std::wstring* path) const;
  const FileIdentity& identity() const { return identity_; }
  bool is_directory() const { return (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool is_reparse_point() const { return (attributes_ & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  HANDLE handle() const { return handle_.Get(); }
  base::ScopedHandle TakeHandle() { return std::move(handle_); }

 private:
  // Reads the final path, identity and attributes of the handle just set; closes it and
  // gives false, with the thread's last error, when one cannot be read.
  [[nodiscard]] bool Identify();
  // Hands each listed entry but "." and ".." to `take` until it gives false; false when
  // the listing stopped before its end for another reason.
  [[nodiscard]] bool VisitFolder(const DirectoryReader& reader,
                                 const std::function<bool(Listed&&)>& take) const;

  base::ScopedHandle handle_;
  base::FilePath final_path_;
  mutable std::wstring device_path_;
  FileIdentity identity_;
  DWORD attributes_ = 0;
};

// Whether `path` is `folder` or lies under it, letters compared as Windows does.
bool IsSameOrUnder(const base::FilePath& path, const base::FilePath& folder);
// Whether `a` and `b` name one place, letters compared as Windows does.
bool IsSamePath(const base::FilePath& a, const base::FilePath& b);
// Whether `path` lies under `folder`, not `folder` itself.
bool IsBelow(const base::FilePath& path, const base::FilePath& folder);
// Whether `path` is a drive's root (its own parent).
bool IsDriveRoot(const base::FilePath& path);
// Orders paths (or names) with their letters compared as Windows does: a set of them holds
// each place once.
struct PathIgnoreCaseLess {
  bool operator()(const base::FilePath& a, const base::FilePath& b) const {
    return (*this)(a.value(), b.value());
  }
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return base::FilePath::CompareIgnoreCase(a, b) < 0;
  }
};
// `path`, which lies under `from`, as the same place under `to`.
base::FilePath RebasePath(const base::FilePath& path, const base::FilePath& from,
                          const base::FilePath& to);

// The first existing path from `path` up to, but not including, `stop` (the whole way to
// the drive when `stop` is empty) that is a reparse point; false when there is none.
[[nodiscard]] bool FindReparsePoint(const base::FilePath& path, const base::FilePath& stop,
                                    base::FilePath* reparse_point);

// How a folder on the way to a name is held: listed and passed, and neither renamed nor
// replaced meanwhile. Never with DELETE: every holder of a run opens its folders so, and
// one that may delete would lock the others out (a rename into the folder too).
constexpr DWORD kWayAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr DWORD kWayShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The 64-bit index of the open file within its volume; 0 when it cannot be read.
uint64_t FileIndexOf(HANDLE handle);

// Whether `file`, opened as `name` relative to the held `folder`, is at that name of that
// folder: Wine opens a host link as its target despite the asking, and only the device
// path tells. False, with the thread's last error, when a path cannot be read.
[[nodiscard]] bool IsAtNameIn(const HeldFile& folder, const std::wstring& name,
                              const HeldFile& file, bool* at_name);

// Removes the held folder `held` (named `path` in failures), held with DELETE, when it
// lists nothing, `between` called after the check and before the removal (a test's). A
// folder that holds anything fails with ERROR_DIR_NOT_EMPTY.
base::Result<> RemoveHeldFolderIfEmpty(const HeldFile& held, const base::FilePath& path,
                                       const std::function<void()>& between = nullptr);

// What a HoldPlace refusal's kind says, besides a system error.
enum HoldRefusal {
  kHeldLink = 1,       // a link, or a place that is not where its name says
  kHeldOtherKind = 2,  // a file where a folder was asked for, or a folder for a file
};

// Opens `path` without following a link and without delete sharing (neither it nor,
// on Windows, a folder above it can then be renamed or replaced), and decides on the
// handle: no link, a folder when `folder`, a file otherwise, and its final path `expected`.
base::Result<> HoldPlace(const base::FilePath& path, const base::FilePath& expected,
                         DWORD access, DWORD share, bool folder, HeldFile* held);
// Opens the file `entry` that the held `folder` listed, relative to the folder's handle,
// and decides on the handle: no link, no folder, and the very file listed (its id), so
// that a link put in its name since the listing is refused even where the system follows
// it despite the asking (Wine's host links).
base::Result<> HoldListed(const HeldFile& folder, const HeldFile::Listed& entry, DWORD access,
                          DWORD share, HeldFile* held);
// Whether a refusal says only that the place, or a folder on its way, is missing.
bool IsMissingPlace(const base::Result<>& result);

// Opens `path`'s last name in the held `parent` (its folder), relative to the parent's
// handle, and decides on the handle: no link (one the system follows despite the asking
// too, as Wine's host links: its device path tells), a folder when `folder`, a file
// otherwise. A missing name fails with ERROR_FILE_NOT_FOUND, or with ERROR_PATH_NOT_FOUND
// when it is a folder `on_the_way` to another name. `path` names it in failures.
base::Result<> HoldChild(const HeldFile& parent, const base::FilePath& path, DWORD access,
                         DWORD share, bool folder, bool on_the_way, HeldFile* held);

// What is held to act on a place below a folder: the folders on its way, none of which
// can be renamed or replaced meanwhile, and the place itself.
struct HeldWay {
  std::vector<HeldFile> folders;
  HeldFile place;
};

// Holds `path`, which lies below the held folder `top` (named `top_path`), for `access`
// with `share`: from the top down, one name at a time, each folder on the way by HoldChild
// relative to the one held above it, then `path` itself (a folder when `folder`). It stops
// at the first name that is missing or refused: a link on the way or at the name itself.
base::Result<> HoldBelow(const HeldFile& top, const base::FilePath& top_path,
                         const base::FilePath& path, DWORD access, DWORD share, bool folder,
                         HeldWay* way);
// As above, `top` held here first, where it must really be `final_top`.
base::Result<> HoldBelow(const base::FilePath& top, const base::FilePath& final_top,
                         const base::FilePath& path, DWORD access, DWORD share, bool folder,
                         HeldWay* way);

// Folders held for acts on many names in them, each held and listed once: a folder below
// `top` only where its name says within its held parent (a link on the way is refused),
// any other (`top` itself, a shortcut's folder) as it is. None of them can be renamed or
// replaced while held; Release lets them go (a folder's own removal needs it closed).
class HeldFolders {
 public:
  explicit HeldFolders(const base::FilePath& top);
  // With `top` already held as `held_top` (which outlives this): the folders below it are
  // reached through that very handle.
  HeldFolders(const base::FilePath& top, const HeldFile& held_top);
  ~HeldFolders();
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  // Holds `folder`: one below `top`, from the top down, each folder on its way opened
  // relative to the one held above it (HoldChild), stopping at the first that is missing.
  base::Result<> Hold(const base::FilePath& folder, const HeldFile** held);
  // Holds the file `path` as its held folder listed it (HoldListed), `between` called
  // after the listing's word and before the open (a test's); a name the folder did not
  // list fails with ERROR_FILE_NOT_FOUND.
  base::Result<> HoldFile(const base::FilePath& path, DWORD access, DWORD share, HeldFile* held,
                          const std::function<void()>& between = nullptr);
  // What the listings say once `path` is gone, or moved to `to` in a held folder.
  void Moved(const base::FilePath& path, const base::FilePath& to = base::FilePath());
  // Removes `folder`, below `top`, when it lists nothing: let go here, held again with
  // DELETE through its held parent (HoldChild), `between` called after the check and
  // before the removal (a test's). A folder that holds anything fails with
  // ERROR_DIR_NOT_EMPTY; a missing one as IsMissingPlace, a link with kHeldLink.
  base::Result<> RemoveEmptyFolder(const base::FilePath& folder,
                                   const std::function<void()>& between = nullptr);
  void Release();

 private:
  struct Folder {
    HeldFile held;
    bool listed = false;
    std::map<std::wstring, HeldFile::Listed, PathIgnoreCaseLess> names;
  };
  // `on_the_way`: the folder of a file asked for, missing as a path.
  base::Result<> HoldFolder(const base::FilePath& folder, bool on_the_way, Folder** held);
  // Holds the folders `relative` names below the held `parent` (named `named`), top first.
  base::Result<> HoldBelowHeld(Folder* parent, std::wstring named, const std::wstring& relative,
                               bool on_the_way, Folder** held);

  const base::FilePath top_;
  const HeldFile* const held_top_ = nullptr;
  std::map<std::wstring, Folder, PathIgnoreCaseLess> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_HELD_FILE_H_
