#include "crash/reporter/crash_generation_client.h"

#include <string.h>

#include <utility>
#include <vector>

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

// A handle of this process and, where the system gives it, the address of its object.
struct HandleEntry {
  uintptr_t value;
  uint64_t object;
};

using QueryProcessInformation = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using CompareHandles = BOOL(WINAPI*)(HANDLE, HANDLE);
using CompareObjects = LONG(WINAPI*)(HANDLE, HANDLE);
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr ULONG kProcessHandleTable = 58;                // Windows 8.1 and later
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kListingLimit = 256u << 20;

template <typename Function>
Function NtFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// Calls `query(buffer, size, &needed)` with a buffer grown until the answer fits.
template <typename Query>
bool QueryGrowing(Query query, std::vector<uint8_t>* buffer) {
  ULONG size = 64 * 1024;
  for (;;) {
    buffer->assign(size, 0);
    ULONG needed = 0;
    const LONG status = query(buffer->data(), size, &needed);
    if (status >= 0) return true;
    if ((status != kInfoLengthMismatch && status != kBufferTooSmall) || size >= kListingLimit)
      return false;
    size = needed > size ? needed + 4096 : size * 2;
  }
}

// This process's handles from the system's list of every process's handles, with their
// objects' addresses (zero where the system keeps them from the caller).
bool ListFromSystem(std::vector<HandleEntry>* handles) {
  struct SystemHandleEntry {
    void* object;
    ULONG_PTR process_id;
    ULONG_PTR value;
    ULONG access;
    USHORT creator_back_trace_index;
    USHORT object_type_index;
    ULONG attributes;
    ULONG reserved;
  };
  const auto query = NtFunction<QuerySystemInformation>("NtQuerySystemInformation");
  std::vector<uint8_t> buffer;
  if (!query || !QueryGrowing(
                    [query](void* data, ULONG size, ULONG* needed) {
                      return query(kSystemExtendedHandleInformation, data, size, needed);
                    },
                    &buffer)) {
    return false;
  }
  const ULONG_PTR count = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
  const size_t header = 2 * sizeof(ULONG_PTR);
  if (count > (buffer.size() - header) / sizeof(SystemHandleEntry)) return false;
  const auto* entries = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + header);
  handles->clear();
  for (ULONG_PTR i = 0; i < count; ++i) {
    if (entries[i].process_id != GetCurrentProcessId()) continue;
    handles->push_back({entries[i].value, reinterpret_cast<uintptr_t>(entries[i].object)});
  }
  return true;
}

// This process's handles: the process's own list where there is one, else the system's.
bool ListOwnHandles(std::vector<HandleEntry>* handles) {
  const auto query = NtFunction<QueryProcessInformation>("NtQueryInformationProcess");
  std::vector<uint8_t> buffer;
  if (query && QueryGrowing(
                   [query](void* data, ULONG size, ULONG* needed) {
                     return query(GetCurrentProcess(), kProcessHandleTable, data, size, needed);
                   },
                   &buffer)) {
    handles->clear();
    const auto* values = reinterpret_cast<const ULONG*>(buffer.data());
    for (size_t i = 0; i < buffer.size() / sizeof(ULONG) && values[i]; ++i)
      handles->push_back({values[i], 0});
    return true;
  }
  return ListFromSystem(handles);
}

// Which of this process's handles name the same object; from Windows 10 the system
// compares, before it the object addresses of the system's handle list do.
class ObjectComparer {
 public:
  ObjectComparer()
      : compare_handles_(reinterpret_cast<CompareHandles>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")))),
        compare_objects_(NtFunction<CompareObjects>("NtCompareObjects")) {}

  bool compares_handles() const { return compare_handles_ || compare_objects_; }

  // Whether the objects of `a` and `b` are one; by their listed addresses when the system
  // cannot compare handles (`decided` false when there is none).
  bool Same(const HandleEntry& a, const HandleEntry& b, bool* decided) const {
    *decided = true;
    if (a.value == b.value) return true;
    const HANDLE first = reinterpret_cast<HANDLE>(a.value);
    const HANDLE second = reinterpret_cast<HANDLE>(b.value);
    if (compare_handles_) return compare_handles_(first, second) != FALSE;
    if (compare_objects_) return compare_objects_(first, second) == 0;
    *decided = a.object != 0 && b.object != 0;
    return a.object == b.object;
  }

 private:
  CompareHandles compare_handles_;
  CompareObjects compare_objects_;
};

// Whether the handles a reply hands over are new to this process: none is a handle it
// held before it asked (`before`), none names the object of one, and no two are one. A
// reporter that names the process's own handles would otherwise have them closed.
bool AreNewHandles(const std::vector<HandleEntry>& before, const uint64_t (&values)[3],
                   const ObjectComparer& comparer) {
  std::vector<HandleEntry> after;
  if (!comparer.compares_handles() && !ListFromSystem(&after)) return false;
  HandleEntry handed[3] = {};
  for (size_t i = 0; i < 3; ++i) {
    handed[i] = {static_cast<uintptr_t>(values[i]), 0};
    for (const HandleEntry& entry : after) {
      if (entry.value == handed[i].value) handed[i].object = entry.object;
    }
  }
  bool decided = true;
  for (size_t i = 0; i < 3; ++i) {
    for (size_t j = i + 1; j < 3; ++j) {
      if (comparer.Same(handed[i], handed[j], &decided) || !decided) return false;
    }
    for (const HandleEntry& old : before) {
      if (comparer.Same(handed[i], old, &decided) || !decided) return false;
    }
  }
  return true;
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
  // What this process holds before it asks: no handle of the reply may be one of them,
  // unless the reporter is this process itself, whose objects they then are.
  const ObjectComparer comparer;
  std::vector<HandleEntry> before;
  if (reporter_id != GetCurrentProcessId() &&
      !(comparer.compares_handles() ? ListOwnHandles(&before) : ListFromSystem(&before))) {
    return false;
  }
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
  const uint64_t handed[3] = {reply.dump_request_event, reply.dump_done_event,
                              reply.server_alive_mutex};
  if (!AreNewHandles(before, handed, comparer)) return false;
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
