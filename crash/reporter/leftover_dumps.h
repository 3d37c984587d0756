// Dumps that a reporter killed before its uploads ended leaves in the dump folder. The
// next reporter takes the newest few for one upload each and removes the rest, so that
// only a bounded number of dumps ever stays there.
//
//   HandleLeftoverDumps(dump_folder, &QueueLeftoverUpload);
#ifndef CRASH_REPORTER_LEFTOVER_DUMPS_H_
#define CRASH_REPORTER_LEFTOVER_DUMPS_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/files/file_path.h"

namespace crash_reporter {

// The most leftover dumps one reporter uploads; older ones are removed.
constexpr size_t kMaxLeftoverUploads = 3;
// A leftover older than this (in 100 ns units: 7 days) is removed without an upload.
constexpr uint64_t kMaxLeftoverAge = 7ull * 24 * 3600 * 10000000;

// Takes over the dump at |path| for one upload; true when it was queued.
typedef bool (*LeftoverUploadFunction)(const std::wstring& path);

// Looks up process |pid|: ERROR_SUCCESS with its creation time in |start| while it runs,
// ERROR_INVALID_PARAMETER when no such process runs, any other error when it cannot tell
// (an elevated process refuses to be opened).
typedef DWORD (*ProcessStartFunction)(uint32_t pid, FILETIME* start);
// The system's answer.
DWORD GetRunningProcessStart(uint32_t pid, FILETIME* start);

// Looks for the dumps of reporters that no longer run in |folder| (names as
// MakeCrashLogName gives them) and hands the newest kMaxLeftoverUploads of them, younger
// than kMaxLeftoverAge, to |upload|, each renamed first to a dump name of this reporter
// so that two reporters never take the same one; removes the others. Returns the number
// handed over. A reporter is gone only when no process has its id, or the one that has it
// started after the dump was made; one that cannot be looked up is taken to run.
size_t HandleLeftoverDumps(const base::FilePath& folder, LeftoverUploadFunction upload,
                           ProcessStartFunction process_start = &GetRunningProcessStart);

// The reporter pid in a dump name of this product, or 0 when |name| is not one.
uint32_t ParseDumpReporterId(const std::wstring& name);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_LEFTOVER_DUMPS_H_
