// Process-wide map from thread ids to the names threads gave themselves; the
// diagnostics code reads it to label trace events and activity records.
#ifndef BASE_THREADING_THREAD_NAME_REGISTRY_H_
#define BASE_THREADING_THREAD_NAME_REGISTRY_H_

#include <windows.h>

#include <map>
#include <string>

#include "base/synchronization/lock.h"

namespace base {

class ThreadNameRegistry {
 public:
  // Created on first use and never destroyed.
  static ThreadNameRegistry* Instance();

  // Called around the delegate of every thread this library creates.
  void RegisterThread(HANDLE handle, DWORD thread_id);
  void RemoveName(HANDLE handle, DWORD thread_id);

  // Names the thread `thread_id`. An unregistered thread is taken to be the main thread.
  void SetName(DWORD thread_id, const std::string& name);

  // The thread's name, "" when it has none. The pointer stays valid for the life of
  // the process.
  const char* GetName(DWORD thread_id);

  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

 private:
  ThreadNameRegistry();
  ~ThreadNameRegistry() = delete;

  // Returns the interned copy of `name`; the caller holds `lock_`.
  const char* InternLocked(const std::string& name);

  Lock lock_;
  // Values are never freed, so handed-out pointers stay valid.
  std::map<std::string, std::string*> interned_names_;
  std::map<DWORD, HANDLE> thread_id_to_handle_;
  std::map<HANDLE, const char*> thread_handle_to_name_;
  const char* main_thread_name_ = nullptr;
  DWORD main_thread_id_ = 0;
  const char* default_name_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_NAME_REGISTRY_H_
