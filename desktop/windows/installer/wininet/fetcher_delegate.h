// Progress reports of the downloader and the package fetcher, and the one piece of UI
// they may need (the proxy credentials dialog), implemented by the controllers and by
// the fetcher's proxy that carries reports to the UI thread.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_FETCHER_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_FETCHER_DELEGATE_H_

#include <windows.h>
#include <stdint.h>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"

namespace installer {

class FetcherDelegate {
 public:
  virtual ~FetcherDelegate() {}
  virtual void SetTotalProgress(uint32_t total) = 0;
  virtual void SetCurrentProgress(uint32_t current) = 0;
  virtual void NotifyStalled(uint32_t error) = 0;
  virtual void NotifyStatusChanged(int status) = 0;
};

class FetcherUIDelegate {
 public:
  typedef base::Callback<uint32_t(HWND)> UICallback;
  typedef base::Callback<void(uint32_t)> Reply;

  virtual ~FetcherUIDelegate() {}
  // Runs |ui_callback| with the owner window on the UI thread and posts |reply| with its
  // result to |reply_runner|. Without a window the reply gets 0 and the UI callback does
  // not run.
  virtual void RunUICallbackAndPostReply(UICallback ui_callback,
                                         base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                         Reply reply) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_FETCHER_DELEGATE_H_
