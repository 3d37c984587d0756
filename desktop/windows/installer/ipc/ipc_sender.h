// IpcSender: the backend's end of the installer mailslot. It opens the front end's
// mailslot on a thread of its own ("Installer IPC thread") and writes the messages
// handed to Send there, in order. Without a mailslot to write to, messages are dropped;
// the caller never waits for the reader.
//
//   IpcSender sender;
//   sender.Connect(GetInstallerMailslotName(folder));   // the result may be ignored
//   sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
//   sender.Close();   // writes what is queued (bounded), then stops
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/serial_buffer.h"
#include "base/threading/thread.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"

namespace installer {

class IpcSender {
 public:
  IpcSender();
  ~IpcSender();
  IpcSender(const IpcSender&) = delete;
  IpcSender& operator=(const IpcSender&) = delete;

  // Starts the IPC thread and has it open "\\.\mailslot\" + `name`. False only when the
  // thread cannot start; a mailslot that cannot be opened is logged there.
  // Closing waits for the last messages until one of `reader_gone` (null ones left out)
  // is signalled: the reader's process, an event it sets when it stops reading.
  [[nodiscard]] bool Connect(const std::wstring& name,
                             const std::vector<HANDLE>& reader_gone = {});
  // Queues `message` for writing. A message larger than the mailslot carries is refused
  // (false) and so is one without a running IPC thread; both are dropped.
  [[nodiscard]] bool Send(std::unique_ptr<base::SerialBuffer> message);
  // Writes what is still queued (for a bounded time), closes the mailslot, joins the
  // thread.
  void Close();

 private:
  void OpenMailslot(const std::wstring& path);
  void QueueMessage(const std::shared_ptr<base::SerialBuffer>& message);
  void DestroyWriter();

  base::Thread thread_;
  // Handed to the writer when the mailslot is opened.
  std::vector<base::ScopedHandle> reader_gone_;
  // IPC thread only.
  std::unique_ptr<MailslotWriter> writer_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
