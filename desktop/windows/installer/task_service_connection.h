// TaskServiceConnection: connects to the task scheduler's service on a thread of its own
// while the installation copies its files. Where the service starts on demand, its
// start-up then overlaps the file steps, and the step that registers the task finds it
// running. Nothing is kept from the connection: the step connects on its own thread.
//
//   connection.Start();   // when the run begins
//   ...
//   connection.Wait();    // before the step connects; also when the run ends
#ifndef DESKTOP_WINDOWS_INSTALLER_TASK_SERVICE_CONNECTION_H_
#define DESKTOP_WINDOWS_INSTALLER_TASK_SERVICE_CONNECTION_H_

#include <functional>
#include <memory>

namespace installer {

class TaskServiceConnection {
 public:
  // `connect` (may be null: nothing to do) is the installer system's `connect_task_service`.
  explicit TaskServiceConnection(std::function<void()> connect);
  // Waits for a started connection.
  ~TaskServiceConnection();
  TaskServiceConnection(const TaskServiceConnection&) = delete;
  TaskServiceConnection& operator=(const TaskServiceConnection&) = delete;

  // Runs `connect` on a new thread; nothing when there is none, when one was started
  // already or when no thread can be made.
  void Start();
  // Returns once a started connection has ended; at once when none was started.
  void Wait();

 private:
  class ConnectThread;
  const std::function<void()> connect_;
  std::unique_ptr<ConnectThread> thread_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TASK_SERVICE_CONNECTION_H_
