// OsThread: the thin layer over the Windows thread functions: create a thread
// (joinable or detached) with a stack size and a priority, join it, sleep, and name the
// calling thread.
//
//   class Writer : public OsThread::Delegate { void ThreadMain() override; };
//   HANDLE handle;
//   if (OsThread::Create(0, &writer, &handle, OsThread::PRIORITY_NORMAL)) ...
//   OsThread::Join(handle);
#ifndef BASE_THREADING_OS_THREAD_H_
#define BASE_THREADING_OS_THREAD_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/time/time.h"

namespace base {

class OsThread {
 public:
  enum Priority : uint32_t {
    PRIORITY_BACKGROUND = 0,
    PRIORITY_NORMAL = 1,
    PRIORITY_DISPLAY = 2,
    PRIORITY_TIME_CRITICAL = 3,
  };

  class Delegate {
   public:
    virtual void ThreadMain() = 0;

   protected:
    ~Delegate() = default;
  };

  // Runs |delegate| on a new thread. With |out_handle| the thread is joinable and its
  // handle is stored there; without it the thread is detached. A |stack_size| of 0 takes
  // the process default; any other size reserves that much address space.
  [[nodiscard]] static bool Create(size_t stack_size, Delegate* delegate, HANDLE* out_handle,
                     uint32_t priority);
  [[nodiscard]] static bool CreateWithPriority(size_t stack_size, Delegate* delegate, HANDLE* out_handle,
                                 uint32_t priority);
  [[nodiscard]] static bool CreateNonJoinable(size_t stack_size, Delegate* delegate, uint32_t priority);

  // Waits without limit for the thread to end, then closes |handle|. A failed wait stops
  // the process.
  static void Join(HANDLE handle);

  // Sleeps at least |delta| by the tick clock.
  static void Sleep(TimeDelta delta);

  // Names the calling thread (UTF-8).
  static void SetName(const std::string& name);

  // The Windows priority a priority value sets; THREAD_PRIORITY_ERROR_RETURN when
  // |priority| is not one of the four values.
  static int WindowsPriority(uint32_t priority);

  OsThread() = delete;
};

}  // namespace base

#endif  // BASE_THREADING_OS_THREAD_H_
