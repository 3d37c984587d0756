// This executable exports no "GetHandleVerifier": its verifier tracks nothing, and
// handles still open and close normally. The tracking checks run in host_verifier/.
#include "base/win/scoped_handle.h"

#include <utility>

#include <gtest/gtest.h>

#include "base/win/handle_verifier.h"

namespace base {
namespace {

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(ScopedHandleTest, SetClosesTheOldHandleAndTakeDoesNot) {
  HANDLE first = NewEvent();
  HANDLE second = NewEvent();
  ScopedHandle handle(first);
  handle.Set(first);  // the same handle again: nothing happens
  EXPECT_TRUE(IsOpen(first));
  handle.Set(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_EQ(second, handle.Get());
  handle.Set(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(handle.IsValid()) << "null and invalid values leave the holder empty";
  EXPECT_EQ(nullptr, handle.Get());
  EXPECT_TRUE(handle.Close());
  EXPECT_FALSE(ScopedHandle(nullptr).IsValid());

  HANDLE taken = NewEvent();
  handle.Set(taken);
  EXPECT_EQ(taken, handle.Take());
  EXPECT_FALSE(handle.IsValid());
  EXPECT_TRUE(IsOpen(taken)) << "Take hands the handle out without closing it";
  EXPECT_TRUE(CloseHandleVerified(taken));
}

TEST(ScopedHandleTest, MovesLeaveTheSourceEmptyAndDestructionCloses) {
  HANDLE raw = NewEvent();
  ScopedHandle first(raw);
  ScopedHandle second(std::move(first));
  EXPECT_FALSE(first.IsValid());
  EXPECT_EQ(raw, second.Get());
  ScopedHandle third;
  third = std::move(second);
  EXPECT_FALSE(second.IsValid());
  EXPECT_EQ(raw, third.Get());
  third = std::move(third);
  EXPECT_EQ(raw, third.Get());
  EXPECT_TRUE(IsOpen(raw));
  { ScopedHandle last(std::move(third)); }
  EXPECT_FALSE(IsOpen(raw)) << "destruction closes";
}

TEST(ScopedHandleTest, CloseCheckedClosesAndEmptiesTheHolder) {
  HANDLE raw = NewEvent();
  ScopedHandle handle(raw);
  EXPECT_TRUE(handle.CloseChecked());
  EXPECT_FALSE(handle.IsValid());
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_TRUE(handle.CloseChecked()) << "an empty holder has nothing to fail";
}

TEST(HandleVerifierWithoutExportTest, ViolationsAreIgnored) {
  HandleVerifier* verifier = GetHandleVerifier();
  EXPECT_EQ(verifier, GetHandleVerifier());
  EXPECT_EQ(GetModuleHandleW(nullptr), verifier->GetModule());
  ScopedHandle handle(NewEvent());
  int other_owner = 0;
  StartTrackingHandle(handle.Get(), &other_owner, nullptr, nullptr);  // tracked twice
  StopTrackingHandle(handle.Get(), &other_owner, nullptr, nullptr);   // wrong owner
  verifier->OnHandleBeingClosed(handle.Get());
  EXPECT_TRUE(handle.Close());
}

TEST(HandleVerifierWithoutExportTest, LibraryKeepsItsOwnVerifier) {
  HMODULE library = LoadLibraryW(L"velum_installer.dll");
  ASSERT_NE(nullptr, library) << GetLastError();
  auto library_verifier = reinterpret_cast<GetHandleVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetHandleVerifier")));
  ASSERT_NE(nullptr, library_verifier);
  HandleVerifier* verifier = library_verifier();
  EXPECT_NE(GetHandleVerifier(), verifier);
  EXPECT_EQ(library, verifier->GetModule());
  EXPECT_EQ(verifier, library_verifier());
  FreeLibrary(library);
}

}  // namespace
}  // namespace base
