#include "crash/reporter/crash_generation_client.h"

#include <string.h>

#include <utility>

#include "base/strings/string_number_conversions.h"
#include "desktop/common/names/kernel_object_names.h"

namespace crash_reporter {

namespace {

constexpr DWORD kPipeBusyWaitMs = 2000;
constexpr int kConnectAttempts = 2;

uint64_t AddressOf(const volatile void* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

// The reporter a client joins is the process its pipe is named after; 0 for a name of
// another form.
uint32_t ReporterIdFromPipeName(const std::wstring& pipe_name) {
  const std::wstring prefix = kernel_objects::kCrashPipeNamePrefix;
  unsigned id = 0;
  if (pipe_name.compare(0, prefix.size(), prefix) != 0 ||
      !base::StringToUint(pipe_name.substr(prefix.size()), &id) ||
      GetCrashPipeName(id) != pipe_name) {
    return 0;
  }
  return id;
}

// The kernel object type of `handle` ("Event", "Mutant", "Process"); empty when the
// system does not say.
std::wstring ObjectTypeName(HANDLE handle) {
  struct CountedString {
    USHORT length;
    USHORT maximum_length;
    PWSTR buffer;
  };
  using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const int kObjectTypeInformation = 2;
  static const QueryObject query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  alignas(8) unsigned char buffer[1024];
  ULONG length = 0;
  if (!query || query(handle, kObjectTypeInformation, buffer, sizeof(buffer), &length) < 0)
    return std::wstring();
  const CountedString* name = reinterpret_cast<const CountedString*>(buffer);
  return std::wstring(name->buffer, name->length / sizeof(wchar_t));
}

// Whether the pipe's server is the process `reporter_id`.
bool IsServedBy(HANDLE pipe, uint32_t reporter_id) {
  ULONG server = 0;
  return reporter_id != 0 && GetNamedPipeServerProcessId(pipe, &server) && server == reporter_id;
}

}  // namespace

CrashGenerationClient::CrashGenerationClient(const std::wstring& pipe_name,
                                             base::ScopedHandle pipe, uint32_t dump_type,
                                             const CustomClientInfo& custom_info,
                                             DWORD dump_wait_ms)
    : pipe_name_(pipe_name),
      pipe_(std::move(pipe)),
      custom_info_(custom_info),
      dump_type_(dump_type),
      dump_wait_ms_(dump_wait_ms) {
  memset(&assertion_info_, 0, sizeof(assertion_info_));
}

CrashGenerationClient::~CrashGenerationClient() = default;

bool CrashGenerationClient::IsRegistered() const {
  return dump_request_event_.IsValid() && dump_done_event_.IsValid() &&
         server_alive_mutex_.IsValid();
}

base::ScopedHandle CrashGenerationClient::Connect() {
  if (pipe_.IsValid()) return std::move(pipe_);
  base::ScopedHandle pipe;
  for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
    pipe.Set(CreateFileW(pipe_name_.c_str(), FILE_READ_DATA | FILE_WRITE_DATA |
                                                 FILE_WRITE_ATTRIBUTES,
                         0, nullptr, OPEN_EXISTING,
                         SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (pipe.IsValid() || GetLastError() != ERROR_PIPE_BUSY || attempt == kConnectAttempts)
      break;
    // A wait that fails or times out still gets the second attempt: the pipe may have
    // freed up just as the wait gave up.
    WaitNamedPipeW(pipe_name_.c_str(), kPipeBusyWaitMs);
  }
  if (!pipe.IsValid()) return pipe;
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) pipe.Close();
  return pipe;
}

CrashPipeMessage CrashGenerationClient::MakeRegisterMessage() const {
  CrashPipeMessage message = {};
  message.tag = kCrashPipeRegister;
  message.id = GetCurrentProcessId();
  message.dump_type = dump_type_;
  message.thread_id_address = AddressOf(&crashing_thread_id_);
  message.exception_pointers_address = AddressOf(&exception_pointers_);
  message.assertion_info_address = AddressOf(&assertion_info_);
  message.custom_info_entries_address = AddressOf(custom_info_.entries);
  message.custom_info_count = custom_info_.count;
  return message;
}

bool CrashGenerationClient::Register() {
  if (IsRegistered()) return true;
  base::ScopedHandle pipe = Connect();
  if (!pipe.IsValid()) return false;

  CrashPipeMessage request = MakeRegisterMessage();
  CrashPipeMessage reply = {};
  DWORD read = 0;
  // Only the reporter this process was told to join may hand it handles.
  const uint32_t reporter_id = ReporterIdFromPipeName(pipe_name_);
  if (!IsServedBy(pipe.Get(), reporter_id)) return false;
  if (!TransactNamedPipe(pipe.Get(), &request, sizeof(request), &reply, sizeof(reply), &read,
                         nullptr) ||
      read != sizeof(reply)) {
    return false;
  }
  // Only a result carries handles duplicated into this process; anything else is not
  // ours to close.
  if (reply.tag != kCrashPipeRegisterResult) return false;
  // The values are the server's word: owning (and so closing) one that is not a live
  // handle of this process would stop the process, or close one of its own handles.
  // A live handle of another type (a file, a process) is one of this process's own.
  const struct {
    uint64_t value;
    const wchar_t* type;
  } handles[] = {{reply.dump_request_event, L"Event"},
                 {reply.dump_done_event, L"Event"},
                 {reply.server_alive_mutex, L"Mutant"}};
  for (const auto& handle : handles) {
    DWORD flags = 0;
    if (handle.value == 0 || !GetHandleInformation(reinterpret_cast<HANDLE>(handle.value), &flags) ||
        ObjectTypeName(reinterpret_cast<HANDLE>(handle.value)) != handle.type)
      return false;
  }
  if (reply.id != reporter_id) return false;
  base::ScopedHandle request_event(reinterpret_cast<HANDLE>(reply.dump_request_event));
  base::ScopedHandle done_event(reinterpret_cast<HANDLE>(reply.dump_done_event));
  base::ScopedHandle alive_mutex(reinterpret_cast<HANDLE>(reply.server_alive_mutex));
  CrashPipeMessage ack = {};
  ack.tag = kCrashPipeRegisterAck;
  DWORD written = 0;
  if (!WriteFile(pipe.Get(), &ack, sizeof(ack), &written, nullptr) ||
      written != sizeof(ack)) {
    return false;
  }
  dump_request_event_ = std::move(request_event);
  dump_done_event_ = std::move(done_event);
  server_alive_mutex_ = std::move(alive_mutex);
  server_process_id_ = reply.id;
  return true;
}

bool CrashGenerationClient::RequestDump(EXCEPTION_POINTERS* exception_pointers,
                                        const AssertionInfo* assertion) {
  if (!IsRegistered()) return false;
  exception_pointers_ = AddressOf(exception_pointers);
  crashing_thread_id_ = GetCurrentThreadId();
  if (assertion)
    memcpy(&assertion_info_, assertion, sizeof(assertion_info_));
  else
    memset(&assertion_info_, 0, sizeof(assertion_info_));

  if (!ResetEvent(dump_done_event_.Get()) || !SetEvent(dump_request_event_.Get()))
    return false;
  const HANDLE waits[] = {dump_done_event_.Get(), server_alive_mutex_.Get()};
  const DWORD result = WaitForMultipleObjects(2, waits, FALSE, dump_wait_ms_);
  return result == WAIT_OBJECT_0;
}

}  // namespace crash_reporter
