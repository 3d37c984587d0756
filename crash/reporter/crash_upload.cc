#include "crash/reporter/crash_upload.h"

#include <psapi.h>

#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "base/environment.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_client_values.h"
#include "crash/reporter/pending_work_counter.h"
#include "crash/util/http_multipart_builder.h"
#include "crash/util/http_transport.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {

namespace {

constexpr char kServerUrlVariable[] = "VELUM_ALTERNATIVE_CRASH_SERVER_URL";
constexpr char kDumpFieldName[] = "upload_file_minidump";
// FILETIME ticks (100 ns) from 1601 to the Unix epoch, in microseconds.
constexpr int64_t kUnixEpochMicroseconds = 11644473600000000LL;
constexpr ULONG kProcessVmCounters = 3;
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

std::wstring* g_server_url = nullptr;

// NtQueryInformationProcess's virtual-memory counters, 88 bytes on x64.
struct VmCounters {
  SIZE_T peak_virtual_size;
  SIZE_T virtual_size;
  ULONG page_fault_count;
  SIZE_T peak_working_set_size;
  SIZE_T working_set_size;
  SIZE_T quota_peak_paged_pool_usage;
  SIZE_T quota_paged_pool_usage;
  SIZE_T quota_peak_non_paged_pool_usage;
  SIZE_T quota_non_paged_pool_usage;
  SIZE_T pagefile_usage;
  SIZE_T peak_pagefile_usage;
};
static_assert(sizeof(VmCounters) == 88, "VM_COUNTERS is 88 bytes");

typedef LONG(WINAPI* NtQueryInformationProcessFunction)(HANDLE, ULONG, void*, ULONG, ULONG*);

void Add(UploadKeys* keys, const wchar_t* name, const std::wstring& value) {
  keys->emplace(name, value);
}

void AddNumber(UploadKeys* keys, const wchar_t* name, uint64_t value) {
  Add(keys, name, base::Uint64ToString16(value));
}

int64_t SaturatedAdd(int64_t a, int64_t b) {
  if (b > 0 && a > kInt64Max - b) return kInt64Max;
  if (b < 0 && a < kInt64Min - b) return kInt64Min;
  return a + b;
}

// The image path of |process|; empty when it cannot be read.
std::wstring GetProcessImagePath(HANDLE process) {
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process, 0, path, &size)) return std::wstring();
  return std::wstring(path, size);
}

void AddInstallTime(HANDLE process, UploadKeys* keys) {
  const std::wstring image = GetProcessImagePath(process);
  if (image.empty()) return;
  base::ScopedHandle file(CreateFileW(image.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
  FILETIME created = {};
  if (!file.IsValid() || !GetFileTime(file.Get(), &created, nullptr, nullptr)) return;
  Add(keys, L"InstallTime",
      base::Int64ToString16(internal::FileTimeToUnixMicroseconds(created) / 1000 / 1000));
}

void AddMemoryCrashKeys(HANDLE process, UploadKeys* keys) {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  if (GlobalMemoryStatusEx(&status)) {
    AddNumber(keys, L"mem_load", status.dwMemoryLoad);
    AddNumber(keys, L"mem_page_file_avail", status.ullAvailPageFile);
    AddNumber(keys, L"mem_page_file_total", status.ullTotalPageFile);
    AddNumber(keys, L"mem_physical_avail", status.ullAvailPhys);
    AddNumber(keys, L"mem_physical_total", status.ullTotalPhys);
  }
  if (!process) return;
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    auto query = reinterpret_cast<NtQueryInformationProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
    VmCounters counters = {};
    if (query && query(process, kProcessVmCounters, &counters, sizeof(counters), nullptr) >= 0)
      AddNumber(keys, L"mem_virtual_size", counters.virtual_size);
  }
  // Zeroed first: some systems leave PrivateUsage unwritten.
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof(memory))) {
    AddNumber(keys, L"process_page_file_peak_usage", memory.PeakPagefileUsage);
    AddNumber(keys, L"process_page_file_usage", memory.PagefileUsage);
    AddNumber(keys, L"process_private_usage", memory.PrivateUsage);
    AddNumber(keys, L"process_working_set_peak_size", memory.PeakWorkingSetSize);
    AddNumber(keys, L"process_working_set_size", memory.WorkingSetSize);
  }
}

void AddBuildCrashKeys(HANDLE process, UploadKeys* keys) {
  Add(keys, L"prod", base::UTF8ToWide(installer::GetCrashUploadServerProductName()));
  Add(keys, L"ver", base::UTF8ToWide(installer::GetBuildVersion()));
  Add(keys, L"UBN", base::IntToString16(installer::GetBuildUbn()));
  Add(keys, L"BuildID", base::UTF8ToWide(GetBuildIdKey()));
  Add(keys, L"ReleaseChannel", base::UTF8ToWide(GetReleaseChannelKey()));
  if (keys->count(L"symbols-package")) return;
  const std::wstring image = GetProcessImagePath(process);
  if (!image.empty())
    Add(keys, L"symbols-package", base::UTF8ToWide(GetSymbolsPackageName(base::FilePath(image))));
}

// Time, memory and build keys of |process| (may be null).
void AddProcessKeys(HANDLE process, bool has_uptime, int64_t uptime_us, UploadKeys* keys) {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  const bool has_start =
      process && GetProcessTimes(process, &created, &exited, &kernel, &user);
  internal::AddTimeCrashKeys(has_start ? &created : nullptr, has_uptime, uptime_us, now, keys);
  AddInstallTime(process, keys);
  AddMemoryCrashKeys(process, keys);
  AddBuildCrashKeys(process, keys);
}

void DeleteDump(const std::wstring& path) {
  if (!DeleteFileW(path.c_str()))
    PLOG(WARNING) << "Cannot delete the uploaded dump " << path;
}

DWORD WINAPI RunQueuedUpload(void* parameter) {
  std::unique_ptr<UploadTask> task(static_cast<UploadTask*>(parameter));
  if (!UploadMinidump(*task)) LOG(WARNING) << "Crash upload of " << task->dump_path << " failed";
  task.reset();
  GetPendingWorkCounter()->Release();
  return 0;
}

}  // namespace

std::wstring ReadCrashServerUrl() {
  std::unique_ptr<base::Environment> environment(base::Environment::Create());
  std::string url;
  if (environment->GetVar(kServerUrlVariable, &url) && !url.empty())
    return base::UTF8ToWide(url);
  return base::UTF8ToWide(installer::GetProductUrl("crashstats_collector"));
}

void GetCrashServerUrl() {
  if (!g_server_url) g_server_url = new std::wstring;
  *g_server_url = ReadCrashServerUrl();
}

const std::wstring& GetStoredCrashServerUrl() {
  static const std::wstring* const empty = new std::wstring;
  return g_server_url ? *g_server_url : *empty;
}

void AddClientCrashKeys(HANDLE process, const CrashKeyMap& custom_info, UploadKeys* keys) {
  bool has_uptime = false;
  int64_t uptime_us = 0;
  for (const auto& entry : custom_info) {
    if (entry.first == L"crash_guid") continue;
    if (entry.first == L"ptime") {
      int64_t milliseconds = 0;
      if (base::StringToInt64(base::StringPiece16(entry.second), &milliseconds)) {
        has_uptime = true;
        uptime_us = internal::UptimeToMicroseconds(milliseconds);
      }
      continue;
    }
    keys->emplace(entry.first, entry.second);
  }
  AddProcessKeys(process, has_uptime, uptime_us, keys);
}

void AddReporterCrashKeys(uint32_t parent_pid, UploadKeys* keys) {
  const std::string email = GetCrashEmail();
  if (!email.empty()) Add(keys, L"Email", base::UTF8ToWide(email));
  Add(keys, L"ptype", L"crash_reporter");
  base::ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, parent_pid));
  AddProcessKeys(process.Get(), false, 0, keys);
}

UploadTask::UploadTask(UploadKeys keys, const std::wstring& dump_path, bool gzip,
                       bool delete_after)
    : keys(std::move(keys)), dump_path(dump_path), gzip(gzip), delete_after(delete_after) {}

UploadTask::~UploadTask() {
  if (delete_after) DeleteDump(dump_path);
}

bool UploadMinidump(const UploadTask& task) {
  HttpMultipartBuilder builder;
  builder.SetGzipEnabled(task.gzip);
  for (const auto& key : task.keys)
    builder.SetFormData(base::WideToUTF8(key.first), base::WideToUTF8(key.second));
  builder.SetFileAttachment(
      kDumpFieldName, base::WideToUTF8(base::FilePath(task.dump_path).BaseName().value()),
      task.dump_path, "application/octet-stream");
  // Sent sized: a chunked request goes out with "Content-Length: 0" under Wine, and a
  // server reading by length then gets an empty report. The body (its gzip deterministic)
  // is produced once to measure it and once more to send it.
  std::unique_ptr<HttpBodyStream> measured = builder.GetBodyStream();
  uint64_t length = 0;
  if (!measured || !MeasureBodyStream(measured.get(), &length)) return false;
  measured.reset();
  std::unique_ptr<HttpBodyStream> body = builder.GetBodyStream();
  if (!body) return false;

  std::unique_ptr<HttpTransport> transport = HttpTransport::Create();
  transport->SetMethod("POST");
  transport->SetBodyStream(std::move(body));
  transport->SetUrl(base::WideToUTF8(GetStoredCrashServerUrl()));
  HttpMultipartBuilder::Headers headers;
  builder.SetMultipartContentHeaders(&headers);
  for (const auto& header : headers) transport->SetHeader(header.first, header.second);
  transport->SetHeader("Content-Length", std::to_string(length));
  return transport->Execute(nullptr);
}

bool QueueUpload(UploadKeys keys, const std::wstring& dump_path, bool delete_after) {
  std::unique_ptr<UploadTask> task(new UploadTask(std::move(keys), dump_path, true, delete_after));
  GetPendingWorkCounter()->AddRef();
  if (!QueueUserWorkItem(&RunQueuedUpload, task.get(), WT_EXECUTELONGFUNCTION)) {
    PLOG(ERROR) << "Cannot queue the crash upload";
    task.reset();
    GetPendingWorkCounter()->Release();
    return false;
  }
  task.release();
  return true;
}

bool UploadNow(UploadKeys keys, const std::wstring& dump_path, bool gzip, bool delete_after) {
  UploadTask task(std::move(keys), dump_path, gzip, delete_after);
  return UploadMinidump(task);
}

namespace internal {

int64_t UptimeToMicroseconds(int64_t milliseconds) {
  if (milliseconds >= kInt64Max / 1000 + 1) return kInt64Max;
  if (milliseconds <= kInt64Min / 1000) return kInt64Min;
  return milliseconds * 1000;
}

int64_t FileTimeToUnixMicroseconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10) - kUnixEpochMicroseconds;
}

void AddTimeCrashKeys(const FILETIME* start, bool has_uptime, int64_t uptime_us,
                 const FILETIME& now, UploadKeys* keys) {
  const int64_t now_us = FileTimeToUnixMicroseconds(now);
  int64_t start_us = now_us;
  int64_t crash_us = now_us;
  if (start) {
    start_us = FileTimeToUnixMicroseconds(*start);
    crash_us = has_uptime ? SaturatedAdd(start_us, uptime_us) : now_us;
  } else if (has_uptime) {
    start_us = uptime_us == kInt64Min ? kInt64Max : SaturatedAdd(crash_us, -uptime_us);
  }
  // Whole seconds, truncated toward zero.
  Add(keys, L"StartupTime", base::Int64ToString16(start_us / 1000 / 1000));
  Add(keys, L"CrashTime", base::Int64ToString16(crash_us / 1000 / 1000));
}

}  // namespace internal

}  // namespace crash_reporter
