#include "desktop/windows/installer/verification/downloaded_version_check.h"

#include "base/command_line.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process_launch_lock.h"
#include "base/synchronization/lock.h"
#include "base/values.h"
#include "base/version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/statistics/stats_node.h"

namespace installer {

const base::TimeDelta kDownloadedItemAnswerTimeout = base::TimeDelta::FromSeconds(120);

namespace {

// The program's answer to |switch_name|; false when it could not run, crashed or hung.
[[nodiscard]] bool AskDownloadedItem(const base::FilePath& file, const char* switch_name,
                                     base::TimeDelta timeout, std::string* answer) {
  base::CommandLine command_line(file);
  command_line.AppendSwitch(switch_name);
  bool timed_out = false;
  // The process-wide launch lock keeps other launches from inheriting the output pipe.
  if (!base::RunAndCaptureOutputWithTimeout(command_line.GetCommandLineString(), timeout,
                                            &base::GetProcessLaunchLock(), answer, &timed_out)) {
    LOG(ERROR) << (timed_out ? "Downloaded item did not answer in time: "
                             : "Could not run the downloaded item: ")
               << file.value();
    return false;
  }
  return true;
}

}  // namespace

bool CheckDownloadedVersion(const base::FilePath& file, const std::string& installer_version,
                            const std::string* stream, StatsNode* node, base::TimeDelta timeout) {
  const base::Version own_version(installer_version);
  std::string version_text;
  if (!AskDownloadedItem(file, switches::kInternalVersion, timeout, &version_text)) return false;
  VLOG(1) << "Downloaded item version: " << version_text;
  node->SetServerText("internal_version", version_text);
  const base::Version version(version_text);
  if (!version.IsValid() || version.CompareTo(own_version) < 0) {
    LOG(ERROR) << "Downloaded item is older than the installer";
    return false;
  }
  if (!stream) return true;

  std::string stream_text;
  if (!AskDownloadedItem(file, switches::kStream, timeout, &stream_text)) return false;
  VLOG(1) << "Downloaded item stream: " << stream_text;
  node->SetServerText("stream", stream_text);
  if (stream_text != *stream) {
    LOG(ERROR) << "Downloaded item is of a different stream than the installer";
    return false;
  }
  return true;
}

base::Result<> CheckVersionFloor(const base::FilePath& program,
                                 const std::string& installer_version) {
  base::Dictionary answers;
  base::Lock lock;
  StatsNode node(&answers, &lock, base::TimeTicks::Now());
  if (CheckDownloadedVersion(program, installer_version, nullptr, &node,
                             kDownloadedItemAnswerTimeout)) {
    return base::Result<>();
  }
  std::string answered;
  if (!answers.GetString("internal_version", &answered) || answered.empty())
    answered = "no answer";
  LOG(ERROR) << "Refusing " << program.AsUTF8() << ": its version (" << answered
             << ") is not at least this installer's " << installer_version;
  return base::Failure{0, 0,
                       "its version (" + answered + ") is not at least this installer's " +
                           installer_version,
                       program};
}

base::Result<> CheckVersionFloor(const base::FilePath& program) {
  return CheckVersionFloor(program, GetBuildAndPatchNumber());
}

}  // namespace installer
