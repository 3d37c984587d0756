// The copies of a file that deletions set aside beside it ("<name>.<seconds>.old") and
// that no commit removed: a run that ended before its commit leaves them, and a later
// run that deletes such a copy before it too is cut short sets the copy itself aside.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SET_ASIDE_COPIES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SET_ASIDE_COPIES_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The set-aside copies of `path` in its folder: its name set aside once or more
// ("a.1700000000.old", "a.1700000000.old.1700000100.old"), names compared as Windows
// compares them, the one first set aside last first. With
// `set_aside_before`, only copies last set aside before that second: one set aside in a
// run's own second or later may be that run's own, which its commit or rollback needs.
std::vector<base::FilePath> FindSetAsideCopies(const base::FilePath& path,
                                               int64_t set_aside_before = INT64_MAX);

// The copies of `path` first set aside at `first_second` or later (one run's, when that
// is the run's start), the first set aside first.
std::vector<base::FilePath> FindSetAsideCopiesSince(const base::FilePath& path,
                                                    int64_t first_second);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_SET_ASIDE_COPIES_H_
