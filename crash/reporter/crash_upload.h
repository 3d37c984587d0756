// Posts a minidump and its crash keys once to the crash collection server as a
// multipart/form-data request. The keys a crashed client sent win over the reporter's
// own values of the same name; "crash_guid" is never sent.
#ifndef CRASH_REPORTER_CRASH_UPLOAD_H_
#define CRASH_REPORTER_CRASH_UPLOAD_H_

#include <windows.h>
#include <stdint.h>

#include <string>

#include "crash/reporter/crash_key_map.h"

namespace crash_reporter {

// Name -> value in ordinal order; adding never replaces a value already there.
typedef CrashKeyMap::Map UploadKeys;

// "VELUM_ALTERNATIVE_CRASH_SERVER_URL" when set and not empty, else the configured
// "crashstats_collector". GetCrashServerUrl keeps it for every later upload; it is
// called once, before any upload starts.
std::wstring ReadCrashServerUrl();
void GetCrashServerUrl();
const std::wstring& GetStoredCrashServerUrl();

// The keys of a crashed client: its custom info (without "crash_guid" and "ptime", its
// age in milliseconds), then the start and crash times, the memory figures and the
// build keys. |process| may be null.
void AddClientCrashKeys(HANDLE process, const CrashKeyMap& custom_info, UploadKeys* keys);
// The keys of a crashed reporter |parent_pid|, with "ptype" "crash_reporter".
void AddReporterCrashKeys(uint32_t parent_pid, UploadKeys* keys);

// One upload; destroying it deletes the dump when |delete_after| is set.
struct UploadTask {
  UploadTask(UploadKeys keys, const std::wstring& dump_path, bool gzip, bool delete_after);
  ~UploadTask();
  UploadTask(const UploadTask&) = delete;
  UploadTask& operator=(const UploadTask&) = delete;

  UploadKeys keys;
  std::wstring dump_path;
  bool gzip;
  bool delete_after;
};

// Posts |task| to the stored server URL; true only for a 200 answer.
[[nodiscard]] bool UploadMinidump(const UploadTask& task);
// Uploads gzipped on a worker thread, holding a reference of the pending-work counter
// until done. False (the dump deleted when asked) when it cannot be queued.
[[nodiscard]] bool QueueUpload(UploadKeys keys, const std::wstring& dump_path, bool delete_after);
// Uploads on this thread; deletes the dump afterwards, whatever the outcome, when
// |delete_after|.
[[nodiscard]] bool UploadNow(UploadKeys keys, const std::wstring& dump_path, bool gzip,
                             bool delete_after);

namespace internal {

// A process age in milliseconds as microseconds, saturated at the int64 limits.
int64_t UptimeToMicroseconds(int64_t milliseconds);
// "StartupTime" and "CrashTime" (Unix seconds) from the process's creation time
// |start|, when known, its age |uptime_us| (when |has_uptime|) and the time |now|.
void AddTimeCrashKeys(const FILETIME* start, bool has_uptime, int64_t uptime_us,
                 const FILETIME& now, UploadKeys* keys);
// Microseconds since the Unix epoch.
int64_t FileTimeToUnixMicroseconds(const FILETIME& time);

}  // namespace internal

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_UPLOAD_H_
