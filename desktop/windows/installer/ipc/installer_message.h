// The installer's IPC messages: one SerialBuffer per observer notification, sent by the
// backend over the mailslot and turned back into the notification by the front end.
//
//   std::unique_ptr<base::SerialBuffer> message = CreateInstallerMessage(IPC_MESSAGE_STEP);
//   ... send message->data(), message->size() ...
//   DispatchInstallerMessage(base::SerialBuffer(bytes, length), &observer);
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/serial_buffer.h"

namespace installer {

class InstallerObserver;

enum InstallerMessageType : int32_t {
  IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS = 0,
  IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS = 1,
  IPC_MESSAGE_STARTED = 2,
  IPC_MESSAGE_TOTAL_STEPS = 3,
  IPC_MESSAGE_STEP = 4,
  IPC_MESSAGE_IMPORTANT_EVENT = 5,
  IPC_MESSAGE_ERROR = 6,
  IPC_MESSAGE_SUCCESS = 7,
};

// The signature and `type`; the caller appends the type's payload.
std::unique_ptr<base::SerialBuffer> CreateInstallerMessage(int32_t type);

// The whole message of each notification, payload included.
std::unique_ptr<base::SerialBuffer> CreateStartingNewMainProcessMessage(bool value);
std::unique_ptr<base::SerialBuffer> CreateTotalStepsMessage(int32_t total);
std::unique_ptr<base::SerialBuffer> CreateImportantEventMessage(const std::string& name);
std::unique_ptr<base::SerialBuffer> CreateErrorMessage(uint32_t code,
                                                       const std::wstring& argument,
                                                       const std::string& message);

// Whether `message` is a step report, which only moves the progress on.
bool IsStepMessage(const base::SerialBuffer& message);

// Decodes one received message and notifies `observer` of it. A malformed message is
// logged and dropped (false); it never ends anything.
[[nodiscard]] bool DispatchInstallerMessage(const base::SerialBuffer& message,
                                            InstallerObserver* observer);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_
