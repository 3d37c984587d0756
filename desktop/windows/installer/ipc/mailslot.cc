#include "desktop/windows/installer/ipc/mailslot.h"

#include "base/logging.h"
#include "base/threading/thread.h"
#include "desktop/common/names/kernel_object_names.h"

namespace installer {

std::wstring GetMailslotPath(const std::wstring& name) {
  return L"\\\\.\\mailslot\\" + name;
}

std::wstring GetInstallerMailslotName(const base::FilePath& install_folder) {
  return kernel_objects::kInstallerMailslotPrefix + install_folder.value();
}

bool StartIpcThread(base::Thread* thread) {
  base::Thread::StartParams params;
  params.message_loop_type = base::MessageLoop::TYPE_IO;
  if (!thread->StartWithParams(params)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  return true;
}

}  // namespace installer
