#include "desktop/windows/installer/ipc/installer_message.h"

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "desktop/windows/installer/recording_installer_observer_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::RecordingInstallerObserver;

std::vector<uint8_t> Bytes(const base::SerialBuffer& buffer) {
  const uint8_t* data = static_cast<const uint8_t*>(buffer.data());
  return std::vector<uint8_t>(data, data + buffer.size());
}

// The fixed 28-byte header of every message, then the type.
std::vector<uint8_t> Header(uint32_t payload_size, int32_t type) {
  std::vector<uint8_t> bytes(32, 0);
  memcpy(&bytes[0], &payload_size, 4);
  bytes[4] = 19;
  memcpy(&bytes[8], ":Installer message:", 19);
  memcpy(&bytes[28], &type, 4);
  return bytes;
}

void AppendInt(std::vector<uint8_t>* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<std::string> Dispatch(const std::vector<uint8_t>& bytes, bool* accepted = nullptr) {
  RecordingInstallerObserver observer;
  base::SerialBuffer view(bytes.data(), bytes.size());
  bool result = DispatchInstallerMessage(view, &observer);
  if (accepted) *accepted = result;
  return observer.events;
}

TEST(InstallerMessageTest, StepMessageIsTheBareHeaderAndType) {
  std::vector<uint8_t> expected = Header(28, IPC_MESSAGE_STEP);
  EXPECT_EQ(expected, Bytes(*CreateInstallerMessage(IPC_MESSAGE_STEP)));
  EXPECT_EQ(std::vector<std::string>{"Step"}, Dispatch(expected));
}

TEST(InstallerMessageTest, PayloadsAreLittleEndianAndPadded) {
  std::vector<uint8_t> total = Header(32, IPC_MESSAGE_TOTAL_STEPS);
  AppendInt(&total, 0x01020304);
  EXPECT_EQ(total, Bytes(*CreateTotalStepsMessage(0x01020304)));

  std::vector<uint8_t> starting = Header(32, IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  AppendInt(&starting, 1);
  EXPECT_EQ(starting, Bytes(*CreateStartingNewMainProcessMessage(true)));

  // Length 15, 15 bytes, one zero byte of padding.
  std::vector<uint8_t> event = Header(48, IPC_MESSAGE_IMPORTANT_EVENT);
  AppendInt(&event, 15);
  for (char c : std::string("file_copy_retry")) event.push_back(static_cast<uint8_t>(c));
  event.push_back(0);
  EXPECT_EQ(event, Bytes(*CreateImportantEventMessage("file_copy_retry")));

  // Code, wide "ab" (4 bytes), narrow "xyz" (3 bytes and one of padding).
  std::vector<uint8_t> error = Header(48, IPC_MESSAGE_ERROR);
  AppendInt(&error, 8);
  AppendInt(&error, 2);
  for (uint8_t b : std::vector<uint8_t>{'a', 0, 'b', 0}) error.push_back(b);
  AppendInt(&error, 3);
  for (uint8_t b : std::vector<uint8_t>{'x', 'y', 'z', 0}) error.push_back(b);
  EXPECT_EQ(error, Bytes(*CreateErrorMessage(8, L"ab", "xyz")));
}

TEST(InstallerMessageTest, EveryNotificationSurvivesTheRoundTrip) {
  struct Case {
    std::unique_ptr<base::SerialBuffer> message;
    std::string event;
  };
  Case cases[] = {
      {CreateStartingNewMainProcessMessage(false), "StartingNewMainProcess(0)"},
      {CreateStartingNewMainProcessMessage(true), "StartingNewMainProcess(1)"},
      {CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS),
       "ReturnedToPreviousMainProcess"},
      {CreateInstallerMessage(IPC_MESSAGE_STARTED), "Started"},
      {CreateTotalStepsMessage(-3), "TotalSteps(-3)"},
      {CreateImportantEventMessage("file_copy_retry"), "ImportantEvent(file_copy_retry)"},
      {CreateErrorMessage(8, L"C:\\x", "Failed copying a"), "Error(8,C:\\x,Failed copying a)"},
      {CreateErrorMessage(0, L"", ""), "Error(0,,)"},
      {CreateInstallerMessage(IPC_MESSAGE_SUCCESS), "Success"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(std::vector<std::string>{c.event}, Dispatch(Bytes(*c.message))) << c.event;
}

TEST(InstallerMessageTest, OnlyTheFirstByteOfABoolSlotCounts) {
  std::vector<uint8_t> bytes = Header(32, IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  AppendInt(&bytes, 0x00000100);
  EXPECT_EQ(std::vector<std::string>{"StartingNewMainProcess(0)"}, Dispatch(bytes));
}

TEST(InstallerMessageTest, TrailingBytesAreIgnored) {
  std::vector<uint8_t> bytes = Header(36, IPC_MESSAGE_TOTAL_STEPS);
  AppendInt(&bytes, 7);
  AppendInt(&bytes, 0xFFFFFFFF);
  EXPECT_EQ(std::vector<std::string>{"TotalSteps(7)"}, Dispatch(bytes));
}

TEST(InstallerMessageTest, MalformedMessagesAreDropped) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> bad_signature = Header(28, IPC_MESSAGE_STEP);
  bad_signature[26] = '!';
  std::vector<uint8_t> short_signature = Header(28, IPC_MESSAGE_STEP);
  short_signature[4] = 18;
  std::vector<uint8_t> no_type = Header(24, 0);
  no_type.resize(28);
  std::vector<uint8_t> error_cut = Header(36, IPC_MESSAGE_ERROR);
  AppendInt(&error_cut, 8);
  AppendInt(&error_cut, 100);  // a wide string longer than what is left
  std::vector<uint8_t> negative_length = Header(36, IPC_MESSAGE_IMPORTANT_EVENT);
  AppendInt(&negative_length, 0xFFFFFFFF);
  std::vector<uint8_t> payload_too_long = Header(28, IPC_MESSAGE_STEP);
  payload_too_long[0] = 29;
  std::vector<uint8_t> header_misaligned = Header(27, IPC_MESSAGE_STEP);
  Case cases[] = {
      {"last signature character differs", bad_signature},
      {"signature length differs", short_signature},
      {"no type", no_type},
      {"type 8", Header(28, 8)},
      {"type -1", Header(28, -1)},
      {"total steps without value", Header(28, IPC_MESSAGE_TOTAL_STEPS)},
      {"bool without slot", Header(28, IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS)},
      {"error string past the payload", error_cut},
      {"negative string length", negative_length},
      {"stated payload longer than the message", payload_too_long},
      {"header not a multiple of 4", header_misaligned},
  };
  for (const Case& c : cases) {
    bool accepted = true;
    EXPECT_TRUE(Dispatch(c.bytes, &accepted).empty()) << c.name;
    EXPECT_FALSE(accepted) << c.name;
  }
}

}  // namespace
}  // namespace installer
