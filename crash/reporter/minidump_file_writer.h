// Writes the minidump of a crashed process (a client of the reporter, or the reporter
// itself) from the crash information read out of it, within a size limit.
#ifndef CRASH_REPORTER_MINIDUMP_FILE_WRITER_H_
#define CRASH_REPORTER_MINIDUMP_FILE_WRITER_H_

#include <windows.h>
#include <dbghelp.h>
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

#include "base/win/scoped_handle.h"
#include "crash/reporter/crash_pipe_message.h"
#include "crash/reporter/dump_client.h"
#include "crash/reporter/dump_write_pauses.h"

namespace crash_reporter {

// What a crashed process leaves for the dump writer; addresses are its own.
struct CrashInfoBlock {
  uint32_t thread_id;
  uint32_t padding;
  uint64_t exception_pointers;  // EXCEPTION_POINTERS* in the crashed process
  AssertionInfo assertion;
};
static_assert(sizeof(CrashInfoBlock) == 792, "CrashInfoBlock must be 792 bytes");
static_assert(offsetof(CrashInfoBlock, assertion) == 16, "layout");

// "<build version> <UBN>", always written.
constexpr uint32_t kBuildVersionStreamType = 0x10000;
// The AssertionInfo of an invalid-parameter call.
constexpr uint32_t kAssertionStreamType = 0x10001;

// The largest dump of a client and of the reporter itself.
constexpr uint64_t kClientDumpSizeLimit = 3072000;
constexpr uint64_t kReporterDumpSizeLimit = 512000;

// Closes the written dump file and says whether its last writes reached it (the holder is
// empty either way; the error stays for GetLastError). Empty: the system's checked close;
// tests pass one that fails.
using CloseDumpFile = std::function<bool(base::ScopedHandle* file)>;

// Tries the richer dump type first and a normal dump when that fails or is larger than
// |size_limit|; false when neither fits. |pauses|, when given, holds the write once it has
// begun.
[[nodiscard]] bool WriteOwnMinidump(HANDLE process, uint32_t pid, const CrashInfoBlock& block,
                                    HANDLE file, uint64_t size_limit,
                                    DumpWritePauses* pauses = nullptr);
// Creates |path| and writes the dump into it; when that or the file's close fails the file
// is deleted, or with |keep_failed| renamed to FailedDumpPath(path).
[[nodiscard]] bool WriteMinidumpFile(HANDLE process, uint32_t pid, const CrashInfoBlock& block,
                                     const std::wstring& path, uint64_t size_limit,
                                     bool keep_failed = false, DumpWritePauses* pauses = nullptr,
                                     const CloseDumpFile& close_file = CloseDumpFile());
// Reads the crashing thread id, the exception pointers and (when |assertion_address| is
// not 0) the assertion out of |client| (process |pid|) and writes its dump to |path|. A
// dump whose exception record cannot be read, or whose client ended or moved on from its
// exception while it was written, fails like one that could not be written. |pauses|, when
// given, holds the writing at its points.
[[nodiscard]] bool WriteClientMinidump(const DumpClient& client, uint32_t pid,
                                       uint64_t thread_id_address,
                                       uint64_t exception_pointers_address,
                                       uint64_t assertion_address, const std::wstring& path,
                                       uint64_t size_limit, bool keep_failed,
                                       DumpWritePauses* pauses = nullptr,
                                       const CloseDumpFile& close_file = CloseDumpFile());
// The answer to a MiniDumpWriteDump callback that adds nothing to the dump: modules and
// threads as found, no extra memory, never cancelled.
BOOL AnswerDumpCallback(const MINIDUMP_CALLBACK_INPUT& input, MINIDUMP_CALLBACK_OUTPUT* output);

// Where a failed dump is kept: never taken for a dump to upload.
std::wstring FailedDumpPath(const std::wstring& path);

// Reads exactly |size| bytes at |address| of |process|.
[[nodiscard]] bool ReadProcessBytes(HANDLE process, uint64_t address, void* buffer, size_t size);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_MINIDUMP_FILE_WRITER_H_
