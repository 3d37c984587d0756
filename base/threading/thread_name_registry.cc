#include "base/threading/thread_name_registry.h"

#include <atomic>

#include "base/lazy_instance.h"
#include "base/trace_event/heap_context_tracker.h"

namespace base {

namespace {

std::atomic<uintptr_t> g_registry_state{0};

}  // namespace

// static
ThreadNameRegistry* ThreadNameRegistry::Instance() {
  return GetOrCreateLazyPointer<ThreadNameRegistry>(
      &g_registry_state, [] { return new ThreadNameRegistry(); }, nullptr, nullptr);
}

ThreadNameRegistry::ThreadNameRegistry() {
  AutoLock locked(lock_);
  default_name_ = InternLocked(std::string());
}

const char* ThreadNameRegistry::InternLocked(const std::string& name) {
  auto found = interned_names_.find(name);
  if (found != interned_names_.end())
    return found->second->c_str();
  std::string* copy = new std::string(name);
  interned_names_.emplace(name, copy);
  return copy->c_str();
}

void ThreadNameRegistry::RegisterThread(HANDLE handle, DWORD thread_id) {
  AutoLock locked(lock_);
  thread_id_to_handle_[thread_id] = handle;
  thread_handle_to_name_[handle] = default_name_;
}

void ThreadNameRegistry::RemoveName(HANDLE handle, DWORD thread_id) {
  AutoLock locked(lock_);
  thread_handle_to_name_.erase(handle);
  auto id = thread_id_to_handle_.find(thread_id);
  // The id may already belong to a newer thread; leave that thread's entry alone.
  if (id != thread_id_to_handle_.end() && id->second == handle)
    thread_id_to_handle_.erase(id);
}

void ThreadNameRegistry::SetName(DWORD thread_id, const std::string& name) {
  const char* interned = nullptr;
  {
    AutoLock locked(lock_);
    interned = InternLocked(name);
    auto id = thread_id_to_handle_.find(thread_id);
    if (id == thread_id_to_handle_.end()) {
      main_thread_name_ = interned;
      main_thread_id_ = thread_id;
      return;
    }
    thread_handle_to_name_[id->second] = interned;
  }
  if (trace_event::HeapContextTracker::capture_mode() !=
      trace_event::HeapContextTracker::CaptureMode::DISABLED) {
    if (trace_event::HeapContextTracker* tracker =
            trace_event::HeapContextTracker::ForCurrentThread())
      tracker->set_thread_name(interned);
  }
}

const char* ThreadNameRegistry::GetName(DWORD thread_id) {
  AutoLock locked(lock_);
  if (main_thread_name_ && thread_id == main_thread_id_)
    return main_thread_name_;
  auto id = thread_id_to_handle_.find(thread_id);
  if (id == thread_id_to_handle_.end())
    return default_name_;
  return thread_handle_to_name_[id->second];
}

}  // namespace base
