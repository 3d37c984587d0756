// Test helper: an InstallerObserver that writes each notification as one line of text
// ("Started", "TotalSteps(12)", "Step", "ImportantEvent(file_copy_retry)",
// "Error(8,<argument>,<message>)", "Success", "Done(0)", ...), and can quit a run loop
// when the installation ends.
#ifndef DESKTOP_WINDOWS_INSTALLER_RECORDING_INSTALLER_OBSERVER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_RECORDING_INSTALLER_OBSERVER_TEST_UTIL_H_

#include <functional>
#include <string>
#include <vector>

#include "desktop/windows/installer/installer_observer.h"

namespace installer {
namespace testing {

class RecordingInstallerObserver : public InstallerObserver {
 public:
  RecordingInstallerObserver();
  ~RecordingInstallerObserver() override;

  void OnStarted() override;
  void OnStartingNewMainProcess(bool value) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int32_t total) override;
  void OnStep() override;
  void OnImportantEvent(const std::string& name) override;
  void OnError(uint32_t code, const std::wstring& argument,
               const std::string& message) override;
  void OnSuccess() override;
  void OnInstallationDone(bool success) override;

  // How many lines equal `event`.
  int Count(const std::string& event) const;
  // The last error line, or empty.
  std::string LastError() const;

  std::vector<std::string> events;
  // Runs after each line is recorded, with the line.
  std::function<void(const std::string&)> on_event;
  // Runs after "Success" or "Done(...)" is recorded (for example a run loop's quit).
  std::function<void()> on_end;

 private:
  void Record(const std::string& event);
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECORDING_INSTALLER_OBSERVER_TEST_UTIL_H_
