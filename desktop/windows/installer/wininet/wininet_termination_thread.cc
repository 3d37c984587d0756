#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

#include <utility>

#include "base/logging.h"
#include "base/time/time.h"

namespace installer {

namespace {

// How long WinINet may take to report a closed connection before the session stops
// listening to it.
const int kTerminationWaitSeconds = 5;

}  // namespace

WinInetTerminationThread::WinInetTerminationThread(base::SyncEvent* termination_event,
                                                   base::ScopedInternetHandle session)
    : base::PlainThread("Wininet Termination"),
      termination_event_(termination_event),
      session_(std::move(session)) {}

WinInetTerminationThread::~WinInetTerminationThread() = default;

void WinInetTerminationThread::Run() {
  LOG(INFO) << "Waiting for WinINET to finish";
  // WinINet may report the closing only once a server it still reads from sends or
  // closes (Wine ends a pending read only then), and older WinINet may never report it:
  // a finished transfer must not wait on the server, so stop listening after a while.
  if (!termination_event_->TimedWait(base::TimeDelta::FromSeconds(kTerminationWaitSeconds))) {
    LOG(WARNING) << "WinINET did not finish in " << kTerminationWaitSeconds
                 << " s, unregistering the status callback";
    InternetSetStatusCallbackW(session_.Get(), nullptr);
  }
  session_.Reset();
  termination_event_->Reset();
}

}  // namespace installer
