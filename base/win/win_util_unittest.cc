#include "base/win/win_util.h"

#include <string>

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"

namespace base {
namespace {

TEST(InstrumentedImageTest, OrdinaryImagesAreNotInstrumented) {
  EXPECT_FALSE(IsInstrumentedImage());
  EXPECT_FALSE(ImageHasInstrumentationSections(GetModuleHandleW(nullptr)));
  EXPECT_FALSE(ImageHasInstrumentationSections(GetModuleHandleW(L"kernel32.dll")));
  EXPECT_FALSE(ImageHasInstrumentationSections(nullptr));
}

TEST(InstrumentedImageTest, ImageWithBothSectionsIsInstrumented) {
  EXPECT_EQ(0, RunTestHelper(L"instrumented_image_test_helper.exe", L""));
}

// Mitigation queries for the table below.
BOOL WINAPI QueryFails(HANDLE, int, void*, SIZE_T) { return FALSE; }
BOOL WINAPI QueryWritesNothing(HANDLE, int, void*, SIZE_T) { return TRUE; }
BOOL WINAPI QueryDisallows(HANDLE, int policy, void* buffer, SIZE_T length) {
  if (policy != 4 || length != 4) return FALSE;
  *static_cast<DWORD*>(buffer) = 0x1;
  return TRUE;
}
BOOL WINAPI QueryOtherBits(HANDLE, int, void* buffer, SIZE_T) {
  *static_cast<DWORD*>(buffer) = 0xFFFFFFFE;
  return TRUE;
}

TEST(Win32kTest, AvailableUnlessThePolicyForbidsIt) {
  const struct {
    OsVersion version;
    GetProcessMitigationPolicyFunction query;
    bool available;
  } cases[] = {
      {OS_VERSION_WIN10_1607, &QueryDisallows, false},
      {OS_VERSION_WIN8, &QueryDisallows, false},
      {OS_VERSION_WIN7, &QueryDisallows, true},  // the policy does not exist there
      {OS_VERSION_WIN10, nullptr, true},
      {OS_VERSION_WIN10, &QueryFails, true},
      {OS_VERSION_WIN10, &QueryWritesNothing, true},
      {OS_VERSION_WIN10, &QueryOtherBits, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.available, IsWin32kAvailable(c.version, c.query)) << c.version;
  EXPECT_TRUE(IsWin32kAvailableForProcess());
}

// Records what the helpers write; answers SetValue with |set_result|.
class FakePropertyStore : public IPropertyStore {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
    ++set_calls;
    key_ = key;
    type = value.vt;
    if (value.vt == VT_LPWSTR) text = value.pwszVal;
    if (value.vt == VT_BOOL) flag = value.boolVal;
    return set_result;
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    ++commits;
    return commit_result;
  }

  const PROPERTYKEY& key() const { return key_; }

  HRESULT set_result = S_OK;
  HRESULT commit_result = S_OK;
  int set_calls = 0;
  int commits = 0;
  VARTYPE type = VT_EMPTY;
  std::wstring text;
  VARIANT_BOOL flag = 1;

 private:
  PROPERTYKEY key_ = {};
};

const GUID kAppUserModel = {
    0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};

TEST(PropertyStoreTest, AppIdAsTextAndDualModeAsBooleanEachCommitted) {
  FakePropertyStore store;
  EXPECT_FALSE(SetAppIdForPropertyStore(&store, nullptr));
  EXPECT_EQ(0, store.set_calls) << "a null app id fails without touching the store";
  EXPECT_TRUE(SetAppIdForPropertyStore(&store, L"Velum.Browser.Stable"));
  EXPECT_TRUE(IsEqualGUID(kAppUserModel, store.key().fmtid));
  EXPECT_EQ(5u, store.key().pid);
  EXPECT_EQ(VT_LPWSTR, store.type);
  EXPECT_EQ(L"Velum.Browser.Stable", store.text);
  EXPECT_EQ(1, store.commits);
  for (bool dual_mode : {true, false}) {
    EXPECT_TRUE(SetDualModeForPropertyStore(&store, dual_mode));
    EXPECT_TRUE(IsEqualGUID(kAppUserModel, store.key().fmtid));
    EXPECT_EQ(11u, store.key().pid);
    EXPECT_EQ(VT_BOOL, store.type);
    EXPECT_EQ(dual_mode ? VARIANT_TRUE : VARIANT_FALSE, store.flag);
  }
  EXPECT_EQ(3, store.commits);
}

TEST(PropertyStoreTest, CommitOnlyAfterPlainSuccess) {
  const struct {
    HRESULT set_result;
    HRESULT commit_result;
    int commits;
    bool result;
  } cases[] = {
      {S_FALSE, S_OK, 0, true},  // a success code other than S_OK: no commit, still true
      {E_FAIL, S_OK, 0, false},
      {S_OK, E_ACCESSDENIED, 1, false},
  };
  for (const auto& c : cases) {
    FakePropertyStore store;
    store.set_result = c.set_result;
    store.commit_result = c.commit_result;
    EXPECT_EQ(c.result, SetDualModeForPropertyStore(&store, true)) << c.set_result;
    EXPECT_EQ(c.commits, store.commits) << c.set_result;
  }
}

TEST(BitmapFailureDeathTest, DiagnosisEndsTheProcess) {
  EXPECT_DEATH(CrashOnBitmapAllocationFailure(nullptr, nullptr), "unhandled exception");
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = 20000;
  header.biHeight = -20000;
  header.biPlanes = 1;
  header.biBitCount = 32;
  EXPECT_DEATH(CrashOnBitmapAllocationFailure(&header, nullptr), "unhandled exception");
}

}  // namespace
}  // namespace base
