#include "base/message_loop/message_pump_win.h"

#include <windows.h>

#include <wchar.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/statistics_recorder.h"
#include "base/run_loop.h"
#include "base/win/wrapped_window_proc.h"

namespace base {
namespace {

const UINT kRunNestedLoop = WM_APP + 1;
const UINT kShowMessageBox = WM_APP + 2;
const wchar_t kMessageBoxTitle[] = L"Velum pump test";

void Append(std::vector<int>* order, int value) {
  order->push_back(value);
}

// A message window that hands application messages to |handler|.
class TestWindow : public MessageWindow {
 public:
  explicit TestWindow(Callback<void(UINT message)> handler) {
    EXPECT_TRUE(Create(Bind(
        [](const Callback<void(UINT)>& handler, UINT message, WPARAM, LPARAM, LRESULT*) {
          if (message < WM_APP)
            return false;
          handler.Run(message);
          return true;
        },
        handler)));
  }
};

// While the loop is busy with a window message, another thread posts 1000 tasks:
// exactly one work message waits in the queue, and all tasks still run in order.
TEST(MessagePumpForUITest, ManyCrossThreadPostsQueueOneWorkMessage) {
  const UINT kPostFromThread = WM_APP + 5;
  MessageLoop loop(MessageLoop::TYPE_UI);
  HWND pump_window = static_cast<MessagePumpForUI*>(loop.pump())->message_hwnd();
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  std::vector<int> order;
  int work_messages = -1;
  RunLoop run_loop;
  TestWindow window(Bind(
      [](SequencedTaskRunner* runner, std::vector<int>* order, HWND pump_window,
         int* work_messages, RunLoop* run_loop, UINT message) {
        if (message != kPostFromThread)
          return;
        std::thread poster([=] {
          for (int i = 0; i < 1000; ++i)
            runner->PostTask(FROM_HERE, Bind(&Append, order, i));
          runner->PostTask(FROM_HERE, run_loop->QuitClosure());
        });
        poster.join();
        MSG msg;
        for (*work_messages = 0; PeekMessageW(&msg, pump_window, MessagePumpForUI::kMsgHaveWork,
                                              MessagePumpForUI::kMsgHaveWork, PM_REMOVE);)
          ++*work_messages;
        // Put back the one message the pump is owed.
        PostMessageW(pump_window, MessagePumpForUI::kMsgHaveWork, 0, 0);
      },
      runner.get(), &order, pump_window, &work_messages, &run_loop));

  PostMessageW(window.hwnd(), kPostFromThread, 0, 0);
  run_loop.Run();
  EXPECT_EQ(1, work_messages);
  ASSERT_EQ(1000u, order.size());
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(i, order[i]);
}

// A nested run started from a window procedure (not from a task) runs nestable tasks;
// a non-nestable one waits until the outermost run is idle.
TEST(MessagePumpForUITest, NonNestableTaskWaitsForOuterRun) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  std::vector<int> order;
  TestWindow window(Bind(
      [](SequencedTaskRunner* runner, std::vector<int>* order, UINT message) {
        if (message != kRunNestedLoop)
          return;
        RunLoop nested;
        runner->PostTask(FROM_HERE, Bind(&Append, order, 1));
        runner->PostNonNestableTask(FROM_HERE, Bind(&Append, order, 100));
        runner->PostTask(FROM_HERE, Bind(&Append, order, 2));
        runner->PostTask(FROM_HERE, nested.QuitClosure());
        nested.Run();
        order->push_back(3);
      },
      runner.get(), &order));

  struct CountNesting : MessageLoop::NestingObserver {
    void OnBeginNestedRunLoop() override { ++nested_runs; }
    int nested_runs = 0;
  } nesting;
  loop.AddNestingObserver(&nesting);

  RunLoop run_loop;
  PostMessageW(window.hwnd(), kRunNestedLoop, 0, 0);
  run_loop.QuitWhenIdle();
  run_loop.Run();
  loop.RemoveNestingObserver(&nesting);
  EXPECT_EQ(std::vector<int>({1, 2, 3, 100}), order);
  EXPECT_EQ(1, nesting.nested_runs);
}

// Quitting the outer run while an inner one runs lets the inner go on; the outer stops
// as soon as the inner returns.
TEST(MessagePumpForUITest, OuterQuitTakesEffectWhenInnerReturns) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  std::vector<int> order;
  RunLoop outer;
  TestWindow window(Bind(
      [](SequencedTaskRunner* runner, std::vector<int>* order, RunLoop* outer, UINT message) {
        if (message != kRunNestedLoop)
          return;
        RunLoop inner;
        runner->PostTask(FROM_HERE, outer->QuitClosure());
        runner->PostTask(FROM_HERE, Bind(&Append, order, 1));
        runner->PostTask(FROM_HERE, inner.QuitClosure());
        inner.Run();
        order->push_back(2);
        // Queued after the inner run: the stopped outer run never takes it.
        runner->PostTask(FROM_HERE, Bind(&Append, order, 99));
      },
      runner.get(), &order, &outer));

  PostMessageW(window.hwnd(), kRunNestedLoop, 0, 0);
  outer.Run();
  EXPECT_EQ(std::vector<int>({1, 2}), order);
}

// Finds and closes the test's message box of this thread.
struct BoxCloser {
  // The message box of |thread_id|; other processes may show boxes with this title.
  static HWND FindBox(DWORD thread_id) {
    HWND box = nullptr;
    EnumThreadWindows(
        thread_id,
        [](HWND hwnd, LPARAM found) -> BOOL {
          wchar_t title[64] = {};
          GetWindowTextW(hwnd, title, 64);
          if (wcscmp(title, kMessageBoxTitle) != 0)
            return TRUE;
          *reinterpret_cast<HWND*>(found) = hwnd;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&box));
    return box;
  }
  static void CloseBox(bool* ran_inside_box, HANDLE box_closed) {
    HWND box = FindBox(GetCurrentThreadId());
    *ran_inside_box = box != nullptr;
    if (box)
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    SetEvent(box_closed);
  }
};

// Runs the loop until idle with a message box shown from a window message: |show| posts
// that message and whatever should close the box from inside it. True when the box was
// closed from inside.
// |before_box|, when given, runs in the window message just before the box shows.
bool RunWithMessageBox(Callback<void(HWND window, bool* ran_inside_box, HANDLE box_closed)> show,
                       Callback<void(bool* ran_inside_box, HANDLE box_closed)> before_box =
                           Callback<void(bool*, HANDLE)>()) {
  bool ran_inside_box = false;
  HANDLE box_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TestWindow window(Bind(
      [](const Callback<void(bool*, HANDLE)>& before_box, bool* ran_inside_box, HANDLE box_closed,
         UINT message) {
        if (message != kShowMessageBox)
          return;
        if (!before_box.is_null())
          before_box.Run(ran_inside_box, box_closed);
        MessageBoxW(nullptr, L"The pump test closes this box.", kMessageBoxTitle, MB_OK);
      },
      before_box, &ran_inside_box, box_closed));
  // A safety net only: without it a broken pump would leave the box open for ever.
  DWORD loop_thread = GetCurrentThreadId();
  std::thread watchdog([box_closed, loop_thread] {
    if (WaitForSingleObject(box_closed, 60000) != WAIT_OBJECT_0) {
      HWND box = BoxCloser::FindBox(loop_thread);
      if (box)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  });
  show.Run(window.hwnd(), &ran_inside_box, box_closed);
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  SetEvent(box_closed);
  watchdog.join();
  CloseHandle(box_closed);
  return ran_inside_box;
}

// A message box runs its own modal loop; a short delayed task still runs inside it
// through the pump's window timer, and closes the box.
TEST(MessagePumpForUITest, DelayedTaskRunsInsideModalMessageBox) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  EXPECT_TRUE(RunWithMessageBox(
      Bind(
                 [](SequencedTaskRunner* runner, HWND window, bool* ran_inside_box,
                    HANDLE box_closed) {
                   PostMessageW(window, kShowMessageBox, 0, 0);
                   runner->PostDelayedTask(FROM_HERE,
                                           Bind(&BoxCloser::CloseBox, ran_inside_box, box_closed),
                                           TimeDelta::FromMilliseconds(3));
                 },
                 runner.get())));
}

// A box shown while tasks already wait in the loop's work queue (no wake-up message is
// queued for them then): they still run inside the box's modal loop.
TEST(MessagePumpForUITest, WaitingTaskRunsInsideMessageBoxShownMeanwhile) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  EXPECT_TRUE(RunWithMessageBox(
      Bind(
                 [](SequencedTaskRunner* runner, HWND window, bool* ran_inside_box,
                    HANDLE box_closed) {
                   // The first task asks for the box; the second waits behind it in the
                   // work queue when the box shows.
                   runner->PostTask(FROM_HERE, Bind([](HWND window) {
                                      PostMessageW(window, kShowMessageBox, 0, 0);
                                    },
                                    window));
                   runner->PostTask(FROM_HERE,
                                    Bind(&BoxCloser::CloseBox, ran_inside_box, box_closed));
                 },
                 runner.get())));
}

// The box's message comes after the loop ran its last queued task, and a task is posted
// just before the box shows: the post must wake the box's loop, although the loop had
// been woken for the earlier task and not idle since.
TEST(MessagePumpForUITest, TaskPostedJustBeforeTheBoxRunsInsideIt) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  EXPECT_TRUE(RunWithMessageBox(
      Bind(
          [](SequencedTaskRunner* runner, HWND window, bool*, HANDLE) {
            runner->PostTask(FROM_HERE, Bind([](HWND window) {
                               PostMessageW(window, kShowMessageBox, 0, 0);
                             },
                             window));
          },
          runner.get()),
      Bind(
          [](SequencedTaskRunner* runner, bool* ran_inside_box, HANDLE box_closed) {
            runner->PostTask(FROM_HERE, Bind(&BoxCloser::CloseBox, ran_inside_box, box_closed));
          },
          runner.get())));
}

// Whether a work message of the pump waits in the thread's queue.
bool WorkMessageQueued(HWND pump_window) {
  MSG msg;
  return PeekMessageW(&msg, pump_window, MessagePumpForUI::kMsgHaveWork,
                      MessagePumpForUI::kMsgHaveWork, PM_NOREMOVE) != FALSE;
}

// Each window message, one at a time in the queue, looks for a work message of the pump
// queued before it: there is one exactly when a task waits (the handler of the message
// before posted two), none when nothing waits.
TEST(MessagePumpForUITest, AWorkMessageIsQueuedBeforeAWindowMessageOnlyWhenATaskWaits) {
  const UINT kChained = WM_APP + 10;
  const int kMessages = 100;
  for (bool task_waits : {false, true}) {
    SCOPED_TRACE(task_waits ? "a task waits" : "nothing waits");
    MessageLoop loop(MessageLoop::TYPE_UI);
    HWND pump_window = static_cast<MessagePumpForUI*>(loop.pump())->message_hwnd();
    scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
    int handled = 0, with_work_message = 0, tasks_run = 0;
    HWND self = nullptr;
    TestWindow window(Bind(
        [](int* handled, int* with_work_message, int* tasks_run, HWND* self, HWND pump_window,
           SequencedTaskRunner* runner, bool task_waits, int messages, UINT message) {
          if (message != kChained)
            return;
          if (WorkMessageQueued(pump_window))
            ++*with_work_message;
          if (++*handled == messages)
            return;
          // The loop runs one task between two messages: the second one waits.
          for (int i = 0; task_waits && i < 2; ++i)
            runner->PostTask(FROM_HERE, Bind([](int* tasks_run) { ++*tasks_run; }, tasks_run));
          PostMessageW(*self, kChained, 0, 0);
        },
        &handled, &with_work_message, &tasks_run, &self, pump_window, runner.get(), task_waits,
        kMessages));
    self = window.hwnd();
    PostMessageW(window.hwnd(), kChained, 0, 0);
    RunLoop run_loop;
    run_loop.QuitWhenIdle();
    run_loop.Run();
    EXPECT_EQ(kMessages, handled);
    EXPECT_EQ(task_waits ? kMessages - 1 : 0, with_work_message);
    EXPECT_EQ(task_waits ? 2 * (kMessages - 1) : 0, tasks_run);
  }
}

// A loop run inside a task may not run tasks: a task waiting meanwhile queues no work
// message before its window messages (each would wake it for nothing), and runs once the
// outer run has it again.
TEST(MessagePumpForUITest, ANestedLoopThatMayNotRunTasksGetsNoWorkMessages) {
  const UINT kChained = WM_APP + 11;
  const int kMessages = 20;
  MessageLoop loop(MessageLoop::TYPE_UI);
  HWND pump_window = static_cast<MessagePumpForUI*>(loop.pump())->message_hwnd();
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  int handled = 0, with_work_message = 0;
  HWND self = nullptr;
  TestWindow window(Bind(
      [](int* handled, int* with_work_message, HWND* self, HWND pump_window, int messages,
         UINT message) {
        if (message != kChained)
          return;
        if (WorkMessageQueued(pump_window))
          ++*with_work_message;
        if (++*handled < messages)
          PostMessageW(*self, kChained, 0, 0);
      },
      &handled, &with_work_message, &self, pump_window, kMessages));
  self = window.hwnd();
  std::vector<int> order;
  runner->PostTask(FROM_HERE, Bind(
                                  [](SequencedTaskRunner* runner, std::vector<int>* order,
                                     HWND window) {
                                    runner->PostTask(FROM_HERE, Bind(&Append, order, 2));
                                    PostMessageW(window, kChained, 0, 0);
                                    RunLoop nested;
                                    nested.QuitWhenIdle();
                                    nested.Run();
                                    order->push_back(1);
                                  },
                                  runner.get(), &order, window.hwnd()));
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(kMessages, handled);
  EXPECT_EQ(0, with_work_message);
  EXPECT_EQ(std::vector<int>({1, 2}), order);
}

// Two delayed tasks fall due while a window message is handled; the loop runs one
// delayed task between two messages, so the second still waits when the next window
// message comes: a work message is queued before it, as a box that message opens would
// need to run the task at once, not at its timer.
TEST(MessagePumpForUITest, ADelayedTaskThatFellDueQueuesAWorkMessageBeforeTheNextMessage) {
  const UINT kFirst = WM_APP + 12;
  const UINT kNext = WM_APP + 13;
  MessageLoop loop(MessageLoop::TYPE_UI);
  HWND pump_window = static_cast<MessagePumpForUI*>(loop.pump())->message_hwnd();
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  int tasks_run = 0, tasks_run_at_next = -1;
  bool work_message_before_next = false;
  HWND self = nullptr;
  TestWindow window(Bind(
      [](SequencedTaskRunner* runner, HWND* self, HWND pump_window, int* tasks_run,
         int* tasks_run_at_next, bool* work_message_before_next, UINT message) {
        if (message == kFirst) {
          const TimeDelta delay = TimeDelta::FromMilliseconds(1);
          for (int i = 0; i < 2; ++i)
            runner->PostDelayedTask(FROM_HERE, Bind([](int* tasks_run) { ++*tasks_run; },
                                                     tasks_run),
                                    delay);
          PostMessageW(*self, kNext, 0, 0);
          // Both are due before this message's handling ends, however loaded the machine.
          const TimeTicks due = TimeTicks::Now() + delay * 2;
          while (TimeTicks::Now() < due) {
          }
        } else if (message == kNext) {
          *tasks_run_at_next = *tasks_run;
          *work_message_before_next = WorkMessageQueued(pump_window);
        }
      },
      runner.get(), &self, pump_window, &tasks_run, &tasks_run_at_next,
      &work_message_before_next));
  self = window.hwnd();
  PostMessageW(window.hwnd(), kFirst, 0, 0);
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  ASSERT_EQ(1, tasks_run_at_next) << "the order this case relies on did not happen";
  EXPECT_TRUE(work_message_before_next);
  EXPECT_EQ(2, tasks_run);
}

int ProblemCount(MessageLoopProblem problem) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram("Base.MessageLoopProblem");
  return histogram ? histogram->SnapshotSamples()->GetCount(problem) : 0;
}

// WM_QUIT ends the pump's run, is counted as a problem and stays in the queue for the
// code around it.
TEST(MessagePumpForUITest, WmQuitEndsRunAndIsPassedOn) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  int quits_before = ProblemCount(RECEIVED_WM_QUIT_ERROR);
  loop.task_runner()->PostTask(FROM_HERE, Bind([] { PostQuitMessage(7); }));
  RunLoop run_loop;
  run_loop.Run();
  EXPECT_EQ(quits_before + 1, ProblemCount(RECEIVED_WM_QUIT_ERROR));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(7u, msg.wParam);
}

// A failed wake-up post is counted and leaves the pump free to try again.
TEST(MessagePumpForUITest, FailedWorkMessagePostIsCountedAndRetried) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  int failures_before = ProblemCount(MESSAGE_POST_ERROR);
  MessagePumpForUI* pump = static_cast<MessagePumpForUI*>(loop.pump());
  loop.task_runner()->PostTask(FROM_HERE, Bind(
                                              [](MessagePumpForUI* pump) {
                                                // No window: every post fails.
                                                DestroyWindow(pump->message_hwnd());
                                                pump->ScheduleWork();
                                                pump->ScheduleWork();
                                              },
                                              pump));
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(failures_before + 2, ProblemCount(MESSAGE_POST_ERROR));
}

class QuitOnKey : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& msg) override {
    ++seen;
    if (msg.message == WM_APP + 7)
      return POST_DISPATCH_QUIT_LOOP;
    return POST_DISPATCH_NONE;
  }
  int seen = 0;
};

TEST(MessagePumpForUITest, DispatcherDecidesAndCanQuit) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  int handled = 0;
  TestWindow window(Bind([](int* handled, UINT) { ++*handled; }, &handled));
  QuitOnKey dispatcher;
  PostMessageW(window.hwnd(), WM_APP + 3, 0, 0);
  PostMessageW(window.hwnd(), WM_APP + 7, 0, 0);
  RunLoop run_loop(&dispatcher);
  run_loop.Run();
  EXPECT_EQ(2, dispatcher.seen);
  // Neither message reached the window: the dispatcher kept them.
  EXPECT_EQ(0, handled);
}

LONG WINAPI TakeException(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == 0xE0000042 ? EXCEPTION_EXECUTE_HANDLER
                                                            : EXCEPTION_CONTINUE_SEARCH;
}

// The message window's procedure runs under the process-wide window-procedure filter.
TEST(MessageWindowTest, ExceptionInCallbackReachesWindowProcFilter) {
  MessageWindow window;
  ASSERT_TRUE(window.Create(Bind([](UINT message, WPARAM, LPARAM, LRESULT* result) {
    if (message == WM_APP + 1)
      RaiseException(0xE0000042, 0, 0, nullptr);
    if (message == WM_APP + 2) {
      *result = 42;
      return true;
    }
    return false;
  })));
  WindowProcExceptionFilter previous = SetWindowProcExceptionFilter(&TakeException);
  EXPECT_EQ(0, SendMessageW(window.hwnd(), WM_APP + 1, 0, 0));
  EXPECT_EQ(42, SendMessageW(window.hwnd(), WM_APP + 2, 0, 0));
  SetWindowProcExceptionFilter(previous);
}

}  // namespace
}  // namespace base
