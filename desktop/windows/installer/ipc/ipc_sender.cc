#include "desktop/windows/installer/ipc/ipc_sender.h"

#include <windows.h>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/mailslot.h"

namespace installer {

IpcSender::IpcSender() : thread_("Installer IPC thread") {}

IpcSender::~IpcSender() {
  Close();
}

bool IpcSender::Connect(const std::wstring& name, const std::vector<HANDLE>& reader_gone) {
  VLOG(1) << "Preparing to send IPC on " << base::WideToUTF8(name);
  for (HANDLE handle : reader_gone) {
    HANDLE own = nullptr;
    // Without any, closing waits a bounded time instead.
    if (handle && !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &own,
                                   SYNCHRONIZE, FALSE, 0)) {
      PLOG(ERROR) << "Cannot keep a handle of the mailslot's reader";
    }
    if (own) reader_gone_.emplace_back(own);
  }
  if (!StartIpcThread(&thread_)) return false;
  thread_.GetTaskRunner()->PostTask(
      FROM_HERE, base::Bind(&IpcSender::OpenMailslot, this, GetMailslotPath(name)));
  return true;
}

bool IpcSender::Send(std::unique_ptr<base::SerialBuffer> message) {
  if (message->size() > kMailslotMessageSize) {
    // It could never be written; queued, it would only delay the messages after it.
    LOG(ERROR) << "Refusing an IPC message of " << message->size() << " bytes";
    return false;
  }
  if (!thread_.GetTaskRunner()) return false;
  std::shared_ptr<base::SerialBuffer> shared(std::move(message));
  return thread_.GetTaskRunner()->PostTask(
      FROM_HERE, base::Bind(&IpcSender::QueueMessage, this, shared));
}

void IpcSender::Close() {
  VLOG(1) << "Stopping RPC sender";
  if (!thread_.GetTaskRunner()) return;
  thread_.GetTaskRunner()->PostTask(FROM_HERE, base::Bind(&IpcSender::DestroyWriter, this));
  thread_.Stop();
}

void IpcSender::OpenMailslot(const std::wstring& path) {
  VLOG(1) << "Opening mailslot " << base::WideToUTF8(path);
  base::ScopedHandle mailslot(CreateFileW(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  if (!mailslot.IsValid()) {
    PLOG(ERROR) << "Failed opening " << base::WideToUTF8(path);
    return;
  }
  writer_ = std::make_unique<MailslotWriter>(std::move(mailslot), std::move(reader_gone_));
}

void IpcSender::QueueMessage(const std::shared_ptr<base::SerialBuffer>& message) {
  // Without a writer the message goes unsent.
  if (writer_) writer_->Queue(std::make_unique<base::SerialBuffer>(*message));
}

void IpcSender::DestroyWriter() {
  writer_.reset();
}

}  // namespace installer
