#include "desktop/windows/installer/recording_installer_observer_test_util.h"

#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace testing {

RecordingInstallerObserver::RecordingInstallerObserver() = default;
RecordingInstallerObserver::~RecordingInstallerObserver() = default;

void RecordingInstallerObserver::Record(const std::string& event) {
  events.push_back(event);
  if (on_event) on_event(event);
}

void RecordingInstallerObserver::OnStarted() { Record("Started"); }

void RecordingInstallerObserver::OnStartingNewMainProcess(bool value) {
  Record(std::string("StartingNewMainProcess(") + (value ? "1" : "0") + ")");
}

void RecordingInstallerObserver::OnReturnedToPreviousMainProcess() {
  Record("ReturnedToPreviousMainProcess");
}

void RecordingInstallerObserver::OnTotalSteps(int32_t total) {
  Record("TotalSteps(" + std::to_string(total) + ")");
}

void RecordingInstallerObserver::OnStep() {
  Record("Step");
}

void RecordingInstallerObserver::OnImportantEvent(const std::string& name) {
  Record("ImportantEvent(" + name + ")");
}

void RecordingInstallerObserver::OnError(uint32_t code, const std::wstring& argument,
                                         const std::string& message) {
  Record("Error(" + std::to_string(code) + "," + base::WideToUTF8(argument) + "," + message +
         ")");
}

void RecordingInstallerObserver::OnSuccess() {
  Record("Success");
  if (on_end) on_end();
}

void RecordingInstallerObserver::OnInstallationDone(bool success) {
  Record(std::string("Done(") + (success ? "1" : "0") + ")");
  if (on_end) on_end();
}

int RecordingInstallerObserver::Count(const std::string& event) const {
  int count = 0;
  for (const std::string& line : events)
    if (line == event) ++count;
  return count;
}

std::string RecordingInstallerObserver::LastError() const {
  for (auto it = events.rbegin(); it != events.rend(); ++it)
    if (it->compare(0, 6, "Error(") == 0) return *it;
  return std::string();
}

}  // namespace testing
}  // namespace installer
