// Catches the process's unhandled exceptions, CRT invalid-parameter calls and pure
// virtual calls and turns them into minidumps: written by the crash reporter when the
// handler registered with one (out-of-process), else by the handler itself into its dump
// folder, from a thread of its own so that the crashed stack is not used (in-process).
//
// Handlers nest: the newest one handles first; while it handles, the handlers that were
// installed before it are back in place, so a crash inside the handling reaches them.
//
//   CrashExceptionHandler handler(L"", &EnterGate, &DumpDone, nullptr,
//                                 CrashExceptionHandler::kHandlerAll, 0, pipe_name,
//                                 &custom_info);
//   if (!handler.IsOutOfProcess()) ...  // no reporter: dumps go to the dump folder
#ifndef CRASH_REPORTER_CRASH_EXCEPTION_HANDLER_H_
#define CRASH_REPORTER_CRASH_EXCEPTION_HANDLER_H_

#include <windows.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_pipe_message.h"

namespace crash_reporter {

class CrashGenerationClient;

// The process exit code after a crash was handled.
constexpr UINT kCrashExitCode = 1;

class CrashExceptionHandler {
 public:
  enum HandlerType {
    kHandlerNone = 0,
    kHandlerException = 1,         // unhandled-exception filter
    kHandlerInvalidParameter = 2,  // CRT invalid-parameter handler
    kHandlerPureCall = 4,          // CRT pure-call handler
    kHandlerAll = 7,
  };

  // Called before a dump; false suppresses it.
  typedef bool (*FilterCallback)(void* context, EXCEPTION_POINTERS* exception_pointers,
                                 const AssertionInfo* assertion);
  // Called with the outcome of a dump; its answer becomes the result.
  typedef bool (*MinidumpCallback)(const wchar_t* dump_folder, const wchar_t* dump_id,
                                   void* context, EXCEPTION_POINTERS* exception_pointers,
                                   const AssertionInfo* assertion, bool succeeded);

  // Registers with the reporter serving |pipe_name|; without one (empty name, no
  // server, refused registration) dumps go to |dump_folder|.
  CrashExceptionHandler(const std::wstring& dump_folder, FilterCallback filter,
                        MinidumpCallback callback, void* callback_context, int handler_types,
                        uint32_t dump_type, const std::wstring& pipe_name,
                        const CustomClientInfo* custom_info);
  // The same with a client of the caller's making.
  CrashExceptionHandler(const std::wstring& dump_folder, FilterCallback filter,
                        MinidumpCallback callback, void* callback_context, int handler_types,
                        uint32_t dump_type, std::unique_ptr<CrashGenerationClient> client);
  CrashExceptionHandler(const CrashExceptionHandler&) = delete;
  CrashExceptionHandler& operator=(const CrashExceptionHandler&) = delete;
  ~CrashExceptionHandler();

  // Whether the reporter writes the dumps.
  bool IsOutOfProcess() const { return client_ != nullptr; }
  // Breakpoints, single steps and debug prints are dumped only with this on.
  void set_handle_debug_exceptions(bool handle) { handle_debug_exceptions_ = handle; }
  // The id the next in-process dump is named by.
  const std::wstring& next_dump_id() const { return next_dump_id_; }

  // A dump on demand of |exception_pointers| (may be null).
  [[nodiscard]] bool WriteMinidump(EXCEPTION_POINTERS* exception_pointers);

  // The process-wide handlers; public so that a test can call the CRT ones, which the
  // msvcrt runtime never calls itself. After a dump the last two end the process with
  // kCrashExitCode.
  static LONG WINAPI HandleException(EXCEPTION_POINTERS* exception_pointers);
  static void __cdecl HandleInvalidParameter(const wchar_t* expression,
                                             const wchar_t* function, const wchar_t* file,
                                             unsigned int line, uintptr_t reserved);
  static void __cdecl HandlePureVirtualCall();

  // A memory range added to in-process dumps.
  struct MemoryRange {
    ULONG64 base;
    ULONG size;
  };

 private:
  class AutoHandlerSelection;

  void Initialize(const std::wstring& dump_folder, FilterCallback filter,
                  MinidumpCallback callback, void* callback_context, int handler_types,
                  uint32_t dump_type, std::unique_ptr<CrashGenerationClient> client);
  void RestorePreviousHandlers();
  void UpdateNextID();
  // Dumps from the handler thread; false without one.
  [[nodiscard]] bool WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* exception_pointers,
                                                  const AssertionInfo* assertion);
  [[nodiscard]] bool WriteMinidumpWithException(DWORD requesting_thread_id,
                                                EXCEPTION_POINTERS* exception_pointers,
                                                const AssertionInfo* assertion);
  [[nodiscard]] bool WriteMinidumpInProcess(DWORD requesting_thread_id,
                                            EXCEPTION_POINTERS* exception_pointers,
                                            const AssertionInfo* assertion);
  // The dump path of the exception or assertion that reached a handler.
  [[nodiscard]] bool WriteForHandler(EXCEPTION_POINTERS* exception_pointers,
                                     const AssertionInfo* assertion);
  // The same for a CRT assertion, dumped as an exception of |exception_code| raised here.
  [[nodiscard]] bool WriteForAssertion(DWORD exception_code, AssertionInfo* assertion);
  static DWORD WINAPI HandlerThreadMain(void* handler);

  FilterCallback filter_ = nullptr;
  MinidumpCallback callback_ = nullptr;
  void* callback_context_ = nullptr;
  std::unique_ptr<CrashGenerationClient> client_;
  std::wstring dump_folder_;
  std::wstring next_dump_id_;
  std::wstring next_dump_path_;
  int handler_types_ = kHandlerNone;
  uint32_t dump_type_ = 0;

  base::ScopedModule dbghelp_;
  void* write_dump_ = nullptr;  // MiniDumpWriteDump
  base::ScopedModule rpcrt4_;
  void* uuid_create_ = nullptr;  // UuidCreate

  LPTOP_LEVEL_EXCEPTION_FILTER previous_filter_ = nullptr;
  _invalid_parameter_handler previous_invalid_parameter_handler_ = nullptr;
  _purecall_handler previous_purecall_handler_ = nullptr;

  // In-process machinery: the handler thread takes one request at a time.
  base::ScopedHandle handler_thread_;
  volatile bool shutting_down_ = false;
  CRITICAL_SECTION request_lock_;
  // Deletes request_lock_ when the handler goes.
  base::ScopedCriticalSection request_lock_owner_;
  base::ScopedHandle request_semaphore_;
  base::ScopedHandle done_semaphore_;
  DWORD requesting_thread_id_ = 0;
  EXCEPTION_POINTERS* request_exception_pointers_ = nullptr;
  const AssertionInfo* request_assertion_ = nullptr;
  bool request_result_ = false;

  bool handle_debug_exceptions_ = false;
  // Extra memory the dump includes: the code around the faulting instruction.
  std::vector<MemoryRange> extra_memory_;
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_EXCEPTION_HANDLER_H_
