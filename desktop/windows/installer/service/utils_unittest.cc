#include "desktop/windows/installer/service/utils.h"

#include <windows.h>

#include <objbase.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/test_helper_process.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/service/fake_com_object_test_util.h"
#include "desktop/windows/installer/service/product_values.h"

// The fakes' base answers its interface's own id: none of the ids the code asks for.
__CRT_UUID_DECL(installer::IAssociationRegistrationInternal, 0x0b1e0f0e, 0x5a5a, 0x4c4c, 0x9d,
                0x9d, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55)

namespace installer {
namespace {

TEST(UtilsTest, KernelObjectNamesUseForwardSlashes) {
  EXPECT_EQ(L"Global\\Installer/Events/D:/Programs/Browser",
            GetKernelObjectName(L"D:\\Programs\\Browser", L"Installer\\Events", true));
  EXPECT_EQ(L"Local\\Installer/Events/D:/Programs/Browser",
            GetKernelObjectName(L"D:\\Programs\\Browser", L"Installer\\Events", false));
}

TEST(UtilsTest, ValidPaths) {
  const std::wstring long_folder = L"D:\\" + std::wstring(245, L'a');  // 248 characters
  const struct {
    std::wstring path;
    bool is_folder;
    const char* reason;  // what the log says of an invalid one; null for a valid one
  } cases[] = {
      {L"", true, "empty"},
      {L"D:", true, nullptr},
      {L"D:\\", true, nullptr},
      {L"D:\\Programs\\Velum", true, nullptr},
      {L"\\\\server\\share", true, "no server and share"},
      {L"\\\\server\\share\\dir", true, nullptr},
      {L"\\\\server\\\\dir", true, "no server and share"},
      {L"D:\\con.txt\\x", true, "device name"},
      {L"D:\\CON", true, "device name"},
      {L"D:\\lpt1.log", false, "device name"},
      {L"D:\\com5", true, nullptr},
      {L"D:\\console", true, nullptr},
      {L"D:\\a.\\b", true, "trailing dot or blank"},
      {L"D:\\a \\b", true, "trailing dot or blank"},
      {L"D:\\ a\\b", true, "leading blank"},
      {L"D:\\a?b", true, "illegal character"},
      {L"D:\\a:b", true, "illegal character"},
      {L"D:\\a\x1f" L"b", true, "illegal character"},
      {L"D:\\a|b", true, "illegal character"},
      {L"relative\\dir", true, nullptr},
      {long_folder, true, "too long"},
      {long_folder, false, nullptr},
      {L"D:\\" + std::wstring(257, L'a'), false, "too long"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(!c.reason, IsValidPath(c.path, c.is_folder)) << c.path.size() << " " << c.is_folder;
    const char* reason = GetInvalidPathReason(c.path, c.is_folder);
    EXPECT_EQ(std::string(c.reason ? c.reason : ""), std::string(reason ? reason : ""))
        << c.path.size();
  }
}

TEST(UtilsTest, StreamNames) {
  EXPECT_EQ("Nightly", GetStreamNameFor(1));
  EXPECT_EQ("Next", GetStreamNameFor(3));
  EXPECT_EQ(GetChannelName(), GetStreamNameFor(5));
}

// A minimal image: the DOS header with the offset of the PE header, then the header.
std::string Image(int32_t header_offset, uint16_t machine, size_t size) {
  std::string bytes(size, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  memcpy(&bytes[0x3C], &header_offset, sizeof(header_offset));
  if (header_offset >= 0 && static_cast<size_t>(header_offset) + 6 <= size) {
    memcpy(&bytes[header_offset], "PE\0\0", 4);
    memcpy(&bytes[header_offset + 4], &machine, sizeof(machine));
  }
  return bytes;
}

TEST(UtilsTest, ExecutableArchitecture) {
  base::ScratchDir scratch;
  const struct {
    const wchar_t* name;
    std::string contents;
    ExecutableArchitecture expected;
  } cases[] = {
      {L"x86.exe", Image(0x80, 0x14C, 0x100), EXECUTABLE_X86},
      {L"x64.exe", Image(0x80, 0x8664, 0x100), EXECUTABLE_OTHER_MACHINE},
      {L"arm.exe", Image(0x40, 0xAA64, 0x46), EXECUTABLE_OTHER_MACHINE},
      {L"text.txt", "just text, long enough to hold the offset field somewhere in it.....",
       EXECUTABLE_NOT_AN_IMAGE},
      {L"empty.exe", "", EXECUTABLE_NOT_AN_IMAGE},
      {L"short.exe", "MZ", EXECUTABLE_NOT_AN_IMAGE},
      {L"outside.exe", Image(0xFC, 0x14C, 0x100), EXECUTABLE_NOT_AN_IMAGE},
      {L"negative.exe", Image(-4, 0x14C, 0x100), EXECUTABLE_NOT_AN_IMAGE},
  };
  for (const auto& c : cases) {
    const base::FilePath path = scratch.path().Append(c.name);
    ASSERT_TRUE(base::WriteTextFile(path, c.contents));
    EXPECT_EQ(c.expected, GetExecutableArchitecture(path)) << c.name;
  }
  EXPECT_EQ(EXECUTABLE_NOT_AN_IMAGE, GetExecutableArchitecture(scratch.path().Append(L"none")));
  EXPECT_EQ(EXECUTABLE_OTHER_MACHINE,
            GetExecutableArchitecture(base::FilePath(base::TestExeSibling(
                L"desktop_windows_installer_service_unittests.exe"))));
}

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

TEST(UtilsTest, AssociationRegistrationTakesTheFirstInterfaceThatAnswers) {
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

TEST(UtilsTest, SetDefaultCallsTheThirdMethod) {
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

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ShortcutTest, ShortcutsMatchTheirTargetIgnoringCaseOrByFileIdentity) {
  base::ScratchDir scratch;
  const base::FilePath target = scratch.path().Append(L"Velum.exe");
  const base::FilePath link_target = scratch.path().Append(L"hard-link.exe");
  ASSERT_TRUE(base::WriteTextFile(target, "program"));
  ASSERT_TRUE(CreateHardLinkW(link_target.value().c_str(), target.value().c_str(), nullptr));

  const base::FilePath upper = scratch.path().Append(L"upper.lnk");
  const base::FilePath linked = scratch.path().Append(L"linked.lnk");
  base::ShortcutProperties properties;
  properties.set_target(base::FilePath(scratch.path().Append(L"VELUM.EXE")));
  ASSERT_TRUE(base::CreateOrUpdateShortcut(upper, properties, base::SHORTCUT_CREATE_ALWAYS));
  properties.set_target(link_target);
  ASSERT_TRUE(base::CreateOrUpdateShortcut(linked, properties, base::SHORTCUT_CREATE_ALWAYS));

  BY_HANDLE_FILE_INFORMATION information;
  ASSERT_TRUE(GetFileInformation(target, &information));
  EXPECT_TRUE(TestShortcut(upper, target, nullptr));
  EXPECT_FALSE(TestShortcut(linked, target, nullptr));
  EXPECT_TRUE(TestShortcut(linked, target, &information));
  EXPECT_FALSE(TestShortcut(scratch.path().Append(L"missing.lnk"), target, &information));
  EXPECT_FALSE(TestShortcut(base::FilePath(), target, &information));
}

}  // namespace
}  // namespace installer
