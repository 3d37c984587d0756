// Named events between the crash tests and their helper processes; the test creates them.
#ifndef CRASH_REPORTER_NAMED_EVENT_TEST_UTIL_H_
#define CRASH_REPORTER_NAMED_EVENT_TEST_UTIL_H_

#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace crash_reporter {

// No test waits longer than this on a helper; a helper never outlives a stuck test by more.
constexpr DWORD kNamedEventWaitMs = 60000;

inline bool SetNamedEvent(const std::wstring& name) {
  base::ScopedHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  return event.IsValid() && SetEvent(event.Get());
}

inline bool WaitNamedEvent(const std::wstring& name) {
  base::ScopedHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  return event.IsValid() && WaitForSingleObject(event.Get(), kNamedEventWaitMs) == WAIT_OBJECT_0;
}

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_NAMED_EVENT_TEST_UTIL_H_
