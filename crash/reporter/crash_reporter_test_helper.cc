// A stand-in crash reporter for the client's tests. Started with the client's switches
// plus "--crash-reporter-parent-id=<pid>", it serves "\\.\pipe\VelumCrashReporter<own
// pid>", signals "VelumCrashReporterInitEvent<parent>", registers one client and answers
// one dump request by writing what it read out of the client into --report:
//   thread=<id>  exception_code=<hex>  assertion_type=<n>  assertion_line=<n>
//   entry:<name>=<value>  for each custom-info entry with a value
// --mode: "serve" (default); "exit" (ends before signalling); "late" (signals only once
// the event --late-event is set); "zero-id" (answers the registration with id 0);
// "abandon" (ends on the dump request without releasing its mutex); "garbage" (answers
// with id 0 and handle values that name nothing in the client); "one-zero" (a real id,
// a zero handle and two values that name nothing); "wrong-types" (live handles of the
// client, but a process for the request event and an event for the mutex); "wrong-tag"
// (answers with live handles under an acknowledgement's tag, their values first written
// to the report as request=, done=, alive=); "own-handles" (names the client's own
// handles listed in VELUM_TEST_OWN_HANDLES, "<request>,<done>,<alive>"); "own-objects"
// (new handles in the client of those same objects); "repeated" (one event for both).
#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_pipe_message.h"

namespace {

using crash_reporter::CrashPipeMessage;

// No test waits longer than this on the helper; it never outlives a stuck test by more.
constexpr DWORD kWaitLimitMs = 60000;

enum ExitCode {
  kOk = 0,
  kExitBeforeSignal = 3,
  kBadArguments = 10,
  kSignalFailed,
  kPipeFailed,
  kBadRegister,
  kClientNotOpened,
  kHandlesFailed,
  kBadAck,
  kNoRequest,
  kReportFailed,
};

[[nodiscard]] bool SignalInitEvent(uint32_t parent_id) {
  base::ScopedHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                      crash_reporter::GetCrashReporterInitEventName(parent_id)
                                          .c_str()));
  return event.IsValid() && SetEvent(event.Get());
}

template <typename T>
[[nodiscard]] bool ReadClient(HANDLE client, uint64_t address, T* value, size_t size = sizeof(T)) {
  SIZE_T read = 0;
  return address && ReadProcessMemory(client, reinterpret_cast<const void*>(address), value,
                                      size, &read) &&
         read == size;
}

std::string TerminatedUTF8(const wchar_t* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return base::WideToUTF8(base::StringPiece16(text, length));
}

[[nodiscard]] bool WriteReport(const std::wstring& path, const std::string& text) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return false;
  const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  return fclose(file) == 0 && written;
}

std::string DescribeRequest(HANDLE client, const CrashPipeMessage& registration) {
  std::string report;
  uint32_t thread_id = 0;
  if (ReadClient(client, registration.thread_id_address, &thread_id))
    report += "thread=" + base::Int64ToString(thread_id) + "\n";
  uint64_t pointers_address = 0;
  EXCEPTION_POINTERS pointers = {};
  EXCEPTION_RECORD record = {};
  if (ReadClient(client, registration.exception_pointers_address, &pointers_address) &&
      ReadClient(client, pointers_address, &pointers) &&
      ReadClient(client, reinterpret_cast<uintptr_t>(pointers.ExceptionRecord), &record)) {
    char code[16];
    snprintf(code, sizeof(code), "0x%08lx", record.ExceptionCode);
    report += std::string("exception_code=") + code + "\n";
  }
  crash_reporter::AssertionInfo assertion = {};
  if (ReadClient(client, registration.assertion_info_address, &assertion)) {
    report += "assertion_type=" + base::Int64ToString(assertion.type) + "\n";
    report += "assertion_line=" + base::Int64ToString(assertion.line) + "\n";
  }
  const size_t count = static_cast<size_t>(registration.custom_info_count);
  if (count && count <= 1024) {
    std::vector<crash_reporter::CustomInfoEntry> entries(count);
    if (ReadClient(client, registration.custom_info_entries_address, entries.data(),
                   count * sizeof(entries[0]))) {
      for (const auto& entry : entries) {
        if (!entry.value[0]) continue;
        report += "entry:" + TerminatedUTF8(entry.name, 64) + "=" +
                  TerminatedUTF8(entry.value, 64) + "\n";
      }
    }
  }
  return report;
}

[[nodiscard]] bool DuplicateInto(HANDLE client, HANDLE handle, uint64_t* target) {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, client, &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  *target = reinterpret_cast<uintptr_t>(duplicate);
  return true;
}

int Serve(const std::string& mode, uint32_t parent_id, const std::wstring& report_path) {
  const std::wstring pipe_name = crash_reporter::GetCrashPipeName(GetCurrentProcessId());
  base::ScopedHandle pipe(CreateNamedPipeW(
      pipe_name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
      1, sizeof(CrashPipeMessage), sizeof(CrashPipeMessage), 0, nullptr));
  if (!pipe.IsValid()) return kPipeFailed;
  if (!SignalInitEvent(parent_id)) return kSignalFailed;
  if (!ConnectNamedPipe(pipe.Get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
    return kPipeFailed;

  CrashPipeMessage registration = {};
  DWORD read = 0;
  if (!ReadFile(pipe.Get(), &registration, sizeof(registration), &read, nullptr) ||
      read != sizeof(registration) || registration.tag != crash_reporter::kCrashPipeRegister) {
    return kBadRegister;
  }
  base::ScopedHandle client(OpenProcess(
      PROCESS_DUP_HANDLE | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE,
      registration.id));
  if (!client.IsValid()) return kClientNotOpened;

  base::ScopedHandle request_event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  base::ScopedHandle done_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  // Held for the helper's life: its death abandons it.
  base::ScopedHandle alive_mutex(CreateMutexW(nullptr, TRUE, nullptr));
  CrashPipeMessage reply = {};
  reply.tag = crash_reporter::kCrashPipeRegisterResult;
  reply.id = mode == "zero-id" ? 0 : GetCurrentProcessId();
  if (!request_event.IsValid() || !done_event.IsValid() || !alive_mutex.IsValid() ||
      !DuplicateInto(client.Get(), request_event.Get(), &reply.dump_request_event) ||
      !DuplicateInto(client.Get(), done_event.Get(), &reply.dump_done_event) ||
      !DuplicateInto(client.Get(), alive_mutex.Get(), &reply.server_alive_mutex)) {
    return kHandlesFailed;
  }
  if (mode == "garbage" || mode == "one-zero") {
    // Handles the client never received: what it duplicated stays unused here.
    reply.id = mode == "garbage" ? 0 : GetCurrentProcessId();
    reply.dump_request_event = mode == "garbage" ? 0x7FFFFF00 : 0;
    reply.dump_done_event = 0x7FFFFF04;
    reply.server_alive_mutex = 0x7FFFFF08;
  }
  if (mode == "wrong-types" &&
      (!DuplicateInto(client.Get(), client.Get(), &reply.dump_request_event) ||
       !DuplicateInto(client.Get(), done_event.Get(), &reply.server_alive_mutex))) {
    return kHandlesFailed;
  }
  // The client's own handles, as a reporter that lists them would name them: as they are,
  // or as new handles of the same objects; or one handle of ours named twice.
  if (mode == "own-handles" || mode == "own-objects") {
    char text[128] = {};
    if (!GetEnvironmentVariableA("VELUM_TEST_OWN_HANDLES", text, sizeof(text)))
      return kBadArguments;
    uint64_t* targets[] = {&reply.dump_request_event, &reply.dump_done_event,
                           &reply.server_alive_mutex};
    const char* next = text;
    for (uint64_t* target : targets) {
      char* end = nullptr;
      *target = _strtoui64(next, &end, 10);
      next = *end ? end + 1 : end;
      HANDLE duplicate = nullptr;
      if (mode == "own-objects" &&
          !DuplicateHandle(client.Get(), reinterpret_cast<HANDLE>(*target), client.Get(),
                           &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return kHandlesFailed;
      }
      if (mode == "own-objects") *target = reinterpret_cast<uintptr_t>(duplicate);
    }
  }
  if (mode == "repeated") reply.dump_done_event = reply.dump_request_event;
  if (mode == "wrong-tag") {
    reply.tag = crash_reporter::kCrashPipeRegisterAck;
    if (!WriteReport(report_path,
                     "request=" + std::to_string(reply.dump_request_event) + "\ndone=" +
                         std::to_string(reply.dump_done_event) + "\nalive=" +
                         std::to_string(reply.server_alive_mutex) + "\n")) {
      return kReportFailed;
    }
  }
  DWORD written = 0;
  if (!WriteFile(pipe.Get(), &reply, sizeof(reply), &written, nullptr)) return kPipeFailed;
  if (mode == "zero-id" || mode == "garbage" || mode == "one-zero" || mode == "wrong-tag")
    return kOk;

  CrashPipeMessage ack = {};
  if (!ReadFile(pipe.Get(), &ack, sizeof(ack), &read, nullptr) || read != sizeof(ack) ||
      ack.tag != crash_reporter::kCrashPipeRegisterAck || ack.id != 0) {
    return kBadAck;
  }
  if (mode == "wrong-types" || mode == "own-handles" || mode == "own-objects" ||
      mode == "repeated") {
    return kOk;
  }
  const HANDLE waits[] = {request_event.Get(), client.Get()};
  if (WaitForMultipleObjects(2, waits, FALSE, kWaitLimitMs) != WAIT_OBJECT_0) return kNoRequest;
  if (mode == "abandon") ExitProcess(kOk);
  if (!WriteReport(report_path, DescribeRequest(client.Get(), registration)))
    return kReportFailed;
  SetEvent(done_event.Get());
  // Until the client has taken the answer and ended (or the test ends the helper).
  WaitForSingleObject(client.Get(), kWaitLimitMs);
  return kOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const base::CommandLine command_line(argc, argv);
  uint32_t parent_id = 0;
  if (!base::StringToUint(command_line.GetSwitchValueNative("crash-reporter-parent-id"),
                          &parent_id)) {
    return kBadArguments;
  }
  const std::string mode = command_line.GetSwitchValueASCII("mode");
  if (mode == "exit") return kExitBeforeSignal;
  if (mode == "late") {
    base::ScopedHandle late(
        OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("late-event").c_str()));
    if (!late.IsValid() || WaitForSingleObject(late.Get(), kWaitLimitMs) != WAIT_OBJECT_0)
      return kBadArguments;
    return SignalInitEvent(parent_id) ? kOk : kSignalFailed;
  }
  return Serve(mode, parent_id, command_line.GetSwitchValueNative("report"));
}
