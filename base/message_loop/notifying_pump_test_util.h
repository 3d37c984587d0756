// Test helper: a default pump that also signals an event each time a post wakes it, so
// a test can wait for "a task was posted to this loop" without sleeping.
//
//   SyncEvent woken(SyncEvent::AUTOMATIC, SyncEvent::NOT_SIGNALED);
//   std::unique_ptr<MessageLoop> loop = MakeLoopWithNotifyingPump(&woken);
#ifndef BASE_MESSAGE_LOOP_NOTIFYING_PUMP_TEST_UTIL_H_
#define BASE_MESSAGE_LOOP_NOTIFYING_PUMP_TEST_UTIL_H_

#include <memory>

#include "base/message_loop/message_loop.h"
#include "base/synchronization/sync_event.h"

namespace base {

// A loop bound to the calling thread whose pump signals |woken| on every wake-up.
std::unique_ptr<MessageLoop> MakeLoopWithNotifyingPump(SyncEvent* woken);

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_NOTIFYING_PUMP_TEST_UTIL_H_
