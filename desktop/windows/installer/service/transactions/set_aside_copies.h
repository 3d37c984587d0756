// The copies of a file that deletions set aside beside it ("<name>.<seconds>.old") and
// that no commit removed: a run that ended before its commit leaves them, and a later
// run that deletes such a copy before it too is cut short sets the copy itself aside.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SET_ASIDE_COPIES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SET_ASIDE_COPIES_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The set-aside copies of the files of any number of folders, each folder listed once,
// when it is first asked about: a caller asking for thousands of files in one folder
// lists it once, not once a file. Copies made or removed after that listing are not seen.
class SetAsideCopyIndex {
 public:
  SetAsideCopyIndex();
  ~SetAsideCopyIndex();
  SetAsideCopyIndex(const SetAsideCopyIndex&) = delete;
  SetAsideCopyIndex& operator=(const SetAsideCopyIndex&) = delete;

  // The copies of `path` first set aside at `first_second` or later (one run's, when that
  // is the run's start), its name set aside once or more ("a.1700000000.old",
  // "a.1700000000.old.1700000100.old"), names compared as Windows compares them; the
  // first set aside first.
  std::vector<base::FilePath> CopiesSince(const base::FilePath& path, int64_t first_second);

 private:
  struct Copy {
    int64_t first_second;
    base::FilePath path;
  };
  struct IgnoreCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  // Per folder, the copies by each name they were set aside from.
  using Copies = std::map<std::wstring, std::vector<Copy>, IgnoreCaseLess>;
  std::map<std::wstring, Copies, IgnoreCaseLess> folders_;
};

// One file's copies, as SetAsideCopyIndex::CopiesSince gives them.
std::vector<base::FilePath> FindSetAsideCopiesSince(const base::FilePath& path,
                                                    int64_t first_second);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SET_ASIDE_COPIES_H_
