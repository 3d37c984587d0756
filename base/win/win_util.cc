#include "base/win/win_util.h"

#include <psapi.h>
#include <string.h>
#include <tlhelp32.h>
#include <wchar.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/debug/alias.h"
#include "base/immediate_crash.h"
#include "base/win/pe_image.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

// {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}: the application user model property set.
const GUID kAppUserModelProperties = {
    0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};

}  // namespace

const PROPERTYKEY kAppUserModelId = {kAppUserModelProperties, 5};
const PROPERTYKEY kAppUserModelIsDualMode = {kAppUserModelProperties, 11};

namespace {

// Sets one property and commits only after a plain S_OK.
[[nodiscard]] bool SetPropertyAndCommit(IPropertyStore* property_store, const PROPERTYKEY& key,
                                        const ScopedPropVariant& value) {
  HRESULT result = property_store->SetValue(key, value.Get());
  if (result == S_OK) result = property_store->Commit();
  return SUCCEEDED(result);
}

// The figures of a failed bitmap allocation, in the order they are gathered.
struct BitmapFailureFigures {
  DWORD last_error;
  bool win32k_available;
  LONG width;
  LONG height;
  HANDLE section;
  DWORD gdi_objects;
  DWORD user_objects;
  DWORD gdi_count_error;
  SIZE_T pagefile_usage;
  SIZE_T private_usage;
  DWORD test_bitmap_error;
  int processes;
  DWORD total_gdi;
  DWORD total_user;
  DWORD largest_gdi;
  int child_processes;
  DWORD child_gdi;
  DWORD child_user;
  DWORD child_largest_gdi;
};

// Which figure ended the diagnosis.
enum BitmapFailureEnd {
  NO_GDI_COUNT = 1,
  TOO_MANY_GDI_OBJECTS = 2,
  NO_MEMORY_COUNTERS = 3,
  TOO_MUCH_MEMORY = 4,
  SMALL_BITMAP_FAILED = 5,
  OTHER_PROCESSES_COUNTED = 6,
};

// Never inlined, so that each end keeps its own frame with the figures.
[[noreturn]] __attribute__((noinline)) void EndBitmapDiagnosis(
    const BitmapFailureFigures& figures, BitmapFailureEnd end) {
  const BitmapFailureFigures kept = figures;
  debug::AliasForCrashDump(&kept);
  debug::AliasForCrashDump(&end);
  ImmediateCrash();
}

const SIZE_T kMemoryLimit = 1572864000;  // 1500 MiB

}  // namespace

HMODULE GetCurrentModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const wchar_t*>(&GetCurrentModuleHandle), &module);
  return module;
}

bool ImageHasInstrumentationSections(HMODULE module) {
  MODULEINFO information = {};
  if (!module ||
      !GetModuleInformation(GetCurrentProcess(), module, &information, sizeof(information))) {
    return false;
  }
  std::vector<std::string> names;
  if (!ReadPeSectionNames(static_cast<const uint8_t*>(information.lpBaseOfDll),
                          information.SizeOfImage, &names)) {
    return false;
  }
  bool thunks = false, syzygy = false;
  for (const std::string& name : names) {
    thunks |= name == ".thunks";
    syzygy |= name == ".syzygy";
  }
  return thunks && syzygy;
}

bool IsInstrumentedImage() {
  // Racing first callers compute the same value.
  static std::atomic<int> cached{-1};
  int value = cached.load(std::memory_order_relaxed);
  if (value < 0) {
    value = ImageHasInstrumentationSections(GetCurrentModuleHandle()) ? 1 : 0;
    cached.store(value, std::memory_order_relaxed);
  }
  return value == 1;
}

bool IsWin32kAvailable(OsVersion version, GetProcessMitigationPolicyFunction query) {
  if (version < OS_VERSION_WIN8 || !query) return true;
  // Zeroed: some systems report success without writing the policy.
  DWORD policy = 0;
  const int kSystemCallDisablePolicy = 4;
  if (!query(GetCurrentProcess(), kSystemCallDisablePolicy, &policy, sizeof(policy)))
    return true;
  return (policy & 1) == 0;  // bit 0: win32k system calls disallowed
}

bool IsWin32kAvailableForProcess() {
  static const bool available = [] {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto query = reinterpret_cast<GetProcessMitigationPolicyFunction>(
        kernel32 ? reinterpret_cast<void*>(GetProcAddress(kernel32, "GetProcessMitigationPolicy"))
                 : nullptr);
    return IsWin32kAvailable(GetWindowsVersion(), query);
  }();
  return available;
}

bool SetAppIdForPropertyStore(IPropertyStore* property_store, const wchar_t* app_id) {
  if (!app_id) return false;  // E_INVALIDARG
  const size_t bytes = (wcslen(app_id) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (!copy) return false;  // E_OUTOFMEMORY
  memcpy(copy, app_id, bytes);
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  value.pwszVal = copy;
  return SetPropertyAndCommit(property_store, kAppUserModelId, ScopedPropVariant(value));
}

bool SetDualModeForPropertyStore(IPropertyStore* property_store, bool dual_mode) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = dual_mode ? VARIANT_TRUE : VARIANT_FALSE;
  return SetPropertyAndCommit(property_store, kAppUserModelIsDualMode, ScopedPropVariant(value));
}

void CrashOnBitmapAllocationFailure(BITMAPINFOHEADER* header, HANDLE section) {
  BitmapFailureFigures figures = {};
  figures.last_error = GetLastError();
  figures.win32k_available = IsWin32kAvailableForProcess();
  figures.width = header ? header->biWidth : 0;
  figures.height = header ? header->biHeight : 0;
  figures.section = section;

  figures.gdi_objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  figures.user_objects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  if (figures.gdi_objects == 0) {
    figures.gdi_count_error = GetLastError();
    EndBitmapDiagnosis(figures, NO_GDI_COUNT);
  }
  if (figures.gdi_objects > 9990) EndBitmapDiagnosis(figures, TOO_MANY_GDI_OBJECTS);

  PROCESS_MEMORY_COUNTERS_EX memory = {};  // some systems leave PrivateUsage unwritten
  memory.cb = sizeof(memory);
  if (!GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), memory.cb)) {
    EndBitmapDiagnosis(figures, NO_MEMORY_COUNTERS);
  }
  figures.pagefile_usage = memory.PagefileUsage;
  figures.private_usage = memory.PrivateUsage;
  if (memory.PagefileUsage > kMemoryLimit || memory.PrivateUsage > kMemoryLimit)
    EndBitmapDiagnosis(figures, TOO_MUCH_MEMORY);

  // Can a tiny bitmap be made at all?
  const int64_t height = figures.height < 0 ? -int64_t{figures.height} : figures.height;
  if (height * figures.width > 100) {
    header->biWidth = 5;
    header->biHeight = -5;
    void* bits = nullptr;
    ScopedBitmap bitmap(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(header),
                                         DIB_RGB_COLORS, &bits, section, 0));
    if (!bitmap.IsValid()) {
      figures.test_bitmap_error = GetLastError();
      EndBitmapDiagnosis(figures, SMALL_BITMAP_FAILED);
    }
  }

  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  const DWORD own_id = GetCurrentProcessId();
  for (BOOL more = snapshot.IsValid() && Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process.IsValid()) continue;
    const DWORD gdi = GetGuiResources(process.Get(), GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(process.Get(), GR_USEROBJECTS);
    ++figures.processes;
    figures.total_gdi += gdi;
    figures.total_user += user;
    if (gdi > figures.largest_gdi) figures.largest_gdi = gdi;
    if (entry.th32ParentProcessID == own_id) {
      ++figures.child_processes;
      figures.child_gdi += gdi;
      figures.child_user += user;
      if (gdi > figures.child_largest_gdi) figures.child_largest_gdi = gdi;
    }
  }
  EndBitmapDiagnosis(figures, OTHER_PROCESSES_COUNTED);
}

}  // namespace base
