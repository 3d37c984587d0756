#include "base/win/handle_verifier.h"

#include <wchar.h>

#include <atomic>
#include <unordered_map>

#include "base/debug/alias.h"
#include "base/debug/stack_trace.h"
#include "base/hash/hash.h"
#include "base/immediate_crash.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local_boolean.h"
#include "base/win/win_util.h"

namespace base {

namespace {

struct HandleRecord {
  const void* owner;
  const void* pc1;
  const void* pc2;
  StackTrace stack;
  DWORD thread_id;
};

struct HandleHash {
  size_t operator()(HANDLE handle) const { return HashBytes(&handle, sizeof(handle)); }
};

typedef std::unordered_map<HANDLE, HandleRecord, HandleHash> HandleMap;

// Shared by every verifier of this module and by the installation of the active one.
Lock& HandleVerifierLock() {
  static Lock lock;
  return lock;
}

class ActiveVerifier final : public HandleVerifier {
 public:
  explicit ActiveVerifier(bool enabled) : enabled_(enabled) {
    CaptureStackTrace(&creation_stack_, StackTrace::kMaxFrames);
  }

  bool CloseHandle(HANDLE handle) override {
    if (!enabled_) return CloseHandleWithDiagnostics(handle);
    closing_.Set(true);
    const bool closed = CloseHandleWithDiagnostics(handle);
    closing_.Set(false);
    // A protected process handle stays open: the caller must learn that.
    return closed;
  }

  void StartTracking(HANDLE handle, const void* owner, const void* pc1,
                     const void* pc2) override {
    if (!enabled_) return;
    HandleRecord record = {owner, pc1, pc2, {}, GetCurrentThreadId()};
    CaptureStackTrace(&record.stack, StackTrace::kMaxFrames);
    AutoLock lock(HandleVerifierLock());
    auto inserted = map_.insert(std::make_pair(handle, record));
    if (!inserted.second) {
      const HandleRecord present = inserted.first->second;
      const StackTrace creation_stack = creation_stack_;
      debug::AliasForCrashDump(&present);
      debug::AliasForCrashDump(&creation_stack);
      debug::AliasForCrashDump(&record);
      ImmediateCrash();  // tracked twice
    }
  }

  void StopTracking(HANDLE handle, const void* owner, const void* pc1,
                    const void* pc2) override {
    if (!enabled_) return;
    AutoLock lock(HandleVerifierLock());
    auto found = map_.find(handle);
    if (found == map_.end()) {
      const StackTrace creation_stack = creation_stack_;
      debug::AliasForCrashDump(&creation_stack);
      debug::AliasForCrashDump(&handle);
      ImmediateCrash();  // released without being tracked
    }
    if (found->second.owner != owner) {
      const HandleRecord present = found->second;
      const StackTrace creation_stack = creation_stack_;
      debug::AliasForCrashDump(&present);
      debug::AliasForCrashDump(&creation_stack);
      debug::AliasForCrashDump(&owner);
      debug::AliasForCrashDump(&pc1);
      debug::AliasForCrashDump(&pc2);
      ImmediateCrash();  // released by the wrong owner
    }
    map_.erase(found);
  }

  void Disable() override { enabled_ = false; }

  void OnHandleBeingClosed(HANDLE handle) override {
    if (!enabled_ || closing_.Get()) return;
    AutoLock lock(HandleVerifierLock());
    auto found = map_.find(handle);
    if (found == map_.end()) return;
    const HandleRecord present = found->second;
    const StackTrace creation_stack = creation_stack_;
    debug::AliasForCrashDump(&present);
    debug::AliasForCrashDump(&creation_stack);
    ImmediateCrash();  // closed behind its owner's back
  }

  HMODULE GetModule() const override { return GetCurrentModuleHandle(); }

 private:
  StackTrace creation_stack_;
  bool enabled_;
  ThreadLocalBoolean closing_;  // true while this thread is inside the verifier's own close
  HandleMap map_;
};

std::atomic<HandleVerifier*> g_active_verifier{nullptr};

// Leaves an already installed verifier in place. Runs under the shared lock.
void InstallHandleVerifier(HandleVerifier* verifier, bool enabled) {
  AutoLock lock(HandleVerifierLock());
  if (g_active_verifier.load(std::memory_order_acquire)) return;
  if (!verifier) verifier = new ActiveVerifier(enabled);  // never freed
  g_active_verifier.store(verifier, std::memory_order_release);
}

void InitializeActiveHandleVerifier() {
  const char kExportName[] = "GetHandleVerifier";
  auto main_export = reinterpret_cast<GetHandleVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), kExportName)));
  if (!main_export) {
    // A host without the export: keep a verifier that tracks nothing.
    InstallHandleVerifier(nullptr, false);
    return;
  }
  // The export of the module holding this code, when it has one.
  auto own_export = reinterpret_cast<GetHandleVerifierFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetCurrentModuleHandle(), kExportName)));
  if (main_export != own_export) {
    // The host's verifier; calling it outside the lock, its module installs its own.
    InstallHandleVerifier(main_export(), true);
    return;
  }
  InstallHandleVerifier(nullptr, true);
}

HandleVerifier* ActiveVerifierOrInstall() {
  HandleVerifier* verifier = g_active_verifier.load(std::memory_order_acquire);
  if (verifier) return verifier;
  InitializeActiveHandleVerifier();
  return g_active_verifier.load(std::memory_order_acquire);
}

typedef LONG(NTAPI* NtQueryObjectFunction)(HANDLE handle, int information_class,
                                           void* information, ULONG length,
                                           ULONG* return_length);

const LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
const LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);
const int kObjectTypeInformation = 2;

// The leading part of the object type record: a counted UTF-16 name.
struct ObjectTypeName {
  USHORT length;  // bytes
  USHORT maximum_length;
  wchar_t* buffer;
};

// Fills |type_name| (up to 31 characters) with the object type of |handle|; returns the
// status of the query.
LONG QueryObjectTypeName(HANDLE handle, wchar_t (&type_name)[32]) {
  type_name[0] = L'\0';
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto nt_query_object = reinterpret_cast<NtQueryObjectFunction>(
      ntdll ? reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")) : nullptr);
  if (!nt_query_object) return kStatusNotImplemented;
  ULONG size = 0;
  LONG status = nt_query_object(handle, kObjectTypeInformation, nullptr, 0, &size);
  if (status != kStatusInfoLengthMismatch) return status;
  if (size < sizeof(ObjectTypeName)) size = sizeof(ObjectTypeName);
  // Aligned for the record's pointer.
  void* buffer = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (!buffer) return status;
  status = nt_query_object(handle, kObjectTypeInformation, buffer, size, &size);
  if (status >= 0) {
    const ObjectTypeName* name = static_cast<const ObjectTypeName*>(buffer);
    size_t count = name->buffer ? name->length / sizeof(wchar_t) : 0;
    if (count > 31) count = 31;
    for (size_t i = 0; i < count; ++i) type_name[i] = name->buffer[i];
    type_name[count] = L'\0';
  }
  HeapFree(GetProcessHeap(), 0, buffer);
  return status;
}

}  // namespace

HandleVerifier* GetHandleVerifier() { return ActiveVerifierOrInstall(); }

bool CloseHandleVerified(HANDLE handle) { return ActiveVerifierOrInstall()->CloseHandle(handle); }

void StartTrackingHandle(HANDLE handle, const void* owner, const void* pc1, const void* pc2) {
  ActiveVerifierOrInstall()->StartTracking(handle, owner, pc1, pc2);
}

void StopTrackingHandle(HANDLE handle, const void* owner, const void* pc1, const void* pc2) {
  ActiveVerifierOrInstall()->StopTracking(handle, owner, pc1, pc2);
}

bool CloseHandleWithDiagnostics(HANDLE handle) {
  if (::CloseHandle(handle)) return true;

  // Evidence for the crash dump.
  const DWORD close_error = GetLastError();
  wchar_t type_name[32];
  const LONG query_status = QueryObjectTypeName(handle, type_name);
  DWORD handle_flags = 0;
  const DWORD flags_error = GetHandleInformation(handle, &handle_flags) ? 0 : GetLastError();
  debug::AliasForCrashDump(&close_error);
  debug::AliasForCrashDump(&type_name);
  debug::AliasForCrashDump(&query_status);
  debug::AliasForCrashDump(&handle_flags);
  debug::AliasForCrashDump(&flags_error);

  // The one failure that is not a bug: a process handle protected from closing.
  if (wcscmp(type_name, L"Process") == 0 && flags_error == 0 &&
      (handle_flags & HANDLE_FLAG_PROTECT_FROM_CLOSE)) {
    return false;
  }
  ImmediateCrash();
}

}  // namespace base
