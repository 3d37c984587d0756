// IpcReceiver: the front end's end of the installer mailslot. It creates the mailslot on
// a thread of its own ("Installer IPC thread") and hands every message to its delegate on
// the thread that constructed it. A message that arrives after the receiver is gone is
// dropped.
//
//   IpcReceiver receiver(this);
//   if (!receiver.Connect(GetInstallerMailslotName(folder))) ...
//   ... OnMessageReceived(message) on this thread ...
//   receiver.Close();
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"
#include "base/serial_buffer.h"
#include "base/threading/thread.h"
#include "desktop/windows/installer/ipc/mailslot_reader.h"

namespace installer {

class IpcReceiver : public MailslotReader::Receiver {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void OnMessageReceived(const base::SerialBuffer& message) = 0;
  };

  // The calling thread must run a MessageLoop; messages arrive on it.
  explicit IpcReceiver(Delegate* delegate);
  ~IpcReceiver() override;
  IpcReceiver(const IpcReceiver&) = delete;
  IpcReceiver& operator=(const IpcReceiver&) = delete;

  // Starts the IPC thread and has it create "\\.\mailslot\" + `name`. False only when
  // the thread cannot start; a mailslot that cannot be created is logged there.
  [[nodiscard]] bool Connect(const std::wstring& name);
  // Deletes the mailslot and joins the thread; never waits for a writer.
  void Close();
  // Runs `done` on this thread after every message already in the mailslot has been
  // handed to the delegate; at once when not connected.
  void Flush(base::Closure done);

  // MailslotReader::Receiver (IPC thread): posts a copy of `message` to the delegate.
  void OnMailslotMessage(const base::SerialBuffer& message) override;

 private:
  void MakeMailslot(const std::wstring& path);
  void DestroyReader();
  void ReadWaitingMessages();
  void Deliver(const std::shared_ptr<base::SerialBuffer>& message);

  Delegate* delegate_;
  base::Thread thread_;
  base::scoped_refptr<base::SequencedTaskRunner> owner_task_runner_;
  // IPC thread only.
  std::unique_ptr<MailslotReader> reader_;
  base::WeakPtrFactory<IpcReceiver> weak_factory_;
  // Made on the owner's thread, copied on the IPC thread.
  base::WeakPtr<IpcReceiver> weak_this_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
