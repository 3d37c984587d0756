// This executable exports "GetHandleVerifier", as a host may: its verifier tracks every
// handle, and a library loaded into it uses this verifier instead of its own.
#include <utility>

#include <gtest/gtest.h>

#include "base/win/handle_verifier.h"
#include "base/win/scoped_handle.h"

extern "C" __declspec(dllexport) base::HandleVerifier* GetHandleVerifier() {
  return base::GetHandleVerifier();
}

namespace base {
namespace {

// The test main turns the verifier's deliberate crash into this report.
const char kCrashed[] = "unhandled exception";

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(HandleVerifierTest, MainExecutableVerifierServesTheLibraryToo) {
  EXPECT_EQ(GetModuleHandleW(nullptr), GetHandleVerifier()->GetModule());
  EXPECT_EQ(GetHandleVerifier(), ::GetHandleVerifier());
  HMODULE library = LoadLibraryW(L"velum_installer.dll");
  ASSERT_NE(nullptr, library) << GetLastError();
  auto library_verifier = reinterpret_cast<GetHandleVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetHandleVerifier")));
  ASSERT_NE(nullptr, library_verifier);
  EXPECT_EQ(GetHandleVerifier(), library_verifier());
  FreeLibrary(library);
}

TEST(HandleVerifierTest, OwnersTrackAndReleaseNormally) {
  ScopedHandle first(NewEvent());
  ScopedHandle second(std::move(first));
  HANDLE raw = second.Take();
  ScopedHandle third(raw);
  third.Set(NewEvent());
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_TRUE(third.Close());
}

TEST(HandleVerifierTest, TrackingIsNotBoundToAThread) {
  ScopedHandle handle(NewEvent());
  HANDLE raw = handle.Get();
  ScopedHandle* holder = &handle;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        return static_cast<ScopedHandle*>(parameter)->Close() ? 0 : 1;
      },
      holder, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ScopedHandle thread_holder(thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  DWORD exit_code = 99;
  GetExitCodeThread(thread, &exit_code);
  EXPECT_EQ(0u, exit_code);
  EXPECT_FALSE(IsOpen(raw));
}

TEST(HandleVerifierTest, OwnersKeepTheLastError) {
  HANDLE raw = NewEvent();
  SetLastError(ERROR_FILE_NOT_FOUND);
  ScopedHandle handle(raw);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  raw = NewEvent();
  SetLastError(ERROR_ACCESS_DENIED);
  handle.Set(raw);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  SetLastError(ERROR_BAD_FORMAT);
  handle.Set(nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), GetLastError());
  handle.Set(NewEvent());
  SetLastError(ERROR_PATH_NOT_FOUND);
  { ScopedHandle moved(std::move(handle)); }  // take, track, untrack and close
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

// A failed close is fatal except for this one case, which must not claim success.
TEST(HandleVerifierTest, ProtectedProcessHandleStaysOpenAndReportsFalse) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  ASSERT_NE(nullptr, process);
  ASSERT_TRUE(SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE,
                                   HANDLE_FLAG_PROTECT_FROM_CLOSE));
  ScopedHandle handle(process);
  EXPECT_FALSE(handle.Close());
  EXPECT_FALSE(handle.IsValid());
  EXPECT_TRUE(IsOpen(process));

  EXPECT_FALSE(CloseHandleWithDiagnostics(process));
  EXPECT_TRUE(IsOpen(process));

  ASSERT_TRUE(SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0));
  EXPECT_TRUE(CloseHandleVerified(process));
  EXPECT_FALSE(IsOpen(process));
}

TEST(HandleVerifierDeathTest, MisuseCrashes) {
  EXPECT_DEATH(
      {
        ScopedHandle first(NewEvent());
        ScopedHandle second(first.Get());
      },
      kCrashed)
      << "tracked twice";
  EXPECT_DEATH(
      {
        ScopedHandle handle(NewEvent());
        int other_owner = 0;
        StopTrackingHandle(handle.Get(), &other_owner, nullptr, nullptr);
      },
      kCrashed)
      << "released by the wrong owner";
  EXPECT_DEATH(
      {
        int owner = 0;
        StopTrackingHandle(NewEvent(), &owner, nullptr, nullptr);
      },
      kCrashed)
      << "released without tracking";
  EXPECT_DEATH(
      {
        ScopedHandle handle(NewEvent());
        GetHandleVerifier()->OnHandleBeingClosed(handle.Get());
      },
      kCrashed)
      << "closed behind its owner's back";
  // Not a handle of this process (a closed one could be reused at once).
  EXPECT_DEATH((void)CloseHandleVerified(reinterpret_cast<HANDLE>(0x7FFF1230)), kCrashed)
      << "failed close of an ordinary handle";
}

TEST(HandleVerifierTest, UntrackedHandleMayBeClosedByAnyone) {
  HANDLE raw = NewEvent();
  GetHandleVerifier()->OnHandleBeingClosed(raw);
  EXPECT_TRUE(CloseHandleVerified(raw));
}

}  // namespace
}  // namespace base
