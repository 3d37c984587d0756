#include "desktop/windows/installer/ipc/ipc_receiver.h"

#include <windows.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/mailslot.h"

namespace installer {

namespace {

const char kIpcThreadName[] = "Installer IPC thread";

}  // namespace

IpcReceiver::IpcReceiver(Delegate* delegate)
    : delegate_(delegate),
      thread_(kIpcThreadName),
      owner_task_runner_(base::MessageLoop::Current()->task_runner()),
      weak_factory_(this),
      weak_this_(weak_factory_.GetWeakPtr()) {}

IpcReceiver::~IpcReceiver() {
  Close();
  weak_factory_.InvalidateWeakPtrs();
}

bool IpcReceiver::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to receive IPC on " << base::WideToUTF8(name);
  if (!StartIpcThread(&thread_)) return false;
  thread_.GetTaskRunner()->PostTask(
      FROM_HERE, base::Bind(&IpcReceiver::MakeMailslot, this, GetMailslotPath(name)));
  return true;
}

void IpcReceiver::Close() {
  VLOG(1) << "Stopping RPC receiver";
  if (!thread_.GetTaskRunner()) return;
  thread_.GetTaskRunner()->PostTask(FROM_HERE, base::Bind(&IpcReceiver::DestroyReader, this));
  thread_.Stop();
}

void IpcReceiver::Flush(base::Closure done) {
  if (!thread_.GetTaskRunner() ||
      !thread_.GetTaskRunner()->PostTaskAndReply(
          FROM_HERE, base::Bind(&IpcReceiver::ReadWaitingMessages, this), done)) {
    done.Run();
  }
}

void IpcReceiver::OnMailslotMessage(const base::SerialBuffer& message) {
  // The view's bytes are the reader's buffer: the task gets its own copy.
  std::shared_ptr<base::SerialBuffer> copy = std::make_shared<base::SerialBuffer>(message);
  owner_task_runner_->PostTask(
      base::Location("OnMessageReceived", __FILE__, __LINE__, base::GetCallerAddress()),
      base::Bind(&IpcReceiver::Deliver, weak_this_, copy));
}

void IpcReceiver::MakeMailslot(const std::wstring& path) {
  VLOG(1) << "Creating mailslot " << base::WideToUTF8(path);
  base::ScopedHandle mailslot(CreateMailslotW(
      path.c_str(), static_cast<DWORD>(kMailslotMessageSize), MAILSLOT_WAIT_FOREVER, nullptr));
  if (!mailslot.IsValid()) {
    PLOG(ERROR) << "Failed creating " << base::WideToUTF8(path);
    return;
  }
  reader_ = std::make_unique<MailslotReader>(std::move(mailslot), this);
}

void IpcReceiver::DestroyReader() {
  reader_.reset();
}

void IpcReceiver::ReadWaitingMessages() {
  if (reader_) reader_->ReadWaitingMessages();
}

void IpcReceiver::Deliver(const std::shared_ptr<base::SerialBuffer>& message) {
  delegate_->OnMessageReceived(*message);
}

}  // namespace installer
