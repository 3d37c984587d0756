// ObjectWatcher: turns the signalling of a kernel object (a process, an event) into a
// call on the sequence that started the watch. One watch at a time, fired once.
//
//   class Runner : public ObjectWatcher::Delegate {
//     void OnObjectSignaled(HANDLE process) override { ... }   // on the origin loop
//   };
//   watcher_.StartWatching(process.Handle(), this);
#ifndef BASE_WIN_OBJECT_WATCHER_H_
#define BASE_WIN_OBJECT_WATCHER_H_

#include <windows.h>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"
#include "base/win/scoped_generic.h"

namespace base {

class ObjectWatcher {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // Called on the sequence that started the watch; the watcher is idle again.
    virtual void OnObjectSignaled(HANDLE object) = 0;
  };

  ObjectWatcher();
  // Stops watching, waiting for a wait callback already running to finish.
  ~ObjectWatcher();
  ObjectWatcher(const ObjectWatcher&) = delete;
  ObjectWatcher& operator=(const ObjectWatcher&) = delete;

  // Starts a one-shot watch of |object| (not owned), ending any watch in progress. The
  // calling thread must run a MessageLoop. False when the wait cannot be registered.
  [[nodiscard]] bool StartWatching(HANDLE object, Delegate* delegate);

  // False when nothing was watched or the wait could not be unregistered (logged here),
  // so a caller that only stops may ignore the result.
  bool StopWatching();

  bool IsWatching() const { return wait_handle_.IsValid(); }
  HANDLE GetWatchedObject() const { return object_; }

 private:
  // Runs on the thread pool's wait thread.
  static void CALLBACK DoneWaiting(void* param, BOOLEAN timed_out);
  // Runs on the origin sequence.
  void Signal(Delegate* delegate);
  void Reset();

  Closure callback_;
  HANDLE object_ = nullptr;
  ScopedRegisteredWait wait_handle_;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  bool run_once_ = true;
  WeakPtrFactory<ObjectWatcher> weak_factory_;
};

}  // namespace base

#endif  // BASE_WIN_OBJECT_WATCHER_H_
