// The installer's mailslot: where it lives and how large one message may be.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_H_

#include <stddef.h>

#include <string>

#include "base/files/file_path.h"

namespace base {
class Thread;
}

namespace installer {

// The largest message the mailslot carries. Some systems accept larger writes and
// lose them on the reading side, so the sender enforces it itself.
constexpr size_t kMailslotMessageSize = 2048;

// "\\.\mailslot\" followed by `name`.
std::wstring GetMailslotPath(const std::wstring& name);

// The name on which the backend of `install_folder` reports to its front end:
// "velum_installer\" followed by the folder unchanged.
std::wstring GetInstallerMailslotName(const base::FilePath& install_folder);

// Starts `thread` with the I/O loop both IPC ends work on; logs and answers false when it
// cannot start.
[[nodiscard]] bool StartIpcThread(base::Thread* thread);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_H_
