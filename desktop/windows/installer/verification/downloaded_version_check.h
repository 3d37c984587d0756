// The version check of a downloaded package or component: it is itself an installer
// that answers "internal-version" (and "stream") on its standard output, and it must be
// no older than the running installer and, for a package, of the same stream.
#ifndef DESKTOP_WINDOWS_INSTALLER_VERIFICATION_DOWNLOADED_VERSION_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_VERIFICATION_DOWNLOADED_VERSION_CHECK_H_

#include <string>

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/time/time.h"

namespace installer {

class StatsNode;

// How long a downloaded program may take to answer one switch before it is ended.
extern const base::TimeDelta kDownloadedItemAnswerTimeout;

// True when |file| answers "internal-version" with a dotted version not lower than
// |installer_version| and, when |stream| is not null, "stream" with exactly *stream. The
// answers go to |node| as "internal_version" and "stream". A program that does not end
// within |timeout| is ended and fails the check.
[[nodiscard]] bool CheckDownloadedVersion(const base::FilePath& file,
                                          const std::string& installer_version,
                                          const std::string* stream, StatsNode* node,
                                          base::TimeDelta timeout);

// The elevated side's floor, the same check on a copy it holds and verified: success when
// |program| answers "internal-version" with a version not lower than |installer_version|
// (this installer's own by default), else the failure with its reason. An older release
// of the same signer lacks the faults mended since and is never taken or run elevated.
[[nodiscard]] base::Result<> CheckVersionFloor(const base::FilePath& program,
                                               const std::string& installer_version);
[[nodiscard]] base::Result<> CheckVersionFloor(const base::FilePath& program);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_VERIFICATION_DOWNLOADED_VERSION_CHECK_H_
