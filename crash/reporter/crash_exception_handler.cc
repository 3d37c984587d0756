#include "crash/reporter/crash_exception_handler.h"

#include <dbghelp.h>
#include <rpc.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "base/native_library.h"
#include "crash/reporter/crash_generation_client.h"
#include "crash/reporter/minidump_file_writer.h"
#include "crash/reporter/moduleless_symbols.h"

namespace crash_reporter {

namespace {

constexpr DWORD kHandlerThreadStackSize = 64 * 1024;
constexpr DWORD kHandlerThreadStopWaitMs = 60000;
// The code kept around the faulting instruction, on each side.
constexpr ULONG64 kInstructionMemoryReach = 128;

constexpr DWORD kExceptionBreakpoint = 0x80000003;
constexpr DWORD kExceptionSingleStep = 0x80000004;
constexpr DWORD kExceptionDebugPrint = 0x40010006;
constexpr DWORD kExceptionDebugPrintWide = 0x4001000A;
constexpr DWORD kExceptionInvalidParameter = 0xC000000D;
constexpr DWORD kExceptionNoncontinuable = 0xC0000025;

typedef BOOL(WINAPI* MiniDumpWriteDumpFunction)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                 PMINIDUMP_EXCEPTION_INFORMATION,
                                                 PMINIDUMP_USER_STREAM_INFORMATION,
                                                 PMINIDUMP_CALLBACK_INFORMATION);
typedef RPC_STATUS(RPC_ENTRY* UuidCreateFunction)(UUID*);

// The handlers in order of installation, the nesting depth of the handling in progress
// and the lock that serialises all handling.
std::vector<CrashExceptionHandler*>* g_handler_stack = nullptr;
LONG g_handler_depth = 0;
CRITICAL_SECTION g_handler_stack_lock;

bool IsDebugException(DWORD code) {
  return code == kExceptionBreakpoint || code == kExceptionSingleStep ||
         code == kExceptionDebugPrint || code == kExceptionDebugPrintWide;
}

void CopyAssertionText(wchar_t (&destination)[kAssertionTextLength], const wchar_t* text) {
  memset(destination, 0, sizeof(destination));
  if (!text) return;
  const size_t length = std::min(wcslen(text), kAssertionTextLength - 1);
  memcpy(destination, text, length * sizeof(wchar_t));
}

}  // namespace

// Hands the extra memory ranges to MiniDumpWriteDump one at a time.
struct DumpCallbackState {
  const std::vector<CrashExceptionHandler::MemoryRange>* ranges;
  size_t next;
};

namespace {

BOOL CALLBACK DumpCallback(void* context, const PMINIDUMP_CALLBACK_INPUT input,
                           PMINIDUMP_CALLBACK_OUTPUT output) {
  DumpCallbackState* state = static_cast<DumpCallbackState*>(context);
  switch (input->CallbackType) {
    case MemoryCallback:
      while (state->next < state->ranges->size()) {
        const CrashExceptionHandler::MemoryRange& range = (*state->ranges)[state->next++];
        if (range.size == 0) continue;
        output->MemoryBase = range.base;
        output->MemorySize = range.size;
        return TRUE;
      }
      return FALSE;
    default:
      return AnswerDumpCallback(*input, output);
  }
}

}  // namespace

// The thread writing an in-process dump and the handler it writes for: a crash on that
// thread must not wait at the gate that its own request holds.
std::atomic<DWORD> g_writing_thread{0};
std::atomic<CrashExceptionHandler*> g_writing_handler{nullptr};

// The crash gate: selects the handler for the handling in progress and holds the stack
// lock until it leaves, so that a crash on another thread meanwhile waits here with every
// handler still installed instead of reaching whatever was installed before them. A
// nested crash on the same thread takes the next handler down; below the last one, or in
// the dump writer itself, it goes to what was installed before (|fallback|).
class CrashExceptionHandler::AutoHandlerSelection {
 public:
  AutoHandlerSelection() {
    if (GetCurrentThreadId() == g_writing_thread.load()) {
      fallback_ = g_writing_handler.load();
      return;
    }
    EnterCriticalSection(&g_handler_stack_lock);
    locked_ = true;
    ++g_handler_depth;
    if (!g_handler_stack || g_handler_stack->empty()) return;
    const LONG size = static_cast<LONG>(g_handler_stack->size());
    if (g_handler_depth <= size)
      handler_ = (*g_handler_stack)[size - g_handler_depth];
    else if (g_handler_depth == size + 1)
      fallback_ = g_handler_stack->front();
  }
  AutoHandlerSelection(const AutoHandlerSelection&) = delete;
  AutoHandlerSelection& operator=(const AutoHandlerSelection&) = delete;
  ~AutoHandlerSelection() {
    if (!locked_) return;
    --g_handler_depth;
    LeaveCriticalSection(&g_handler_stack_lock);
  }

  CrashExceptionHandler* get() const { return handler_; }
  // When no handler takes the crash: the handler whose predecessors do, or null.
  CrashExceptionHandler* fallback() const { return fallback_; }

 private:
  CrashExceptionHandler* handler_ = nullptr;
  CrashExceptionHandler* fallback_ = nullptr;
  bool locked_ = false;
};

CrashExceptionHandler::CrashExceptionHandler(const std::wstring& dump_folder,
                                             FilterCallback filter, MinidumpCallback callback,
                                             void* callback_context, int handler_types,
                                             uint32_t dump_type,
                                             const std::wstring& pipe_name,
                                             const CustomClientInfo* custom_info) {
  std::unique_ptr<CrashGenerationClient> client;
  if (!pipe_name.empty()) {
    const CustomClientInfo no_info = {nullptr, 0};
    client.reset(new CrashGenerationClient(pipe_name, base::ScopedHandle(), dump_type,
                                           custom_info ? *custom_info : no_info));
  }
  Initialize(dump_folder, filter, callback, callback_context, handler_types, dump_type,
             std::move(client));
}

CrashExceptionHandler::CrashExceptionHandler(const std::wstring& dump_folder,
                                             FilterCallback filter, MinidumpCallback callback,
                                             void* callback_context, int handler_types,
                                             uint32_t dump_type,
                                             std::unique_ptr<CrashGenerationClient> client) {
  Initialize(dump_folder, filter, callback, callback_context, handler_types, dump_type,
             std::move(client));
}

void CrashExceptionHandler::Initialize(const std::wstring& dump_folder, FilterCallback filter,
                                       MinidumpCallback callback, void* callback_context,
                                       int handler_types, uint32_t dump_type,
                                       std::unique_ptr<CrashGenerationClient> client) {
  filter_ = filter;
  callback_ = callback;
  callback_context_ = callback_context;
  handler_types_ = handler_types;
  dump_type_ = dump_type;
  InitializeCriticalSection(&request_lock_);
  request_lock_owner_.Reset(&request_lock_);
  // Made once for the process and never deleted: counting live handlers to create and
  // delete it lets a handler constructed on another thread meanwhile use it half made.
  static INIT_ONCE stack_lock_once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(
      &stack_lock_once,
      [](INIT_ONCE*, void*, void**) -> BOOL {
        InitializeCriticalSection(&g_handler_stack_lock);
        return TRUE;
      },
      nullptr, nullptr);

  if (client && client->Register()) client_ = std::move(client);

  if (!client_) {
    request_semaphore_.Set(CreateSemaphoreW(nullptr, 0, 1, nullptr));
    done_semaphore_.Set(CreateSemaphoreW(nullptr, 0, 1, nullptr));
    if (request_semaphore_.IsValid() && done_semaphore_.IsValid()) {
      DWORD thread_id = 0;
      handler_thread_.Set(CreateThread(nullptr, kHandlerThreadStackSize, &HandlerThreadMain,
                                       this, 0, &thread_id));
    }
    dbghelp_.Reset(base::LoadSystemLibrary(L"dbghelp.dll"));
    if (dbghelp_.IsValid()) {
      write_dump_ =
          reinterpret_cast<void*>(GetProcAddress(dbghelp_.Get(), "MiniDumpWriteDump"));
    }
    rpcrt4_.Reset(base::LoadSystemLibrary(L"rpcrt4.dll"));
    if (rpcrt4_.IsValid())
      uuid_create_ = reinterpret_cast<void*>(GetProcAddress(rpcrt4_.Get(), "UuidCreate"));
    dump_folder_ = dump_folder;
    UpdateNextID();
  }

  extra_memory_.push_back(MemoryRange{0, 0});

  if (handler_types_ != kHandlerNone) {
    EnterCriticalSection(&g_handler_stack_lock);
    if (!g_handler_stack) g_handler_stack = new std::vector<CrashExceptionHandler*>;
    g_handler_stack->push_back(this);
    if (handler_types_ & kHandlerException)
      previous_filter_ = SetUnhandledExceptionFilter(&HandleException);
    if (handler_types_ & kHandlerInvalidParameter)
      previous_invalid_parameter_handler_ =
          _set_invalid_parameter_handler(&HandleInvalidParameter);
    if (handler_types_ & kHandlerPureCall)
      previous_purecall_handler_ = _set_purecall_handler(&HandlePureVirtualCall);
    LeaveCriticalSection(&g_handler_stack_lock);
  }
}

CrashExceptionHandler::~CrashExceptionHandler() {
  if (handler_types_ != kHandlerNone) {
    EnterCriticalSection(&g_handler_stack_lock);
    RestorePreviousHandlers();
    if (!g_handler_stack->empty() && g_handler_stack->back() == this) {
      g_handler_stack->pop_back();
    } else {
      fprintf(stderr, "warning: removing crash handler out of order\n");
      g_handler_stack->erase(
          std::remove(g_handler_stack->begin(), g_handler_stack->end(), this),
          g_handler_stack->end());
    }
    if (g_handler_stack->empty()) {
      delete g_handler_stack;
      g_handler_stack = nullptr;
    }
    LeaveCriticalSection(&g_handler_stack_lock);
  }

  if (handler_thread_.IsValid()) {
    shutting_down_ = true;
    ReleaseSemaphore(request_semaphore_.Get(), 1, nullptr);
    // A thread still inside dbghelp after the wait keeps the library: it stays loaded.
    if (WaitForSingleObject(handler_thread_.Get(), kHandlerThreadStopWaitMs) != WAIT_OBJECT_0) {
      (void)dbghelp_.Take();
      (void)rpcrt4_.Take();
    }
  }
  dbghelp_.Reset();
  rpcrt4_.Reset();
}

void CrashExceptionHandler::RestorePreviousHandlers() {
  if (handler_types_ & kHandlerException) SetUnhandledExceptionFilter(previous_filter_);
  if (handler_types_ & kHandlerInvalidParameter)
    _set_invalid_parameter_handler(previous_invalid_parameter_handler_);
  if (handler_types_ & kHandlerPureCall) _set_purecall_handler(previous_purecall_handler_);
}

void CrashExceptionHandler::UpdateNextID() {
  UUID id = {};
  if (uuid_create_) reinterpret_cast<UuidCreateFunction>(uuid_create_)(&id);
  wchar_t text[40];
  swprintf(text, 40, L"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
           static_cast<unsigned>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
           id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
  next_dump_id_ = text;
  wchar_t path[MAX_PATH];
  const int length =
      swprintf(path, MAX_PATH, L"%ls\\%ls.dmp", dump_folder_.c_str(), next_dump_id_.c_str());
  // A path that does not fit names no file: the dump then fails instead of landing
  // under a cut name.
  next_dump_path_ = (length > 0 && length < MAX_PATH) ? std::wstring(path) : std::wstring();
}

bool CrashExceptionHandler::WriteMinidump(EXCEPTION_POINTERS* exception_pointers) {
  if (IsOutOfProcess())
    return WriteMinidumpWithException(GetCurrentThreadId(), exception_pointers, nullptr);
  const bool written = WriteMinidumpOnHandlerThread(exception_pointers, nullptr);
  UpdateNextID();
  return written;
}

bool CrashExceptionHandler::WriteForHandler(EXCEPTION_POINTERS* exception_pointers,
                                            const AssertionInfo* assertion) {
  if (IsOutOfProcess())
    return WriteMinidumpWithException(GetCurrentThreadId(), exception_pointers, assertion);
  return WriteMinidumpOnHandlerThread(exception_pointers, assertion);
}

LONG WINAPI CrashExceptionHandler::HandleException(EXCEPTION_POINTERS* exception_pointers) {
  AutoHandlerSelection selection;
  CrashExceptionHandler* handler = selection.get();
  if (!handler) {
    CrashExceptionHandler* outer = selection.fallback();
    // A handler installed over one removed out of order may have ours as its previous one.
    return outer && outer->previous_filter_ && outer->previous_filter_ != &HandleException
               ? outer->previous_filter_(exception_pointers)
               : EXCEPTION_CONTINUE_SEARCH;
  }
  const DWORD code = exception_pointers && exception_pointers->ExceptionRecord
                         ? exception_pointers->ExceptionRecord->ExceptionCode
                         : 0;
  bool written = false;
  if (handler->handle_debug_exceptions_ || !IsDebugException(code))
    written = handler->WriteForHandler(exception_pointers, nullptr);
  if (written) return EXCEPTION_EXECUTE_HANDLER;
  if (handler->previous_filter_) return handler->previous_filter_(exception_pointers);
  return EXCEPTION_CONTINUE_SEARCH;
}

bool CrashExceptionHandler::WriteForAssertion(DWORD exception_code,
                                              AssertionInfo* assertion) {
  // An exception of our own making, raised at this point, for the dump to show.
  CONTEXT context;
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = exception_code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  record.NumberParameters = 3;
  record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(&assertion->expression);
  record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(&assertion->file);
  record.ExceptionInformation[2] = assertion->line;
  EXCEPTION_POINTERS pointers = {&record, &context};
  return WriteForHandler(&pointers, assertion);
}

void __cdecl CrashExceptionHandler::HandleInvalidParameter(const wchar_t* expression,
                                                           const wchar_t* function,
                                                           const wchar_t* file,
                                                           unsigned int line,
                                                           uintptr_t reserved) {
  {
    AutoHandlerSelection selection;
    CrashExceptionHandler* handler = selection.get();
    CrashExceptionHandler* outer = selection.fallback();
    if (!handler && outer && outer->previous_invalid_parameter_handler_ &&
        outer->previous_invalid_parameter_handler_ != &HandleInvalidParameter)
      outer->previous_invalid_parameter_handler_(expression, function, file, line, reserved);
    if (handler) {
      AssertionInfo assertion;
      CopyAssertionText(assertion.expression, expression);
      CopyAssertionText(assertion.function, function);
      CopyAssertionText(assertion.file, file);
      assertion.line = line;
      assertion.type = kAssertionInvalidParameter;
      if (!handler->WriteForAssertion(kExceptionInvalidParameter, &assertion) &&
          handler->previous_invalid_parameter_handler_) {
        // msvcrt has no default report of its own to fall back to.
        handler->previous_invalid_parameter_handler_(expression, function, file, line,
                                                     reserved);
      }
    }
  }
  // The process cannot go on, and its exit must neither read as success nor run exit
  // handlers in a broken state.
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
}

void __cdecl CrashExceptionHandler::HandlePureVirtualCall() {
  {
    AutoHandlerSelection selection;
    CrashExceptionHandler* handler = selection.get();
    CrashExceptionHandler* outer = selection.fallback();
    if (!handler && outer && outer->previous_purecall_handler_ &&
        outer->previous_purecall_handler_ != &HandlePureVirtualCall) {
      outer->previous_purecall_handler_();
    }
    if (handler) {
      AssertionInfo assertion;
      memset(&assertion, 0, sizeof(assertion));
      assertion.type = kAssertionPureVirtualCall;
      if (!handler->WriteForAssertion(kExceptionNoncontinuable, &assertion) &&
          handler->previous_purecall_handler_) {
        handler->previous_purecall_handler_();
      }
    }
  }
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
}

bool CrashExceptionHandler::WriteMinidumpOnHandlerThread(
    EXCEPTION_POINTERS* exception_pointers, const AssertionInfo* assertion) {
  EnterCriticalSection(&request_lock_);
  bool result = false;
  if (handler_thread_.IsValid()) {
    requesting_thread_id_ = GetCurrentThreadId();
    request_exception_pointers_ = exception_pointers;
    request_assertion_ = assertion;
    ReleaseSemaphore(request_semaphore_.Get(), 1, nullptr);
    WaitForSingleObject(done_semaphore_.Get(), INFINITE);
    result = request_result_;
    requesting_thread_id_ = 0;
    request_exception_pointers_ = nullptr;
    request_assertion_ = nullptr;
    request_result_ = false;
  }
  LeaveCriticalSection(&request_lock_);
  return result;
}

DWORD WINAPI CrashExceptionHandler::HandlerThreadMain(void* parameter) {
  CrashExceptionHandler* handler = static_cast<CrashExceptionHandler*>(parameter);
  for (;;) {
    if (WaitForSingleObject(handler->request_semaphore_.Get(), INFINITE) != WAIT_OBJECT_0)
      return 1;
    if (handler->shutting_down_) return 0;
    g_writing_handler.store(handler);
    g_writing_thread.store(GetCurrentThreadId());
    handler->request_result_ = handler->WriteMinidumpWithException(
        handler->requesting_thread_id_, handler->request_exception_pointers_,
        handler->request_assertion_);
    g_writing_thread.store(0);
    g_writing_handler.store(nullptr);
    ReleaseSemaphore(handler->done_semaphore_.Get(), 1, nullptr);
  }
}

bool CrashExceptionHandler::WriteMinidumpWithException(
    DWORD requesting_thread_id, EXCEPTION_POINTERS* exception_pointers,
    const AssertionInfo* assertion) {
  if (filter_ && !filter_(callback_context_, exception_pointers, assertion)) return false;
  bool written = IsOutOfProcess()
                     ? client_->RequestDump(exception_pointers, assertion)
                     : WriteMinidumpInProcess(requesting_thread_id, exception_pointers,
                                              assertion);
  if (callback_) {
    written = callback_(dump_folder_.c_str(), next_dump_id_.c_str(), callback_context_,
                        exception_pointers, assertion, written);
  }
  return written;
}

bool CrashExceptionHandler::WriteMinidumpInProcess(DWORD requesting_thread_id,
                                                   EXCEPTION_POINTERS* exception_pointers,
                                                   const AssertionInfo* assertion) {
  if (!write_dump_ || next_dump_path_.empty()) return false;
  base::ScopedHandle file(CreateFileW(next_dump_path_.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;

  MINIDUMP_EXCEPTION_INFORMATION exception_information = {};
  exception_information.ThreadId = requesting_thread_id;
  exception_information.ExceptionPointers = exception_pointers;
  exception_information.ClientPointers = FALSE;

  CrashInfoStream crash_info = {kCrashInfoValidDumpThread | kCrashInfoValidRequestingThread,
                                GetCurrentThreadId(), requesting_thread_id};
  MINIDUMP_USER_STREAM streams[2] = {};
  streams[0].Type = kCrashInfoStreamType;
  streams[0].BufferSize = sizeof(crash_info);
  streams[0].Buffer = &crash_info;
  ULONG stream_count = 1;
  if (assertion) {
    streams[1].Type = kAssertionInfoStreamType;
    streams[1].BufferSize = sizeof(*assertion);
    streams[1].Buffer = const_cast<AssertionInfo*>(assertion);
    stream_count = 2;
  }
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {stream_count, streams};

  // The code around the faulting instruction, as far as it is committed.
  if (exception_pointers && exception_pointers->ContextRecord) {
    const ULONG64 ip = exception_pointers->ContextRecord->Rip;
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(reinterpret_cast<void*>(ip), &region, sizeof(region)) &&
        region.State == MEM_COMMIT) {
      const ULONG64 region_start = reinterpret_cast<ULONG64>(region.BaseAddress);
      const ULONG64 region_end = region_start + region.RegionSize;
      const ULONG64 start = std::max(region_start, ip > kInstructionMemoryReach
                                                       ? ip - kInstructionMemoryReach
                                                       : 0);
      const ULONG64 end = std::min(region_end, ip + kInstructionMemoryReach);
      extra_memory_[0] = MemoryRange{start, static_cast<ULONG>(end - start)};
    }
  }
  DumpCallbackState state = {&extra_memory_, 0};
  MINIDUMP_CALLBACK_INFORMATION callback = {&DumpCallback, &state};

  const ModulelessSymbols symbols(dbghelp_.Get(), GetCurrentProcess());
  return reinterpret_cast<MiniDumpWriteDumpFunction>(write_dump_)(
             GetCurrentProcess(), GetCurrentProcessId(), file.Get(),
             static_cast<MINIDUMP_TYPE>(dump_type_),
             exception_pointers ? &exception_information : nullptr, &user_streams,
             &callback) != FALSE;
}

}  // namespace crash_reporter
