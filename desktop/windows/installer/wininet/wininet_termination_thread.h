// WinInetTerminationThread ("Wininet Termination"): closes a WinINet session once WinINet
// has reported the closing of its connection, or after a bounded wait with the status
// callback removed, so that the downloader's thread never waits for WinINet's last
// callbacks and a finished transfer never waits on its server.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_

#include <windows.h>

#include <wininet.h>

#include "base/synchronization/sync_event.h"
#include "base/threading/plain_thread.h"
#include "base/win/scoped_generic.h"

namespace installer {

class WinInetTerminationThread : public base::PlainThread {
 public:
  // Takes |session|; |termination_event| is signalled by the status callback when the
  // connection's closing is reported, and outlives the thread.
  WinInetTerminationThread(base::SyncEvent* termination_event, base::ScopedInternetHandle session);
  ~WinInetTerminationThread() override;

 protected:
  void Run() override;

 private:
  base::SyncEvent* const termination_event_;
  // Closed by Run once WinINet is done with it; by the owner when Run never ran.
  base::ScopedInternetHandle session_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_TERMINATION_THREAD_H_
