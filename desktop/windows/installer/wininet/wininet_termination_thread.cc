#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

#include <utility>

#include "base/logging.h"
#include "base/win/windows_version.h"

namespace installer {

WinInetTerminationThread::WinInetTerminationThread(base::SyncEvent* termination_event,
                                                   base::ScopedInternetHandle session)
    : base::PlainThread("Wininet Termination"),
      termination_event_(termination_event),
      session_(std::move(session)) {}

WinInetTerminationThread::~WinInetTerminationThread() = default;

void WinInetTerminationThread::Run() {
  if (base::GetWindowsVersion() < base::OS_VERSION_VISTA) {
    // Older WinINet may never report the closing: stop listening after a while.
    if (!termination_event_->TimedWait(base::TimeDelta::FromSeconds(5)))
      InternetSetStatusCallbackW(session_.Get(), nullptr);
  } else {
    LOG(INFO) << "Waiting for WinINET to finish";
    termination_event_->Wait();
  }
  session_.Reset();
  termination_event_->Reset();
}

}  // namespace installer
