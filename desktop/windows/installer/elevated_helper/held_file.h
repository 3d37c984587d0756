// A file or folder held open and known by what the system says of the handle, not by the
// name it was opened with: its final path and its identity (volume and file id).
//
//   HeldFile folder;
//   if (folder.Open(path, READ_CONTROL, FILE_SHARE_READ, false) &&
//       folder.identity() == other.identity()) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_HELD_FILE_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_HELD_FILE_H_

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
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
  };
  [[nodiscard]] bool ListFolder(std::vector<Listed>* entries,
                                const DirectoryReader& reader = SystemDirectoryReader()) const;

  const base::FilePath& final_path() const { return final_path_; }
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
  FileIdentity identity_;
  DWORD attributes_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_HELD_FILE_H_
