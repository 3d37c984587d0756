#include "base/message_loop/message_pump_io.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/message_loop/message_loop_for_io.h"
#include "base/run_loop.h"
#include "base/time/time.h"

namespace base {
namespace {

class RecordingHandler : public MessagePumpForIO::IOHandler {
 public:
  RecordingHandler(int id, std::vector<int>* order) : id_(id), order_(order) {}
  void OnIOCompleted(MessagePumpForIO::IOContext* context, DWORD bytes, DWORD error) override {
    order_->push_back(id_);
    last_context = context;
    last_bytes = bytes;
    last_error = error;
    if (run_loop)
      run_loop->Quit();
  }
  MessagePumpForIO::IOContext* last_context = nullptr;
  DWORD last_bytes = 0;
  DWORD last_error = 0;
  RunLoop* run_loop = nullptr;

 private:
  int id_;
  std::vector<int>* order_;
};

void Complete(HANDLE port, MessagePumpForIO::IOHandler* handler,
              MessagePumpForIO::IOContext* context, DWORD bytes) {
  ASSERT_TRUE(PostQueuedCompletionStatus(port, bytes, reinterpret_cast<ULONG_PTR>(handler),
                                         &context->overlapped));
}

TEST(MessagePumpForIOTest, FilteredWaitKeepsOtherHandlersItemsForLater) {
  MessagePumpForIO pump;
  std::vector<int> order;
  RecordingHandler a(1, &order), b(2, &order);
  MessagePumpForIO::IOContext context_a, context_b;
  Complete(pump.port(), &b, &context_b, 7);
  Complete(pump.port(), &a, &context_a, 3);

  // Waiting for A meets B's completion first: kept, not delivered.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, &a));
  EXPECT_TRUE(order.empty());
  // The next unfiltered wait delivers B from the kept list before asking the port.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_EQ(std::vector<int>({2}), order);
  EXPECT_EQ(&context_b, b.last_context);
  EXPECT_EQ(7u, b.last_bytes);
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_EQ(std::vector<int>({2, 1}), order);
  // Nothing left: a time-out delivers nothing.
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
}

TEST(MessagePumpForIOTest, ManyPostsMakeOneWakeUp) {
  MessagePumpForIO pump;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&pump] {
      for (int i = 0; i < 50; ++i)
        pump.ScheduleWork();
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  // One packet, taken as a wake-up; then the port is empty.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
  // Once taken, the next post wakes again.
  pump.ScheduleWork();
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
}

// Reads one message from a pipe through the loop's completion port.
TEST(MessagePumpForIOTest, OverlappedReadCompletesOnTheLoop) {
  MessageLoopForIO loop;
  ASSERT_EQ(&loop, MessageLoopForIO::Current());
  std::wstring name =
      L"\\\\.\\pipe\\velum_io_pump_test_" + std::to_wstring(GetCurrentProcessId());
  ScopedHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE, 1, 0, 4096, 0, nullptr));
  ASSERT_TRUE(server.IsValid());
  ScopedHandle client(
      CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(client.IsValid());

  std::vector<int> order;
  RecordingHandler reader(1, &order);
  RunLoop run_loop;
  reader.run_loop = &run_loop;
  ASSERT_TRUE(loop.RegisterIOHandler(server.Get(), &reader));
  MessageLoopForIO::IOContext context;
  char buffer[16] = {};
  BOOL read = ReadFile(server.Get(), buffer, sizeof(buffer), nullptr, &context.overlapped);
  ASSERT_TRUE(read || GetLastError() == ERROR_IO_PENDING);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(client.Get(), "hello", 5, &written, nullptr));
  run_loop.Run();
  EXPECT_EQ(&context, reader.last_context);
  EXPECT_EQ(5u, reader.last_bytes);
  EXPECT_EQ(0u, reader.last_error);
  EXPECT_STREQ("hello", buffer);
}

// A handle that cannot be bound is reported, not taken silently.
TEST(MessagePumpForIOTest, RegisteringAnUnbindableHandleFails) {
  MessageLoopForIO loop;
  RecordingHandler handler(1, nullptr);
  EXPECT_FALSE(loop.RegisterIOHandler(INVALID_HANDLE_VALUE, &handler));
}

class PumpKindTest : public testing::TestWithParam<MessageLoop::Type> {};

void Quit(RunLoop* run_loop, TimeTicks* ran_at) {
  *ran_at = TimeTicks::Now();
  run_loop->Quit();
}

// The pump sleeps until the delayed task is due, with nothing else to wake it.
TEST_P(PumpKindTest, DelayedTaskRunsNoEarlierThanDue) {
  MessageLoop loop(GetParam());
  RunLoop run_loop;
  TimeTicks ran_at;
  const TimeDelta kDelay = TimeDelta::FromMilliseconds(30);
  TimeTicks posted = TimeTicks::Now();
  loop.task_runner()->PostDelayedTask(FROM_HERE, Bind(&Quit, &run_loop, &ran_at), kDelay);
  run_loop.Run();
  EXPECT_GE(ran_at - posted, kDelay);
}

INSTANTIATE_TEST_SUITE_P(DefaultAndIO, PumpKindTest,
                         testing::Values(MessageLoop::TYPE_DEFAULT, MessageLoop::TYPE_IO));

}  // namespace
}  // namespace base
