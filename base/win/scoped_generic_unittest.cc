#include "base/win/scoped_generic.h"

#include <string.h>
#include <winhttp.h>

#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace base {
namespace {

// Records what it frees and, like a real close, overwrites the thread's last error.
std::vector<int>* g_freed = nullptr;

struct RecordingTraits {
  static int InvalidValue() { return -1; }
  static void Free(int value) {
    g_freed->push_back(value);
    SetLastError(ERROR_INVALID_HANDLE);
  }
};
typedef ScopedGeneric<int, RecordingTraits> ScopedRecorded;

class ScopedGenericTest : public testing::Test {
 protected:
  void SetUp() override { g_freed = &freed_; }
  void TearDown() override { g_freed = nullptr; }
  std::vector<int> freed_;
};

TEST_F(ScopedGenericTest, ResetFreesTheOldValueOnceAndTakeFreesNothing) {
  {
    ScopedRecorded value(1);
    value.Reset(1);  // the value already held: nothing happens
    EXPECT_TRUE(freed_.empty());
    value.Reset(2);
    EXPECT_EQ(std::vector<int>({1}), freed_);
    EXPECT_EQ(2, value.Take());
    EXPECT_FALSE(value.IsValid());
    *value.Receive() = 3;
    *value.Receive() = 4;  // frees 3 before handing out the address
    EXPECT_EQ(std::vector<int>({1, 3}), freed_);
  }
  EXPECT_EQ(std::vector<int>({1, 3, 4}), freed_) << "the destructor frees what is held";
}

TEST_F(ScopedGenericTest, MovingHandsOverOwnershipWithoutFreeing) {
  ScopedRecorded first(1);
  ScopedRecorded second(std::move(first));
  EXPECT_FALSE(first.IsValid());
  EXPECT_EQ(1, second.Get());
  ScopedRecorded third(3);
  third = std::move(second);
  EXPECT_EQ(std::vector<int>({3}), freed_) << "the target's own value is freed";
  EXPECT_EQ(1, third.Get());
  third = std::move(third);
  EXPECT_EQ(1, third.Get()) << "moving onto itself keeps the value";
  EXPECT_EQ(std::vector<int>({3}), freed_);
}

TEST_F(ScopedGenericTest, FreeingKeepsTheThreadsLastError) {
  ScopedRecorded value(1);
  SetLastError(ERROR_FILE_NOT_FOUND);
  value.Reset();
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  {
    ScopedRecorded destroyed(2);
    SetLastError(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(std::vector<int>({1, 2}), freed_);
}

TEST(ScopedGenericFamiliesTest, FailedFindKeepsItsErrorAndHoldsNothing) {
  WIN32_FIND_DATAW data;
  ScopedFindHandle find(FindFirstFileW(L"C:\\no such folder\\*", &data));
  EXPECT_FALSE(find.IsValid());
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST(ScopedGenericFamiliesTest, RegistryKeyIsClosed) {
  HKEY raw = nullptr;
  {
    ScopedHKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.Receive()));
    raw = key.Get();
    DWORD subkeys = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr));
  }
  DWORD subkeys = 0;
  EXPECT_EQ(ERROR_INVALID_HANDLE,
            RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST(ScopedGenericFamiliesTest, PropVariantIsClearedAndEmptyCountsAsNothingHeld) {
  ScopedPropVariant value;
  EXPECT_FALSE(value.IsValid());
  const wchar_t kText[] = L"Velum";
  PROPVARIANT* out = value.Receive();
  out->vt = VT_LPWSTR;
  out->pwszVal = static_cast<wchar_t*>(CoTaskMemAlloc(sizeof(kText)));
  memcpy(out->pwszVal, kText, sizeof(kText));
  EXPECT_TRUE(value.IsValid());
  ScopedPropVariant moved(std::move(value));
  EXPECT_FALSE(value.IsValid());
  EXPECT_STREQ(kText, moved.Get().pwszVal);
  moved.Reset();
  EXPECT_EQ(VT_EMPTY, moved.Get().vt);
}

TEST(ScopedGenericFamiliesTest, MappedViewIsUnmapped) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      nullptr);
  ASSERT_NE(nullptr, mapping);
  void* address = nullptr;
  {
    ScopedMappedView view(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_TRUE(view.IsValid());
    address = view.Get();
    static_cast<char*>(address)[0] = 1;
  }
  CloseHandle(mapping);
  MEMORY_BASIC_INFORMATION information = {};
  ASSERT_NE(0u, VirtualQuery(address, &information, sizeof(information)));
  EXPECT_EQ(static_cast<DWORD>(MEM_FREE), information.State);
}

TEST(ScopedGenericFamiliesTest, WinHttpHandleIsClosed) {
  HINTERNET raw = nullptr;
  {
    ScopedWinHttpHandle session(WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    ASSERT_TRUE(session.IsValid());
    raw = session.Get();
    EXPECT_TRUE(WinHttpSetTimeouts(raw, 1000, 1000, 1000, 1000));
  }
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(WinHttpSetTimeouts(raw, 1000, 1000, 1000, 1000));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// A bitmap whose owner ends is gone; moving the owner hands the bitmap over intact.
TEST(ScopedGenericFamiliesTest, BitmapIsDeletedByItsLastOwner) {
  HBITMAP raw = CreateBitmap(4, 4, 1, 32, nullptr);
  ASSERT_NE(nullptr, raw);
  {
    ScopedBitmap target;
    {
      ScopedBitmap first(raw);
      target = std::move(first);
    }
    EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(raw)) << "the moved-from owner";
    EXPECT_EQ(raw, target.Get());
  }
  EXPECT_EQ(0u, GetObjectType(raw));
}

// The DC gets its previous object back when the selection ends, also after a move, and
// a failed selection holds nothing to restore.
TEST(ScopedGenericFamiliesTest, SelectionPutsThePreviousObjectBack) {
  ScopedGetDC screen(nullptr);
  ASSERT_TRUE(screen.IsValid());
  ScopedCreateDC dc(CreateCompatibleDC(screen.dc()));
  ASSERT_TRUE(dc.IsValid());
  const HGDIOBJ original = GetCurrentObject(dc.Get(), OBJ_BITMAP);
  ScopedBitmap first(CreateCompatibleBitmap(screen.dc(), 4, 4));
  ScopedBitmap second(CreateCompatibleBitmap(screen.dc(), 4, 4));
  {
    ScopedSelectObject outer(dc.Get(), first.Get());
    EXPECT_TRUE(outer.IsValid());
    EXPECT_EQ(first.Get(), GetCurrentObject(dc.Get(), OBJ_BITMAP));
    {
      ScopedSelectObject inner(dc.Get(), second.Get());
      ScopedSelectObject moved(std::move(inner));
      EXPECT_FALSE(inner.IsValid());
      EXPECT_EQ(second.Get(), GetCurrentObject(dc.Get(), OBJ_BITMAP));
    }
    EXPECT_EQ(first.Get(), GetCurrentObject(dc.Get(), OBJ_BITMAP));
  }
  EXPECT_EQ(original, GetCurrentObject(dc.Get(), OBJ_BITMAP));
  EXPECT_FALSE(ScopedSelectObject(nullptr, first.Get()).IsValid());
  EXPECT_FALSE(ScopedSelectObject(dc.Get(), nullptr).IsValid());
  EXPECT_EQ(original, GetCurrentObject(dc.Get(), OBJ_BITMAP));
}

TEST(ScopedGenericFamiliesTest, WindowDCMovesAndEmptyHoldsNothing) {
  ScopedGetDC screen(nullptr);
  ASSERT_TRUE(screen.IsValid());
  const HDC dc = screen.dc();
  ScopedGetDC other(std::move(screen));
  EXPECT_FALSE(screen.IsValid());
  EXPECT_EQ(dc, other.dc());
  EXPECT_NE(0, GetDeviceCaps(other.dc(), LOGPIXELSY));
}

// Only a join that succeeded is left again: a refused one (another apartment kind) must
// not take the thread out of the apartment it was already in.
TEST(ScopedGenericFamiliesTest, ComInitializerLeavesOnlyWhatItJoined) {
  std::thread([] {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
      ScopedComInitializer refused(COINIT_APARTMENTTHREADED);
      EXPECT_FALSE(refused.IsValid());
      EXPECT_EQ(RPC_E_CHANGED_MODE, refused.Get());
    }
    {
      ScopedComInitializer joined_again(COINIT_MULTITHREADED);
      EXPECT_TRUE(joined_again.IsValid()) << "S_FALSE is paired too";
    }
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    EXPECT_EQ(S_OK, CoGetApartmentType(&type, &qualifier));
    EXPECT_EQ(APTTYPE_MTA, type);
    CoUninitialize();
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoGetApartmentType(&type, &qualifier))
        << "the owners left exactly what they joined";
  }).join();
}

}  // namespace
}  // namespace base
