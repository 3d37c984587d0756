#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/serial_buffer.h"
#include "base/test/posted_task_labels_test_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/ipc/mailslot.h"
#include "desktop/windows/installer/ipc/mailslot_reader.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"
#include "desktop/windows/installer/recording_installer_observer_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using testing::RecordingInstallerObserver;

// Decodes what arrives into observer lines; quits the run loop on a chosen line.
class Collector : public IpcReceiver::Delegate {
 public:
  void OnMessageReceived(const base::SerialBuffer& message) override {
    ++messages;
    EXPECT_TRUE(DispatchInstallerMessage(message, &observer));
  }
  RecordingInstallerObserver observer;
  int messages = 0;
};

class MailslotIpcTest : public ::testing::Test {
 protected:
  // A name no other test process uses.
  std::wstring Name(const wchar_t* what) {
    return L"velum_ipc_test\\" + std::to_wstring(GetCurrentProcessId()) + L"\\" + what;
  }

  // Connects `receiver` and returns once its mailslot exists.
  void ConnectReceiver(IpcReceiver* receiver, const std::wstring& name) {
    ASSERT_TRUE(receiver->Connect(name));
    base::RunLoop created;
    receiver->Flush(created.QuitClosure());
    created.Run();
  }

  // Runs the loop until the collector has recorded `line`.
  void RunUntil(Collector* collector, const std::string& line) {
    base::RunLoop run_loop;
    collector->observer.on_event = [&run_loop, line](const std::string& event) {
      if (event == line) run_loop.Quit();
    };
    run_loop.Run();
    collector->observer.on_event = nullptr;
  }

  base::MessageLoop loop_;
};

std::unique_ptr<base::SerialBuffer> OversizeMessage() {
  // An important event whose name alone is larger than a mailslot message.
  return CreateImportantEventMessage(std::string(3000, 'x'));
}

TEST_F(MailslotIpcTest, MessagesArriveInOrder) {
  base::PostedTaskLabels labels;
  Collector collector;
  IpcReceiver receiver(&collector);
  ConnectReceiver(&receiver, Name(L"order"));
  IpcSender sender;
  ASSERT_TRUE(sender.Connect(Name(L"order")));
  EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_STARTED)));
  EXPECT_TRUE(sender.Send(CreateTotalStepsMessage(3)));
  EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP)));
  RunUntil(&collector, "Step");
  EXPECT_EQ((std::vector<std::string>{"Started", "TotalSteps(3)", "Step"}),
            collector.observer.events);
  // Each message reaches this loop as a task posted as "OnMessageReceived".
  EXPECT_TRUE(labels.Saw("OnMessageReceived"));
  EXPECT_FALSE(labels.Saw("OnMailslotMessage"));
}

// A read that completes with an error is followed by the next one: reception goes on.
TEST_F(MailslotIpcTest, AReadCompletingWithAnErrorDoesNotEndReception) {
  class Counter : public MailslotReader::Receiver {
   public:
    void OnMailslotMessage(const base::SerialBuffer&) override { ++messages; }
    int messages = 0;
  } counter;
  const std::wstring path = GetMailslotPath(Name(L"read_error"));
  base::ScopedHandle mailslot(CreateMailslotW(
      path.c_str(), static_cast<DWORD>(kMailslotMessageSize), MAILSLOT_WAIT_FOREVER, nullptr));
  ASSERT_TRUE(mailslot.IsValid());
  MailslotReader reader(std::move(mailslot), &counter);
  for (DWORD error : {static_cast<DWORD>(ERROR_OPERATION_ABORTED),
                      static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), static_cast<DWORD>(ERROR_SEM_TIMEOUT)}) {
    SCOPED_TRACE(error);
    reader.OnIOCompleted(reader.context_for_testing(), 0, error);
    base::ScopedHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.IsValid());
    const char message[] = "message";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.Get(), message, sizeof(message), &written, nullptr));
    const int before = counter.messages;
    reader.ReadWaitingMessages();
    EXPECT_EQ(before + 1, counter.messages);
  }
}

// The final report of a run comes right after a burst of step messages, and the sender
// is closed at once: it must still arrive, and an oversize message in between must not
// hold back what follows it.
TEST_F(MailslotIpcTest, TheFinalReportArrivesAfterABurstAndAnOversizeMessage) {
  Collector collector;
  IpcReceiver receiver(&collector);
  ConnectReceiver(&receiver, Name(L"burst"));
  const int kSteps = 300;
  {
    IpcSender sender;
    ASSERT_TRUE(sender.Connect(Name(L"burst")));
    for (int i = 0; i < kSteps; ++i) {
      if (i == 10) {
        EXPECT_FALSE(sender.Send(OversizeMessage()));
      }
      EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP)));
    }
    EXPECT_TRUE(sender.Send(CreateErrorMessage(8, L"C:\\a", "Failed copying a")));
  }
  RunUntil(&collector, "Error(8,C:\\a,Failed copying a)");
  // Steps still queued at the close are dropped; nothing else is.
  EXPECT_GE(kSteps, collector.observer.Count("Step"));
  EXPECT_EQ(collector.observer.Count("Step") + 1, collector.messages);
}

HANDLE g_drain_time_over = nullptr;
void SignalDrainTimeOver() { SetEvent(g_drain_time_over); }

// A backend ends with 10,000 step reports and its outcome queued while the front end does
// not read: a reader that pauses past the drain time still gets the outcome; one gone
// (its process ended, or it stopped and closed its mailslot) does not hold the sender,
// nor does one that never reads when the sender knows nothing of it (it gives up after
// its drain time).
TEST_F(MailslotIpcTest, TheOutcomeWaitsForAPausedReaderUntilItIsGone) {
  enum Reader { kReadsLate, kGoneBefore, kStops, kUnknownNeverReads };
  base::ScopedHandle drain_time_over(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  g_drain_time_over = drain_time_over.Get();
  MailslotWriter::SetDrainTimeOverHookForTesting(&SignalDrainTimeOver);
  for (Reader reader : {kReadsLate, kGoneBefore, kStops, kUnknownNeverReads}) {
    SCOPED_TRACE(reader);
    const std::wstring name = Name(L"paused") + std::to_wstring(reader);
    base::ScopedHandle mailslot(CreateMailslotW(GetMailslotPath(name).c_str(),
                                                static_cast<DWORD>(kMailslotMessageSize),
                                                MAILSLOT_WAIT_FOREVER, nullptr));
    ASSERT_TRUE(mailslot.IsValid());
    base::ScopedHandle gone(CreateEventW(nullptr, TRUE, reader == kGoneBefore, nullptr));
    base::ScopedHandle closed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread backend([&] {
      IpcSender sender;
      std::vector<HANDLE> reader_gone = {GetCurrentProcess(), gone.Get()};
      if (reader == kUnknownNeverReads) reader_gone.clear();
      EXPECT_TRUE(sender.Connect(name, reader_gone));
      for (int i = 0; i < 10000; ++i) (void)sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
      EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS)));
      sender.Close();
      SetEvent(closed.Get());
      // "Started" marks the end of what the sender wrote.
      IpcSender marker;
      if (reader != kStops) {
        EXPECT_TRUE(marker.Connect(name, {GetCurrentProcess()}));
        EXPECT_TRUE(marker.Send(CreateInstallerMessage(IPC_MESSAGE_STARTED)));
      }
    });
    // The reader starts only once the sender would have given up the queue, or closed.
    const HANDLE either[] = {drain_time_over.Get(), closed.Get()};
    if (reader == kUnknownNeverReads) {
      // Bounded far past the drain time; reading then frees a sender that waited on.
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(closed.Get(), 30 * MailslotWriter::kDrainTimeMs))
          << "the sender waited on for a reader it knows nothing of";
    } else {
      WaitForMultipleObjects(2, either, FALSE, INFINITE);
    }
    if (reader == kStops) {
      SetEvent(gone.Get());
      mailslot.Close();
    }
    RecordingInstallerObserver observer;
    std::vector<char> buffer(kMailslotMessageSize);
    DWORD read = 0;
    while (mailslot.IsValid() && observer.Count("Started") == 0 &&
           ReadFile(mailslot.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                    nullptr)) {
      EXPECT_TRUE(DispatchInstallerMessage(base::SerialBuffer(buffer.data(), read), &observer));
    }
    backend.join();
    EXPECT_EQ(reader == kReadsLate ? 1 : 0, observer.Count("Success"));
    if (reader == kReadsLate) {
      EXPECT_EQ("Success", observer.events[observer.events.size() - 2]);
      // The steps still queued at the close went first.
      EXPECT_LT(observer.Count("Step"), 10000);
    }
  }
  MailslotWriter::SetDrainTimeOverHookForTesting(nullptr);
}

TEST_F(MailslotIpcTest, ASenderWithoutReceiverNeverBlocks) {
  IpcSender unconnected;
  EXPECT_FALSE(unconnected.Send(CreateInstallerMessage(IPC_MESSAGE_STEP)));
  IpcSender sender;
  ASSERT_TRUE(sender.Connect(Name(L"nobody")));
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP)));
  sender.Close();
  // A second close (the destructor's) does nothing.
  sender.Close();
}

TEST_F(MailslotIpcTest, ADestroyedReceiverGetsNoDelivery) {
  Collector collector;
  auto receiver = std::make_unique<IpcReceiver>(&collector);
  // As the reader does on the IPC thread: the delivery is now a task of this loop.
  std::unique_ptr<base::SerialBuffer> message = CreateInstallerMessage(IPC_MESSAGE_STEP);
  receiver->OnMailslotMessage(*message);
  receiver.reset();
  base::RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(0, collector.messages);
}

// The receiver closes with its read in flight (or its poll due); a sender still
// writing afterwards drops its messages instead of waiting.
TEST_F(MailslotIpcTest, CloseReturnsWithAReadPendingAndTheSenderCarriesOn) {
  Collector collector;
  IpcReceiver receiver(&collector);
  ConnectReceiver(&receiver, Name(L"close"));
  IpcSender sender;
  ASSERT_TRUE(sender.Connect(Name(L"close")));
  EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS)));
  RunUntil(&collector, "Success");
  receiver.Close();
  EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP)));
  EXPECT_TRUE(sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP)));
  sender.Close();
  EXPECT_EQ(1, collector.messages);
}

TEST_F(MailslotIpcTest, OnlyResourceShortagesAreRetried) {
  struct Case {
    DWORD error;
    bool transient;
  } cases[] = {{ERROR_NOT_ENOUGH_MEMORY, true},  {ERROR_NO_SYSTEM_RESOURCES, true},
               {ERROR_NOT_ENOUGH_QUOTA, true},   {ERROR_INVALID_PARAMETER, false},
               {ERROR_BROKEN_PIPE, false},       {ERROR_HANDLE_EOF, false},
               {ERROR_BAD_LENGTH, false}};
  for (const Case& c : cases)
    EXPECT_EQ(c.transient, MailslotWriter::IsTransientError(c.error)) << c.error;
}

TEST(MailslotNameTest, TheInstallFolderIsKeptUnchanged) {
  EXPECT_EQ(L"velum_installer\\C:\\Program Files\\Velum",
            GetInstallerMailslotName(base::FilePath(L"C:\\Program Files\\Velum")));
  EXPECT_EQ(L"\\\\.\\mailslot\\velum_installer\\C:\\x",
            GetMailslotPath(GetInstallerMailslotName(base::FilePath(L"C:\\x"))));
}

}  // namespace
}  // namespace installer
