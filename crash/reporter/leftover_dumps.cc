#include "crash/reporter/leftover_dumps.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_reporter_process.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace crash_reporter {

namespace {

struct Leftover {
  base::FilePath path;
  uint64_t written;
};

uint64_t FileTimeTicks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A reporter still running may be writing or uploading its dumps; this one's own are
// never leftovers.
bool ReporterMayRun(uint32_t pid, uint64_t dump_created, ProcessStartFunction process_start) {
  if (pid == GetCurrentProcessId()) return true;
  FILETIME start = {};
  const DWORD result = process_start(pid, &start);
  if (result == ERROR_INVALID_PARAMETER) return false;
  if (result != ERROR_SUCCESS) return true;
  // Started after the dump was made: the id was reused, its reporter is gone.
  return FileTimeTicks(start) <= dump_created;
}

std::vector<Leftover> FindLeftovers(const base::FilePath& folder,
                                    ProcessStartFunction process_start) {
  std::vector<Leftover> leftovers;
  base::FileEnumerator files(folder, false, base::FileEnumerator::FILES, L"*-crashlog-*.dmp");
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const uint32_t pid = ParseDumpReporterId(path.BaseName().value());
    const WIN32_FIND_DATAW& data = files.GetInfo().find_data;
    if (!pid || ReporterMayRun(pid, FileTimeTicks(data.ftCreationTime), process_start)) continue;
    leftovers.push_back({path, FileTimeTicks(data.ftLastWriteTime)});
  }
  std::sort(leftovers.begin(), leftovers.end(),
            [](const Leftover& a, const Leftover& b) { return a.written > b.written; });
  return leftovers;
}

}  // namespace

DWORD GetRunningProcessStart(uint32_t pid, FILETIME* start) {
  base::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.IsValid()) return GetLastError();
  FILETIME exited = {}, kernel = {}, user = {};
  if (!GetProcessTimes(process.Get(), start, &exited, &kernel, &user)) {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS || error == ERROR_INVALID_PARAMETER ? ERROR_ACCESS_DENIED
                                                                      : error;
  }
  // An ended process that someone still holds open runs no more.
  return FileTimeTicks(exited) ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

uint32_t ParseDumpReporterId(const std::wstring& name) {
  const std::wstring prefix =
      base::UTF8ToWide(base::ToLowerASCII(installer::GetProductName())) + L"-crashlog-";
  const std::wstring suffix = L".dmp";
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix)) {
    return 0;
  }
  const std::wstring numbers =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const size_t dash = numbers.find(L'-');
  uint32_t pid = 0, sequence = 0;
  if (dash == std::wstring::npos || !base::StringToUint(numbers.substr(0, dash), &pid) ||
      !base::StringToUint(numbers.substr(dash + 1), &sequence)) {
    return 0;
  }
  return pid;
}

size_t HandleLeftoverDumps(const base::FilePath& folder, LeftoverUploadFunction upload,
                           ProcessStartFunction process_start) {
  FILETIME now_time = {};
  GetSystemTimeAsFileTime(&now_time);
  const uint64_t now = FileTimeTicks(now_time);
  size_t handed_over = 0;
  for (const Leftover& leftover : FindLeftovers(folder, process_start)) {
    const bool young = leftover.written + kMaxLeftoverAge > now;
    if (handed_over < kMaxLeftoverUploads && young) {
      // Renamed first: of two reporters starting at once only one takes it, and a kill of
      // this one leaves it to the next reporter again.
      const base::FilePath taken =
          folder.Append(base::UTF8ToWide(MakeCrashLogName(NextDumpSequence())));
      if (!MoveFileExW(leftover.path.value().c_str(), taken.value().c_str(), 0)) continue;
      LOG(INFO) << "Uploading the dump " << leftover.path.value() << " left by a reporter";
      if (upload(taken.value())) ++handed_over;
      continue;
    }
    if (!DeleteFileW(leftover.path.value().c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
      PLOG(WARNING) << "Cannot remove the leftover dump " << leftover.path.value();
  }
  return handed_over;
}

}  // namespace crash_reporter
