// A crashing client for the crash client's tests: `crash_client_test_helper <mode>
// <dump folder> [reporter pid]`.
//   invalid-parameter, pure-call: a handler (in-process without a reporter pid) and a
//       direct call of the CRT handler, which must end the process with code 1;
//   dump-and-terminate: connects the crash client to the reporter, sets the crash keys
//       and calls DumpAndTerminate from an exception filter;
//   unhandled: the same connection, then an exception nothing handles;
//   connect-and-exit: the same connection, then a normal exit with code 0;
//   two-threads: the same connection, then two threads raising at the same moment an
//       exception nothing handles;
//   fall-through: a filter of its own installed first (it ends the process with
//       kPreviousFilterCalled), the same connection, then an exception nothing handles;
//   give-up, give-up-go-on (a fourth argument, <name>): registers as an installer with a
//       short wait for its dump, raises and asks for the dump; once the wait has run out
//       it sets the event "<name>Stopped" and waits for "<name>Proceed"; then give-up ends
//       with kGaveUp, give-up-go-on clears its exception record as its handling going on
//       would, sets "<name>WentOn" and stays until the reporter has ended.
#include <windows.h>

#include <wchar.h>

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/win/exception_guard.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_client.h"
#include "crash/reporter/crash_exception_handler.h"
#include "crash/reporter/crash_generation_client.h"
#include "crash/reporter/crash_pipe_message.h"
#include "crash/reporter/named_event_test_util.h"

namespace {

constexpr DWORD kTestExceptionCode = 0xE0000042;

enum ExitCode {
  kBadArguments = 20,
  kHandlerReturned,
  kNotConnected,
  kNotTerminated,
  kPreviousFilterCalled,
  kDumpDone,
  kGaveUp,
  kWentOn,
};

// Far shorter than the product's: the test holds the reporter past it.
constexpr DWORD kGiveUpWaitMs = 100;

void Raise(void*) { RaiseException(kTestExceptionCode, 0, 0, nullptr); }

LONG DumpFilter(EXCEPTION_POINTERS* info, void*) {
  return crash_reporter::DumpAndTerminate(info);
}

HANDLE g_start_together = nullptr;

DWORD WINAPI RaiseWhenReleased(void*) {
  WaitForSingleObject(g_start_together, INFINITE);
  Raise(nullptr);
  return kNotTerminated;
}

LONG WINAPI RecordingFilter(EXCEPTION_POINTERS*) {
  ExitProcess(kPreviousFilterCalled);
}

struct GiveUp {
  crash_reporter::CrashGenerationClient* client;
  std::wstring name;
  bool go_on;
  uint32_t reporter_id;
};

LONG GiveUpFilter(EXCEPTION_POINTERS* info, void* context) {
  const GiveUp* give_up = static_cast<const GiveUp*>(context);
  if (give_up->client->RequestDump(info, nullptr)) ExitProcess(kDumpDone);
  if (!crash_reporter::SetNamedEvent(give_up->name + L"Stopped") || !crash_reporter::WaitNamedEvent(give_up->name + L"Proceed"))
    ExitProcess(kBadArguments);
  if (!give_up->go_on) TerminateProcess(GetCurrentProcess(), kGaveUp);
  info->ExceptionRecord->ExceptionCode = 0;
  base::ScopedHandle reporter(OpenProcess(SYNCHRONIZE, FALSE, give_up->reporter_id));
  if (!reporter.IsValid() || !crash_reporter::SetNamedEvent(give_up->name + L"WentOn")) ExitProcess(kBadArguments);
  WaitForSingleObject(reporter.Get(), crash_reporter::kNamedEventWaitMs);
  ExitProcess(kWentOn);
}

int RunGiveUp(uint32_t reporter_id, const std::wstring& name, bool go_on) {
  crash_reporter::CustomInfoEntry entries[2] = {};
  wcscpy(entries[0].name, L"ptype");
  wcscpy(entries[0].value, L"installer");
  wcscpy(entries[1].name, L"pid");
  wcscpy(entries[1].value, base::UintToString16(GetCurrentProcessId()).c_str());
  crash_reporter::CrashGenerationClient client(
      crash_reporter::GetCrashPipeName(reporter_id), base::ScopedHandle(), 0,
      crash_reporter::CustomClientInfo{entries, 2}, kGiveUpWaitMs);
  if (!client.Register()) return kNotConnected;
  GiveUp give_up = {&client, name, go_on, reporter_id};
  // The filter ends the process; coming back, whatever the guard says, is the fault.
  (void)base::RunWithExceptionGuard(&Raise, nullptr, &GiveUpFilter, &give_up);
  return kNotTerminated;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return kBadArguments;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const std::wstring mode = argv[1];
  const std::wstring dump_folder = argv[2];
  uint32_t reporter_id = 0;
  if (argc >= 4 && !base::StringToUint(base::StringPiece16(argv[3]), &reporter_id))
    return kBadArguments;

  if (mode == L"invalid-parameter" || mode == L"pure-call") {
    const std::wstring pipe =
        reporter_id ? crash_reporter::GetCrashPipeName(reporter_id) : std::wstring();
    crash_reporter::CrashExceptionHandler handler(
        dump_folder, nullptr, nullptr, nullptr, crash_reporter::CrashExceptionHandler::kHandlerAll,
        0, pipe, nullptr);
    if (mode == L"invalid-parameter")
      crash_reporter::CrashExceptionHandler::HandleInvalidParameter(L"buffer != nullptr",
                                                                    L"CopyName", L"names.cc",
                                                                    42, 0);
    else
      crash_reporter::CrashExceptionHandler::HandlePureVirtualCall();
    return kHandlerReturned;
  }

  if (mode == L"give-up" || mode == L"give-up-go-on") {
    if (argc < 5) return kBadArguments;
    return RunGiveUp(reporter_id, argv[4], mode == L"give-up-go-on");
  }
  if (mode == L"fall-through") SetUnhandledExceptionFilter(&RecordingFilter);
  crash_reporter::internal::ConnectCrashReporterTo(reporter_id);
  crash_reporter::SetCrashKeys();
  if (!crash_reporter::internal::GetCrashHandler()) return kNotConnected;
  if (mode == L"dump-and-terminate") {
    // The filter ends the process; coming back, whatever the guard says, is the fault.
    (void)base::RunWithExceptionGuard(&Raise, nullptr, &DumpFilter, nullptr);
    return kNotTerminated;
  }
  if (mode == L"connect-and-exit") return 0;
  if (mode == L"two-threads") {
    g_start_together = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2] = {CreateThread(nullptr, 0, &RaiseWhenReleased, nullptr, 0, nullptr),
                         CreateThread(nullptr, 0, &RaiseWhenReleased, nullptr, 0, nullptr)};
    SetEvent(g_start_together);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    return kNotTerminated;
  }
  if (mode == L"unhandled" || mode == L"fall-through") {
    Raise(nullptr);
    return kNotTerminated;
  }
  return kBadArguments;
}
