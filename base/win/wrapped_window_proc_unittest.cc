#include "base/win/wrapped_window_proc.h"

#include <gtest/gtest.h>

#include "base/win/exception_guard.h"

namespace base {
namespace {

constexpr DWORD kTestCode = 0xE000F11E;
constexpr UINT kRaiseMessage = WM_APP + 1;
constexpr UINT kAnswerMessage = WM_APP + 2;

DWORD g_filtered_code = 0;
LONG g_verdict = EXCEPTION_EXECUTE_HANDLER;

LONG WINAPI TestFilter(EXCEPTION_POINTERS* info) {
  g_filtered_code = info->ExceptionRecord->ExceptionCode;
  return g_verdict;
}

LRESULT CALLBACK TestProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRaiseMessage) {
    RaiseException(kTestCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return 1;
  }
  if (message == kAnswerMessage) return 42;
  return DefWindowProcW(window, message, wparam, lparam);
}

// An outer guard that records the code of what reached it and takes it.
LONG OuterFilter(EXCEPTION_POINTERS* info, void* context) {
  *static_cast<DWORD*>(context) = info->ExceptionRecord->ExceptionCode;
  return EXCEPTION_EXECUTE_HANDLER;
}

void CallRaisingProc(void*) { CallWindowProcGuarded(&TestProc, nullptr, kRaiseMessage, 0, 0); }

class WrappedWindowProcTest : public testing::Test {
 protected:
  void SetUp() override {
    g_filtered_code = 0;
    g_verdict = EXCEPTION_EXECUTE_HANDLER;
    previous_ = SetWindowProcExceptionFilter(&TestFilter);
  }
  void TearDown() override { SetWindowProcExceptionFilter(previous_); }
  WindowProcExceptionFilter previous_ = nullptr;
};

TEST_F(WrappedWindowProcTest, InstalledFilterTakesAnExceptionFromAWindowProcedure) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &WrappedWindowProc<TestProc>;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"VelumWrappedProcTest";
  const ATOM atom = RegisterClassExW(&window_class);
  ASSERT_TRUE(atom) << GetLastError();
  HWND window = CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, instance, nullptr);
  ASSERT_TRUE(window) << GetLastError();

  EXPECT_EQ(42, SendMessageW(window, kAnswerMessage, 0, 0));
  EXPECT_EQ(0u, g_filtered_code);
  EXPECT_EQ(0, SendMessageW(window, kRaiseMessage, 0, 0));
  EXPECT_EQ(kTestCode, g_filtered_code);

  DestroyWindow(window);
  UnregisterClassW(MAKEINTATOM(atom), instance);
}

TEST_F(WrappedWindowProcTest, ExceptionTravelsOnWithoutATakingFilter) {
  struct Case {
    const char* name;
    WindowProcExceptionFilter filter;
    WindowProcExceptionFilter previous;
  } cases[] = {{"no filter", nullptr, &TestFilter}, {"declining filter", &TestFilter, nullptr}};
  g_verdict = EXCEPTION_CONTINUE_SEARCH;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.previous, SetWindowProcExceptionFilter(c.filter));
    DWORD outer_code = 0;
    EXPECT_FALSE(RunWithExceptionGuard(&CallRaisingProc, nullptr, &OuterFilter, &outer_code));
    EXPECT_EQ(kTestCode, outer_code);
  }
  EXPECT_EQ(kTestCode, g_filtered_code);  // the declining filter was asked
}

}  // namespace
}  // namespace base
