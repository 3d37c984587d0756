// The crash-reporter process: a second run of the host executable, started by an
// installer process with "crash-reporter-parent-id". It serves the crash pipe; when a
// registered client crashes it writes the client's minidump into its dump folder, counts
// the crash and uploads the dump in the background. It ends once its parent has exited
// and no dump or upload is outstanding.
//
// The host enters this role, before anything else is set up, as:
//   if (command_line.HasSwitch("crash-reporter-parent-id")) {
//     InstallReporterExceptionFilter();
//     if (command_line.HasSwitch("crash-reporter-exception-info"))
//       ReportOwnCrash();
//     else
//       CrashReporterMain();
//   }
#ifndef CRASH_REPORTER_CRASH_REPORTER_PROCESS_H_
#define CRASH_REPORTER_CRASH_REPORTER_PROCESS_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"

namespace base {
class CommandLine;
}

namespace crash_reporter {

// The switch that makes a host run the reporter for the process it names.

class ClientInfo;
class CrashStatsStore;
class DumpWritePauses;

// 0 after an orderly end; -1 when the reporter could not start serving (its parent then
// gives up waiting for it).
[[nodiscard]] int CrashReporterMain();

// What the dump callback needs.
struct ReporterContext {
  CrashStatsStore* stats;
  bool keep_logs;
  DumpWritePauses* pauses;  // null but in tests that hold the reporter
};

// The pipe server's dump callback: counts, writes and queues the upload of one dump.
void OnClientDumpRequested(ReporterContext* context, const ClientInfo* client);

// "velum-crashlog-<own pid>-<sequence>.dmp".
std::string MakeCrashLogName(uint32_t sequence);
// 1 for the process's first dump, then 2, 3...
uint32_t NextDumpSequence();

// Whether crash reports may be sent: true unless the JSON file at |path| holds false at
// "user_experience_metrics.reporting_enabled".
[[nodiscard]] bool ReadReportingConsent(const base::FilePath& path);

// "crash-reporter-parent-id" as an unsigned 32-bit decimal.
[[nodiscard]] bool GetReporterParentId(const base::CommandLine& command_line, uint32_t* parent_id);

struct ReporterPaths {
  base::FilePath stats_file;
  base::FilePath preferences_file;  // empty when there is none
  base::FilePath dump_folder;
};
// "user-data-dir" names the user data folder; the statistics file is kept there or,
// without one, in the dump folder. The dump folder is "VELUM_CRASH_LOG_DIR" when it can
// be created, else the temporary folder. False when there is no dump folder.
[[nodiscard]] bool InitReporterPaths(const base::CommandLine& command_line, ReporterPaths* paths);

namespace internal {

// CrashReporterMain over |command_line|, its dumps held at |pauses| when given.
[[nodiscard]] int RunCrashReporter(const base::CommandLine& command_line,
                                   DumpWritePauses* pauses = nullptr);

}  // namespace internal

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_CRASH_REPORTER_PROCESS_H_
