// A fresh folder that only administrators and the system can change, for the files an
// elevated process runs although a standard user could have written them: the copy it
// checks is then the copy it runs.
//
//   AdminOnlyFolder folder;
//   base::FilePath copy;
//   if (folder.Create() && folder.CopyIn(user_file, L"installer.exe", &copy) && Check(copy))
//     Run(copy);
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ADMIN_ONLY_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ADMIN_ONLY_FOLDER_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

class AdminOnlyFolder {
 public:
  AdminOnlyFolder() = default;
  // Removes the folder with what it holds, unless it was left.
  ~AdminOnlyFolder();
  AdminOnlyFolder(const AdminOnlyFolder&) = delete;
  AdminOnlyFolder& operator=(const AdminOnlyFolder&) = delete;

  // A new folder of a random name in the Windows folder's "Temp", which standard users
  // may add to but not rename or delete from; false (logged) when it cannot be made with
  // its access list.
  [[nodiscard]] bool Create();
  // Copies `source` into the folder as `name`.
  [[nodiscard]] bool CopyIn(const base::FilePath& source, const wchar_t* name,
                            base::FilePath* copy);
  // Writes `data` into the folder as `name`.
  [[nodiscard]] bool WriteIn(const std::string& data, const wchar_t* name, base::FilePath* file);
  // Leaves the folder and what it holds in place for good (a log to read later).
  void Keep() { path_.clear(); }

  const base::FilePath& path() const { return path_; }

 private:
  base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ADMIN_ONLY_FOLDER_H_
