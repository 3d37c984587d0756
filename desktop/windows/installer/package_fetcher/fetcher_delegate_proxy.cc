#include "desktop/windows/installer/package_fetcher/fetcher_delegate_proxy.h"

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"

namespace installer {

FetcherDelegateProxy::FetcherDelegateProxy(FetcherUIDelegate* ui, FetcherDelegate* progress)
    : ui_runner_(base::MessageLoop::Current()->task_runner()), ui_(ui), progress_(progress) {}

FetcherDelegateProxy::~FetcherDelegateProxy() = default;

void FetcherDelegateProxy::ClearDelegates() {
  base::AutoLock hold(lock_);
  ui_ = nullptr;
  progress_ = nullptr;
}

void FetcherDelegateProxy::SetTotalProgress(uint32_t total) {
  PostProgress(&FetcherDelegate::SetTotalProgress, total);
}

void FetcherDelegateProxy::SetCurrentProgress(uint32_t current) {
  PostProgress(&FetcherDelegate::SetCurrentProgress, current);
}

void FetcherDelegateProxy::NotifyStalled(uint32_t error) {
  PostProgress(&FetcherDelegate::NotifyStalled, error);
}

void FetcherDelegateProxy::NotifyStatusChanged(int status) {
  ui_runner_->PostTask(FROM_HERE,
                       base::Bind(&FetcherDelegateProxy::DeliverStatus,
                                  base::scoped_refptr<FetcherDelegateProxy>(this), status));
}

void FetcherDelegateProxy::RunUICallbackAndPostReply(
    UICallback ui_callback, base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
    Reply reply) {
  ui_runner_->PostTask(FROM_HERE, base::Bind(&FetcherDelegateProxy::DeliverUICallback,
                                             base::scoped_refptr<FetcherDelegateProxy>(this),
                                             ui_callback, reply_runner, reply));
}

void FetcherDelegateProxy::PostProgress(void (FetcherDelegate::*report)(uint32_t), uint32_t value) {
  ui_runner_->PostTask(FROM_HERE,
                       base::Bind(&FetcherDelegateProxy::DeliverProgress,
                                  base::scoped_refptr<FetcherDelegateProxy>(this), report, value));
}

void FetcherDelegateProxy::DeliverProgress(void (FetcherDelegate::*report)(uint32_t),
                                           uint32_t value) {
  FetcherDelegate* progress = nullptr;
  {
    base::AutoLock hold(lock_);
    progress = progress_;
  }
  if (progress) (progress->*report)(value);
}

void FetcherDelegateProxy::DeliverStatus(int status) {
  FetcherDelegate* progress = nullptr;
  {
    base::AutoLock hold(lock_);
    progress = progress_;
  }
  if (progress) progress->NotifyStatusChanged(status);
}

void FetcherDelegateProxy::DeliverUICallback(
    UICallback ui_callback, base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
    Reply reply) {
  FetcherUIDelegate* ui = nullptr;
  {
    base::AutoLock hold(lock_);
    ui = ui_;
  }
  if (ui) ui->RunUICallbackAndPostReply(ui_callback, reply_runner, reply);
}

}  // namespace installer
