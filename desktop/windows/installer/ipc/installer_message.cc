#include "desktop/windows/installer/ipc/installer_message.h"

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/installer_observer.h"

namespace installer {

namespace {

const char kInstallerMessageSignature[] = ":Installer message:";

// Reads the signature and the type; what is wrong with them, or null.
const char* ReadHeader(base::SerialBufferReader* reader, int32_t* type) {
  std::string signature;
  if (!reader->ReadString(&signature) || signature != kInstallerMessageSignature)
    return "Received a message without installer signature";
  if (!reader->ReadInt(type)) return "Received an installer message without a type";
  return nullptr;
}

}  // namespace

std::unique_ptr<base::SerialBuffer> CreateInstallerMessage(int32_t type) {
  std::unique_ptr<base::SerialBuffer> message(new base::SerialBuffer);
  message->WriteString(kInstallerMessageSignature);
  message->WriteInt(type);
  return message;
}

std::unique_ptr<base::SerialBuffer> CreateStartingNewMainProcessMessage(bool value) {
  std::unique_ptr<base::SerialBuffer> message =
      CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteInt(value ? 1 : 0);
  return message;
}

std::unique_ptr<base::SerialBuffer> CreateTotalStepsMessage(int32_t total) {
  std::unique_ptr<base::SerialBuffer> message = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(total);
  return message;
}

std::unique_ptr<base::SerialBuffer> CreateImportantEventMessage(const std::string& name) {
  std::unique_ptr<base::SerialBuffer> message =
      CreateInstallerMessage(IPC_MESSAGE_IMPORTANT_EVENT);
  message->WriteString(name);
  return message;
}

std::unique_ptr<base::SerialBuffer> CreateErrorMessage(uint32_t code,
                                                       const std::wstring& argument,
                                                       const std::string& text) {
  std::unique_ptr<base::SerialBuffer> message = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  message->WriteInt(static_cast<int32_t>(code));
  message->WriteWideString(argument);
  message->WriteString(text);
  return message;
}

bool IsStepMessage(const base::SerialBuffer& message) {
  base::SerialBufferReader reader(message);
  int32_t type = 0;
  return !ReadHeader(&reader, &type) && type == IPC_MESSAGE_STEP;
}

bool DispatchInstallerMessage(const base::SerialBuffer& message, InstallerObserver* observer) {
  base::SerialBufferReader reader(message);
  int32_t type = 0;
  if (const char* problem = ReadHeader(&reader, &type)) {
    LOG(WARNING) << problem;
    return false;
  }
  switch (type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS: {
      bool value = false;
      if (!reader.ReadBool(&value)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS" << "message";
        return false;
      }
      VLOG(1) << "IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << value << ") received";
      observer->OnStartingNewMainProcess(value);
      return true;
    }
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      VLOG(1) << "IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS received";
      observer->OnReturnedToPreviousMainProcess();
      return true;
    case IPC_MESSAGE_STARTED:
      observer->OnStarted();
      return true;
    case IPC_MESSAGE_TOTAL_STEPS: {
      int32_t total = 0;
      if (!reader.ReadInt(&total)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_TOTAL_STEPS message";
        return false;
      }
      VLOG(1) << "IPC_MESSAGE_TOTAL_STEPS(" << total << ") received";
      observer->OnTotalSteps(total);
      return true;
    }
    case IPC_MESSAGE_STEP:
      VLOG(1) << "IPC_MESSAGE_STEP received";
      observer->OnStep();
      return true;
    case IPC_MESSAGE_IMPORTANT_EVENT: {
      VLOG(1) << "IPC_MESSAGE_IMPORTANT_EVENT received";
      std::string name;
      if (!reader.ReadString(&name)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_IMPORTANT_EVENT message";
        return false;
      }
      observer->OnImportantEvent(name);
      return true;
    }
    case IPC_MESSAGE_ERROR: {
      int32_t code = 0;
      std::wstring argument;
      std::string text;
      if (!reader.ReadInt(&code) || !reader.ReadWideString(&argument) ||
          !reader.ReadString(&text)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_ERROR message";
        return false;
      }
      VLOG(1) << "IPC_MESSAGE_ERROR(" << code << "," << base::WideToUTF8(argument) << ","
              << text << ") received";
      observer->OnError(static_cast<uint32_t>(code), argument, text);
      return true;
    }
    case IPC_MESSAGE_SUCCESS:
      VLOG(1) << "IPC_MESSAGE_SUCCESS received";
      observer->OnSuccess();
      return true;
    default:
      LOG(WARNING) << "Received installer message with invalid type";
      return false;
  }
}

}  // namespace installer
