#include "base/threading/os_thread.h"

#include "base/debug/activity_tracker.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_name_registry.h"
#include "base/tracked_objects.h"
#include "base/win/exception_guard.h"
#include "base/win/scoped_handle.h"
#include "base/win/win_util.h"

namespace base {

namespace {

struct ThreadParams {
  OsThread::Delegate* delegate;
  bool joinable;
  uint32_t priority;
};

DWORD WINAPI ThreadFunc(void* param) {
  ThreadParams* params = static_cast<ThreadParams*>(param);
  if (params->priority != OsThread::PRIORITY_NORMAL)
    SetThreadPriority(GetCurrentThread(), OsThread::WindowsPriority(params->priority));

  // A real handle of this thread, tracked for its lifetime, names it in the registry.
  ScopedHandle thread_handle;
  HANDLE duplicate = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                      &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    thread_handle.Set(duplicate);
    ThreadNameRegistry::Instance()->RegisterThread(thread_handle.Get(), GetCurrentThreadId());
  }

  OsThread::Delegate* delegate = params->delegate;
  delete params;
  delegate->ThreadMain();

  if (thread_handle.IsValid())
    ThreadNameRegistry::Instance()->RemoveName(thread_handle.Get(), GetCurrentThreadId());
  return 0;
}

bool CreateThreadInternal(size_t stack_size, OsThread::Delegate* delegate, HANDLE* out_handle,
                          uint32_t priority) {
  ThreadParams* params = new ThreadParams{delegate, out_handle != nullptr, priority};
  DWORD flags = stack_size ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0;
  HANDLE handle = CreateThread(nullptr, stack_size, &ThreadFunc, params, flags, nullptr);
  if (!handle) {
    DWORD error = GetLastError();
    delete params;
    SetLastError(error);
    return false;
  }
  if (out_handle) {
    *out_handle = handle;
  } else {
    ScopedHandle detached(handle);  // closed here: nobody joins it
  }
  return true;
}

// The record a debugger reads from the thread-name exception.
struct ThreadNameInfo {
  DWORD type;
  LPCSTR name;
  DWORD thread_id;
  DWORD flags;
};

const DWORD kThreadNameException = 0x406D1388;

void RaiseThreadNameException(void* context) {
  RaiseException(kThreadNameException, 0, sizeof(ThreadNameInfo) / sizeof(ULONG_PTR),
                 static_cast<const ULONG_PTR*>(context));
}

LONG ContinueAfterThreadName(EXCEPTION_POINTERS* info, void*) {
  return info->ExceptionRecord->ExceptionCode == kThreadNameException
             ? EXCEPTION_CONTINUE_EXECUTION
             : EXCEPTION_CONTINUE_SEARCH;
}

typedef HRESULT(WINAPI* SetThreadDescriptionFunction)(HANDLE thread, PCWSTR description);

}  // namespace

// static
bool OsThread::Create(size_t stack_size, Delegate* delegate, HANDLE* out_handle,
                      uint32_t priority) {
  return CreateThreadInternal(stack_size, delegate, out_handle, priority);
}

// static
bool OsThread::CreateWithPriority(size_t stack_size, Delegate* delegate, HANDLE* out_handle,
                                  uint32_t priority) {
  return Create(stack_size, delegate, out_handle, priority);
}

// static
bool OsThread::CreateNonJoinable(size_t stack_size, Delegate* delegate, uint32_t priority) {
  return CreateThreadInternal(stack_size, delegate, nullptr, priority);
}

// static
void OsThread::Join(HANDLE handle) {
  ScopedHandle thread(handle);
  debug::ThreadJoinActivityScope scope(__builtin_return_address(0), handle);
  DWORD result = WaitForSingleObject(handle, INFINITE);
  CHECK(result == WAIT_OBJECT_0) << "thread join failed: " << GetLastError();
}

// static
void OsThread::Sleep(TimeDelta delta) {
  TimeTicks now = TimeTicks::Now();
  const TimeTicks end = now + delta;
  while (now < end) {
    TimeDelta remaining = end - now;
    DWORD ms = remaining.is_max() || remaining.InMillisecondsRoundedUp() >= INFINITE
                   ? INFINITE
                   : static_cast<DWORD>(remaining.InMillisecondsRoundedUp());
    ::Sleep(ms);
    now = TimeTicks::Now();
  }
}

// static
void OsThread::SetName(const std::string& name) {
  ThreadNameRegistry::Instance()->SetName(GetCurrentThreadId(), name);
  if (name != "BrokerEvent")
    TrackedThreadData::InitializeThreadContext(name);

  HMODULE kernel32 = GetModuleHandleW(L"Kernel32.dll");
  SetThreadDescriptionFunction set_description =
      kernel32 ? reinterpret_cast<SetThreadDescriptionFunction>(
                     reinterpret_cast<void*>(GetProcAddress(kernel32, "SetThreadDescription")))
               : nullptr;
  if (set_description)
    set_description(GetCurrentThread(), UTF8ToWide(name).c_str());

  if (!IsDebuggerPresent() && !IsInstrumentedImage())
    return;

  // The older way to name a thread for a debugger; without one attached the guard lets
  // the thread go on.
  ThreadNameInfo info;
  info.type = 0x1000;
  info.name = name.c_str();
  info.thread_id = GetCurrentThreadId();
  info.flags = 0;
  (void)RunWithExceptionGuard(&RaiseThreadNameException, &info, &ContinueAfterThreadName,
                              nullptr);  // the filter always continues: the name is a hint
}

// static
int OsThread::WindowsPriority(uint32_t priority) {
  switch (priority) {
    case PRIORITY_BACKGROUND:
      return THREAD_PRIORITY_LOWEST;
    case PRIORITY_NORMAL:
      return THREAD_PRIORITY_NORMAL;
    case PRIORITY_DISPLAY:
      return THREAD_PRIORITY_ABOVE_NORMAL;
    case PRIORITY_TIME_CRITICAL:
      return THREAD_PRIORITY_TIME_CRITICAL;
    default:
      return THREAD_PRIORITY_ERROR_RETURN;
  }
}

}  // namespace base
