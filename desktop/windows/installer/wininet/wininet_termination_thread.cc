#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

#include "base/logging.h"
#include "base/win/windows_version.h"

namespace installer {

WinInetTerminationThread::WinInetTerminationThread(base::SyncEvent* termination_event,
                                                   HINTERNET session)
    : base::PlainThread("Wininet Termination"),
      termination_event_(termination_event),
      session_(session) {}

WinInetTerminationThread::~WinInetTerminationThread() {
  // Never started, or the start failed: the session is still ours to close.
  if (session_) InternetCloseHandle(session_);
}

void WinInetTerminationThread::Run() {
  if (base::GetWindowsVersion() < base::OS_VERSION_VISTA) {
    // Older WinINet may never report the closing: stop listening after a while.
    if (!termination_event_->TimedWait(base::TimeDelta::FromSeconds(5)))
      InternetSetStatusCallbackW(session_, nullptr);
  } else {
    LOG(INFO) << "Waiting for WinINET to finish";
    termination_event_->Wait();
  }
  InternetCloseHandle(session_);
  session_ = nullptr;
  termination_event_->Reset();
}

}  // namespace installer
