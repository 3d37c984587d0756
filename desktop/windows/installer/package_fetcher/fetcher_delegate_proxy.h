// FetcherDelegateProxy: the package fetcher's worker thread reports through it; every
// report is posted to the thread that made the proxy (the UI thread) and reaches the
// controller's delegates there, unless they were cleared when the worker ended.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FETCHER_DELEGATE_PROXY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FETCHER_DELEGATE_PROXY_H_

#include <stdint.h>

#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"

namespace installer {

class FetcherDelegateProxy : public FetcherDelegate,
                             public FetcherUIDelegate,
                             public base::RefCountedThreadSafe<FetcherDelegateProxy> {
 public:
  // Made on the UI thread; |ui| is required, |progress| may be null.
  FetcherDelegateProxy(FetcherUIDelegate* ui, FetcherDelegate* progress);
  FetcherDelegateProxy(const FetcherDelegateProxy&) = delete;
  FetcherDelegateProxy& operator=(const FetcherDelegateProxy&) = delete;

  // Reports queued after this are dropped.
  void ClearDelegates();

  // FetcherDelegate:
  void SetTotalProgress(uint32_t total) override;
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled(uint32_t error) override;
  void NotifyStatusChanged(int status) override;
  // FetcherUIDelegate:
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                 Reply reply) override;

 private:
  friend class base::RefCountedThreadSafe<FetcherDelegateProxy>;
  ~FetcherDelegateProxy() override;

  void PostProgress(void (FetcherDelegate::*report)(uint32_t), uint32_t value);
  // On the UI thread.
  void DeliverProgress(void (FetcherDelegate::*report)(uint32_t), uint32_t value);
  void DeliverStatus(int status);
  void DeliverUICallback(UICallback ui_callback,
                         base::scoped_refptr<base::SequencedTaskRunner> reply_runner, Reply reply);

  const base::scoped_refptr<base::SequencedTaskRunner> ui_runner_;
  base::Lock lock_;
  FetcherUIDelegate* ui_;
  FetcherDelegate* progress_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FETCHER_DELEGATE_PROXY_H_
