// The crash pipe protocol between a client process and the crash reporter: the one
// 80-byte message both sides exchange, the structures the reporter reads out of the
// client's memory, and the names of the kernel objects. Self-contained on purpose: the
// reporter's pipe server and the client both build against exactly this layout.
//
// Handshake (the pipe carries only this; the dump requests go over the three handles):
//   client -> server  register     (tag 1): client pid, dump type, four field addresses
//   server -> client  result       (tag 2): server pid, three handles valid in the client
//   client -> server  acknowledge  (tag 3): all else zero
#ifndef CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_
#define CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include <string>

#include "desktop/common/names/kernel_object_names.h"

namespace crash_reporter {

enum CrashPipeMessageTag : uint32_t {
  kCrashPipeRegister = 1,
  kCrashPipeRegisterResult = 2,
  kCrashPipeRegisterAck = 3,
  // Accepted by the server with a client id; never sent by the client.
  kCrashPipeUploadRequest = 4,
};

// Little-endian; a field a message does not use is zero. Addresses are in the client's
// own address space (the server reads through them with ReadProcessMemory); handles in
// a result are valid in the client process.
struct CrashPipeMessage {
  uint32_t tag;
  uint32_t id;  // client pid (register), server pid (result), 0 (acknowledge)
  uint32_t dump_type;
  uint32_t padding;
  uint64_t thread_id_address;           // -> uint32_t: the crashing thread's id
  uint64_t exception_pointers_address;  // -> uint64_t: its EXCEPTION_POINTERS*
  uint64_t assertion_info_address;      // -> AssertionInfo
  uint64_t custom_info_entries_address; // -> CustomInfoEntry[custom_info_count]
  uint64_t custom_info_count;
  uint64_t dump_request_event;
  uint64_t dump_done_event;
  uint64_t server_alive_mutex;
};

static_assert(sizeof(CrashPipeMessage) == 80, "CrashPipeMessage must be 80 bytes");
static_assert(offsetof(CrashPipeMessage, thread_id_address) == 16, "layout");
static_assert(offsetof(CrashPipeMessage, custom_info_count) == 48, "layout");
static_assert(offsetof(CrashPipeMessage, dump_request_event) == 56, "layout");
static_assert(offsetof(CrashPipeMessage, server_alive_mutex) == 72, "layout");

enum AssertionType : uint32_t {
  kAssertionNone = 0,  // an exception
  kAssertionInvalidParameter = 1,
  kAssertionPureVirtualCall = 2,
};

constexpr size_t kAssertionTextLength = 128;

// Strings NUL-terminated and cut to fit.
struct AssertionInfo {
  wchar_t expression[kAssertionTextLength];
  wchar_t function[kAssertionTextLength];
  wchar_t file[kAssertionTextLength];
  uint32_t line;
  uint32_t type;  // AssertionType
};

static_assert(sizeof(wchar_t) == 2, "UTF-16 wide characters");
static_assert(sizeof(AssertionInfo) == 776, "AssertionInfo must be 776 bytes");

constexpr size_t kCustomInfoTextLength = 64;

// One name/value pair that travels with every dump; each NUL-terminated, at most 63
// characters.
struct CustomInfoEntry {
  wchar_t name[kCustomInfoTextLength];
  wchar_t value[kCustomInfoTextLength];
};

static_assert(sizeof(CustomInfoEntry) == 256, "CustomInfoEntry must be 256 bytes");

struct CustomClientInfo {
  const CustomInfoEntry* entries;
  size_t count;
};

// Minidump user streams the client writes into its own in-process dumps.
constexpr uint32_t kCrashInfoStreamType = 0x47670001;
constexpr uint32_t kAssertionInfoStreamType = 0x47670002;
constexpr uint32_t kCrashInfoValidDumpThread = 1;
constexpr uint32_t kCrashInfoValidRequestingThread = 2;

struct CrashInfoStream {
  uint32_t validity;  // kCrashInfoValid* flags
  uint32_t dump_thread_id;
  uint32_t requesting_thread_id;
};

static_assert(sizeof(CrashInfoStream) == 12, "CrashInfoStream must be 12 bytes");

// The longest pipe or event name, NUL included.
constexpr size_t kCrashObjectNameLength = 38;

// |prefix| followed by |pid| in decimal; empty when it does not fit.
inline std::wstring FormatCrashObjectName(const wchar_t* prefix, uint32_t pid) {
  wchar_t name[kCrashObjectNameLength];
  // "%ls": with C99 stdio a plain "%s" in a wide format takes a narrow string.
  const int length = swprintf(name, kCrashObjectNameLength, L"%ls%u", prefix, pid);
  if (length < 0 || static_cast<size_t>(length) >= kCrashObjectNameLength)
    return std::wstring();
  return std::wstring(name, static_cast<size_t>(length));
}

// "\\.\pipe\VelumCrashReporter<pid>": the pipe the reporter |pid| serves.
inline std::wstring GetCrashPipeName(uint32_t reporter_pid) {
  return FormatCrashObjectName(kernel_objects::kCrashPipeNamePrefix, reporter_pid);
}

// "VelumCrashReporterInitEvent<pid>": set by the reporter once it serves client |pid|.
inline std::wstring GetCrashReporterInitEventName(uint32_t client_pid) {
  return FormatCrashObjectName(kernel_objects::kCrashReporterInitEventPrefix, client_pid);
}

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_
