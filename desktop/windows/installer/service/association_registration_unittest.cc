#include "desktop/windows/installer/service/association_registration.h"

#include <windows.h>

#include <objbase.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desktop/windows/installer/service/fake_com_object_test_util.h"

// The fakes' base answers its interface's own id: none of the ids the code asks for.
__CRT_UUID_DECL(installer::IAssociationRegistrationInternal, 0x0b1e0f0e, 0x5a5a, 0x4c4c, 0x9d,
                0x9d, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55)

namespace installer {
namespace {

// The association object: it answers only the internal interface |answered| (by index
// into the known ids) and records the default it is asked to set.
class FakeAssociation final : public testing::FakeUnknown<IAssociationRegistrationInternal> {
 public:
  explicit FakeAssociation(int answered) : answered_(answered) {}
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefault(const wchar_t* application, const wchar_t* name,
                                       BOOL is_extension) override {
    calls.push_back(std::wstring(application) + L"|" + name + L"|" +
                    (is_extension ? L"extension" : L"protocol"));
    return S_OK;
  }
  std::vector<std::wstring> calls;
  std::vector<int> asked;

 private:
  void* QueryOther(REFIID iid) override {
    static const wchar_t* const kIds[] = {
        L"{5E35B9FB-FB98-4565-8E0D-B7468DA31B81}", L"{14ebcc88-2831-4fc8-a5df-9f36a81db12c}",
        L"{1C5C9D10-1225-4C97-8C51-98E1B6F0D4E0}", L"{229D59E2-F94A-402E-9A9F-3B84A1ACED77}",
        L"{C7225171-B9A7-4CF7-861F-85AB7BA3C5B2}"};
    for (int i = 0; i < 5; ++i) {
      IID known;
      IIDFromString(kIds[i], &known);
      if (!IsEqualIID(iid, known)) continue;
      asked.push_back(i);
      return i == answered_ ? static_cast<IAssociationRegistrationInternal*>(this) : nullptr;
    }
    return nullptr;
  }

  int answered_;
};

ComObjectFactory FactoryOf(FakeAssociation* fake) {
  return [fake](REFCLSID, DWORD, REFIID, void** object) -> HRESULT {
    if (!fake) return REGDB_E_CLASSNOTREG;
    fake->AddRef();
    *object = static_cast<IUnknown*>(fake);
    return S_OK;
  };
}

TEST(AssociationRegistrationTest, AssociationRegistrationTakesTheFirstInterfaceThatAnswers) {
  EXPECT_FALSE(HasAssociationRegistration(FactoryOf(nullptr)));
  for (int answered : {0, 2, 4, 5}) {
    FakeAssociation* fake = new FakeAssociation(answered);
    EXPECT_EQ(answered < 5, HasAssociationRegistration(FactoryOf(fake))) << answered;
    std::vector<int> expected;
    for (int i = 0; i <= answered && i < 5; ++i) expected.push_back(i);
    EXPECT_EQ(expected, fake->asked);
    fake->Release();
  }
}

TEST(AssociationRegistrationTest, SetDefaultCallsTheThirdMethod) {
  FakeAssociation* fake = new FakeAssociation(3);
  EXPECT_TRUE(SetDefaultThroughAssociationRegistration(L"VelumHTML", L".html", false,
                                                       FactoryOf(fake)));
  EXPECT_TRUE(SetDefaultThroughAssociationRegistration(L"VelumHTML", L"https", true,
                                                       FactoryOf(fake)));
  EXPECT_EQ((std::vector<std::wstring>{L"VelumHTML|.html|extension", L"VelumHTML|https|protocol"}),
            fake->calls);
  fake->Release();
  EXPECT_FALSE(SetDefaultThroughAssociationRegistration(L"VelumHTML", L".html", false,
                                                        FactoryOf(nullptr)));
}

}  // namespace
}  // namespace installer
