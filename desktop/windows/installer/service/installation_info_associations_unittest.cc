#include <windows.h>

#include <objbase.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/test/log_capture_test_util.h"
#include "base/win/registry.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/association_interfaces.h"
#include "desktop/windows/installer/service/fake_com_object_test_util.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;

// Wine implements neither service: these stand in for them and note every call.
class FakeAssociationRegistration
    : public testing::FakeUnknown<IApplicationAssociationRegistration> {
 public:
  HRESULT STDMETHODCALLTYPE QueryCurrentDefault(LPCWSTR, ASSOCIATIONTYPE, ASSOCIATIONLEVEL,
                                                LPWSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE QueryAppIsDefault(LPCWSTR query, ASSOCIATIONTYPE type,
                                              ASSOCIATIONLEVEL level, LPCWSTR application,
                                              BOOL* is_default) override {
    calls.push_back(L"QueryAppIsDefault " + std::wstring(query) + L"|" +
                    std::to_wstring(type) + L"|" + std::to_wstring(level) + L"|" +
                    application);
    *is_default = answer_default;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAppIsDefaultAll(ASSOCIATIONLEVEL, LPCWSTR, BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetAppAsDefault(LPCWSTR application, LPCWSTR name,
                                            ASSOCIATIONTYPE type) override {
    calls.push_back(L"SetAppAsDefault " + std::wstring(application) + L"|" + name + L"|" +
                    std::to_wstring(type));
    return set_result;
  }
  HRESULT STDMETHODCALLTYPE SetAppAsDefaultAll(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearUserAssociations() override { return E_NOTIMPL; }

  std::vector<std::wstring> calls;
  BOOL answer_default = FALSE;
  HRESULT set_result = S_OK;
};

class FakeActivationManager : public testing::FakeUnknown<IApplicationActivationManagerWin8> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateApplication(const wchar_t* app_id, const wchar_t* arguments,
                                                int, DWORD* process_id) override {
    calls.push_back(std::wstring(app_id) + L"|" + arguments);
    *process_id = 4711;
    return result;
  }
  HRESULT STDMETHODCALLTYPE ActivateForFile(const wchar_t*, IShellItemArray*, const wchar_t*,
                                            DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ActivateForProtocol(const wchar_t*, IShellItemArray*,
                                                DWORD*) override {
    return E_NOTIMPL;
  }

  std::vector<std::wstring> calls;
  HRESULT result = S_OK;
};

const wchar_t* const kUserKeys[] = {
    L"Software\\Classes\\VelumStable",
    L"Software\\Classes\\http",
    L"Software\\Classes\\https",
    L"Software\\Classes\\ftp",
    L"Software\\Classes\\mailto",
    L"Software\\Classes\\.vlpack",
    L"Software\\Classes\\.htm",
    L"Software\\Classes\\.html",
    L"Software\\Classes\\.vlext",
    L"Software\\Classes\\.vldownload",
    L"Software\\Classes\\.shtml",
    L"Software\\Classes\\.xht",
    L"Software\\Classes\\.xhtml",
    L"Software\\Clients\\StartMenuInternet",
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http",
    L"Software\\Velum Software",
};

const wchar_t kHttpChoice[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
const wchar_t kControlPanel[] =
    L"windows.immersivecontrolpanel_cw5n1h2txyewy!microsoft.windows.immersivecontrolpanel";

std::wstring ReadString(HKEY root, const std::wstring& key_path, const wchar_t* name) {
  base::RegistryKey key;
  std::wstring value;
  if (key.Open(root, key_path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.ReadValue(name, &value) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

void WriteString(HKEY root, const std::wstring& key_path, const wchar_t* name,
                 const std::wstring& value) {
  base::RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(root, key_path.c_str(), KEY_SET_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(name, value.c_str()));
}

class AssociationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_FALSE(scratch_.path().empty());
    folder_ = scratch_.path().Append(L"Velum");
    DeleteUserKeys();
    registration_.Attach(new FakeAssociationRegistration);
    activation_.Attach(new FakeActivationManager);
    system_.os_version = base::OS_VERSION_WIN7;
    system_.create_com_object = [this](REFCLSID clsid, DWORD, REFIID iid, void** object) {
      *object = nullptr;
      if (IsEqualCLSID(clsid, kClsidApplicationAssociationRegistration) &&
          offer_registration_) {
        return registration_->QueryInterface(iid, object);
      }
      if (IsEqualCLSID(clsid, kClsidApplicationActivationManager)) {
        return activation_->QueryInterface(iid, object);
      }
      return REGDB_E_CLASSNOTREG;
    };
    system_.open_with_dialog = [this](const std::wstring& name) {
      open_with_calls_.push_back(name);
      return open_with_result_;
    };
  }
  void TearDown() override {
    DeleteUserKeys();
    CoUninitialize();
  }

  static void DeleteUserKeys() {
    for (const wchar_t* key : kUserKeys) {
      testing::ScratchRegistryKey::DeleteTree(HKEY_CURRENT_USER, key, 0);
    }
  }

  std::unique_ptr<FolderInstallationInfo> MakeInfo(bool all_users) {
    std::unique_ptr<InstallLog> record(new InstallLog(SOURCE_STATUS_FILE));
    record->all_users = all_users;
    std::unique_ptr<FolderInstallationInfo> info(
        new FolderInstallationInfo(folder_, std::move(record)));
    info->SetAssociationSystemForTesting(system_);
    return info;
  }

  base::ScratchDir scratch_;
  base::FilePath folder_;
  ComPtr<FakeAssociationRegistration> registration_;
  ComPtr<FakeActivationManager> activation_;
  bool offer_registration_ = true;
  std::vector<std::wstring> open_with_calls_;
  HRESULT open_with_result_ = S_OK;
  AssociationSystem system_;
};

// Windows 7, a per-user installation: everything through the user's registry.
TEST_F(AssociationsTest, Windows7PerUserWritesTheRegistryTables) {
  WriteString(HKEY_CURRENT_USER, kHttpChoice, L"Progid", L"OtherBrowserURL");
  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(false);
  EXPECT_FALSE(info->IsDefaultBrowser());
  const bool is_default = info->SetAsDefaultBrowser(false);
  // Windows shows the user's classes through HKEY_CLASSES_ROOT, so the closing check
  // sees the result; Wine's HKEY_CLASSES_ROOT holds the machine's classes only.
  if (!base::RunningUnderWine()) {
    EXPECT_TRUE(is_default);
  }

  const std::wstring launcher =
      L"\"" + folder_.value() + L"\\launcher.exe\" -noautoupdate -- \"%1\"";
  const struct {
    const wchar_t* key;
    const wchar_t* name;
    std::wstring value;
  } expected[] = {
      {L"Software\\Classes\\VelumStable", L"FriendlyTypeName", L"Velum Web Document"},
      {L"Software\\Classes\\VelumStable", L"URL Protocol", L""},
      {L"Software\\Classes\\VelumStable\\DefaultIcon", nullptr,
       folder_.value() + L"\\Launcher.exe,0"},
      {L"Software\\Classes\\VelumStable\\shell\\open\\command", nullptr,
       L"\"" + folder_.value() + L"\\Launcher.exe\" -noautoupdate -- \"%1\""},
      {L"Software\\Classes\\VelumStable\\shell\\open\\ddeexec", nullptr, L""},
      {L"Software\\Classes\\http", L"URL Protocol", L""},
      {L"Software\\Classes\\http\\shell\\open\\command", nullptr, launcher},
      {L"Software\\Classes\\https\\shell\\open\\command", nullptr, launcher},
      {L"Software\\Classes\\.html", nullptr, L"VelumStable"},
      {L"Software\\Clients\\StartMenuInternet", nullptr, L"VelumStable"},
      {kHttpChoice, L"Progid", L"<missing>"},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(e.value, ReadString(HKEY_CURRENT_USER, e.key, e.name)) << e.key;
  }
  DWORD flags = 0;
  base::RegistryKey http;
  ASSERT_EQ(ERROR_SUCCESS,
            http.Open(HKEY_CURRENT_USER, L"Software\\Classes\\http", KEY_QUERY_VALUE));
  EXPECT_EQ(ERROR_SUCCESS, http.ReadValueDW(L"EditFlags", &flags));
  EXPECT_EQ(2u, flags);
  EXPECT_TRUE(info->IsDefaultStartMenuInternet());
  EXPECT_TRUE(registration_->calls.empty());
}

// A row that cannot be applied takes the rows before it back with it.
TEST_F(AssociationsTest, FailedRowRollsTheTableBack) {
  // No lasting key may be created below a volatile one.
  {
    base::ScopedHKEY volatile_key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\VelumStable", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              volatile_key.Receive(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(volatile_key.Get(), L"FriendlyTypeName", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(L"Old"), 8));
  }
  const std::string before =
      testing::SnapshotRegistryTree(HKEY_CURRENT_USER, L"Software\\Classes\\VelumStable", 0);

  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(false);
  EXPECT_FALSE(info->RegisterClasses(false));
  EXPECT_EQ(before, testing::SnapshotRegistryTree(HKEY_CURRENT_USER,
                                                  L"Software\\Classes\\VelumStable", 0));
  EXPECT_EQ(L"Old", ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\VelumStable",
                               L"FriendlyTypeName"));
}

// Windows 7, an all-users installation asked per user: the system service sets the
// user's choice, so the table leaves its "Progid" alone.
TEST_F(AssociationsTest, Windows7AllUsersGoesThroughTheAssociationService) {
  WriteString(HKEY_CURRENT_USER, kHttpChoice, L"Progid", L"OtherBrowserURL");
  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(true);
  EXPECT_TRUE(info->SetAsDefaultHandler(L"http", false));
  EXPECT_TRUE(info->SetAsDefaultStartMenuInternet(false));
  EXPECT_EQ((std::vector<std::wstring>{L"SetAppAsDefault Velum Stable|http|1",
                                       L"SetAppAsDefault Velum Stable|StartmenuInternet|2"}),
            registration_->calls);
  EXPECT_EQ(L"OtherBrowserURL", ReadString(HKEY_CURRENT_USER, kHttpChoice, L"Progid"));
  EXPECT_EQ(L"VelumStable",
            ReadString(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", nullptr));

  registration_->answer_default = TRUE;
  EXPECT_TRUE(info->IsDefaultStartMenuInternet());
  EXPECT_EQ(L"QueryAppIsDefault StartmenuInternet|2|1|Velum Stable",
            registration_->calls.back());

  // A refusing service stops the change before any row.
  DeleteUserKeys();
  registration_->set_result = E_ACCESSDENIED;
  EXPECT_FALSE(info->SetAsDefaultHandler(L".html", false));
  EXPECT_EQ(L"<missing>", ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\.html", nullptr));
  offer_registration_ = false;
  EXPECT_FALSE(info->IsDefaultStartMenuInternet());
  EXPECT_FALSE(info->SetAsDefaultStartMenuInternet(false));
}

TEST_F(AssociationsTest, Windows8AsksThroughTheOpenWithDialog) {
  system_.os_version = base::OS_VERSION_WIN8;
  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(false);
  EXPECT_FALSE(info->SetAsDefaultHandler(L"http", true));
  EXPECT_FALSE(info->SetAsDefaultStartMenuInternet(true));
  EXPECT_TRUE(open_with_calls_.empty());

  WriteString(HKEY_CURRENT_USER, kHttpChoice, L"Progid", L"OtherBrowserURL");
  EXPECT_TRUE(info->SetAsDefaultHandler(L"http", false));
  EXPECT_EQ(std::vector<std::wstring>{L"http"}, open_with_calls_);
  // The user's choice is the dialog's to make.
  EXPECT_EQ(L"OtherBrowserURL", ReadString(HKEY_CURRENT_USER, kHttpChoice, L"Progid"));

  open_with_result_ = E_NOTIMPL;
  EXPECT_FALSE(info->SetAsDefaultHandler(L"ftp", false));
  EXPECT_EQ(L"<missing>", ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\ftp", nullptr));
}

// Windows 10 without the silent way: the default-apps page opens, then on the entry.
TEST_F(AssociationsTest, Windows10OpensTheSettingsPage) {
  system_.os_version = base::OS_VERSION_WIN10;
  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(false);
  EXPECT_FALSE(info->SetAsDefaultHandler(L"mailto", true));
  EXPECT_TRUE(activation_->calls.empty());

  EXPECT_TRUE(info->SetAsDefaultHandler(L"mailto", false));
  EXPECT_EQ((std::vector<std::wstring>{
                std::wstring(kControlPanel) + L"|page=SettingsPageAppsDefaults",
                std::wstring(kControlPanel) +
                    L"|page=SettingsPageAppsDefaults&target=SystemSettings_DefaultApps_Email"}),
            activation_->calls);

  activation_->calls.clear();
  activation_->result = E_FAIL;
  EXPECT_FALSE(info->SetAsDefaultHandler(L"ftp", false));
  EXPECT_EQ(1u, activation_->calls.size());

  // The browser as a whole: classes, then "http" only, and the answer of the check.
  activation_->calls.clear();
  activation_->result = S_OK;
  EXPECT_FALSE(info->SetAsDefaultBrowser(false));
  EXPECT_EQ(2u, activation_->calls.size());
  EXPECT_EQ(std::wstring(kControlPanel) +
                L"|page=SettingsPageAppsDefaults&target=SystemSettings_DefaultApps_Browser",
            activation_->calls.back());
  EXPECT_NE(L"<missing>",
            ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\VelumStable", L"URL Protocol"));
  EXPECT_EQ(L"<missing>", ReadString(HKEY_CURRENT_USER, L"Software\\Classes\\https", nullptr));

  // A part that does not take is logged; the answer stays the check's.
  activation_->result = E_FAIL;
  base::ScopedLogCapture log;
  EXPECT_FALSE(info->SetAsDefaultBrowser(false));
  EXPECT_TRUE(log.Has("Could not make the browser the default for http"));
}

// One more protocol for an installation: from Windows 8 on only the user's own choice
// can be made, so that is the one asked for there.
TEST_F(AssociationsTest, AnAddedProtocolTakesTheFormTheSystemAccepts) {
  system_.os_version = base::OS_VERSION_WIN8_1;
  EXPECT_TRUE(MakeInfo(true)->SetAsDefaultHandlerWherePossible(L"ftp"));
  EXPECT_EQ(std::vector<std::wstring>{L"ftp"}, open_with_calls_);

  system_.os_version = base::OS_VERSION_WIN10;
  EXPECT_TRUE(MakeInfo(true)->SetAsDefaultHandlerWherePossible(L"ftp"));
  EXPECT_FALSE(activation_->calls.empty());
}

TEST_F(AssociationsTest, SettingsPageTargets) {
  const struct {
    const wchar_t* protocol;
    const wchar_t* target;
  } cases[] = {
      {L"http", L"SystemSettings_DefaultApps_Browser"},
      {L"HTTP", L"SystemSettings_DefaultApps_Browser"},
      {L"MailTo", L"SystemSettings_DefaultApps_Email"},
      {L"https", L"SettingsPageAppsDefaultsProtocolView"},
      {L"ftp", L"SettingsPageAppsDefaultsProtocolView"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.target, GetDefaultAppsSettingsTarget(c.protocol));
}

TEST_F(AssociationsTest, HandlerCommandMatchesIgnoringCase) {
  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(false);
  WriteString(HKEY_CURRENT_USER, kHttpChoice, L"ProgId", L"VelumTestHandlerClass");
  std::wstring upper = folder_.value();
  for (wchar_t& c : upper) c = towupper(c);
  WriteString(HKEY_CLASSES_ROOT, L"VelumTestHandlerClass\\shell\\open\\command", nullptr,
              L"\"" + upper + L"\\LAUNCHER.EXE\" -- \"%1\"");
  std::wstring command;
  EXPECT_TRUE(info->GetHandlerCommand(L"http", false, &command));
  EXPECT_TRUE(info->IsDefaultHandler(L"http", false));
  EXPECT_FALSE(info->IsDefaultHandler(L"http", true));
  WriteString(HKEY_CLASSES_ROOT, L"VelumTestHandlerClass\\shell\\open\\command", nullptr,
              L"\"" + folder_.value() + L"\\velum.exe\" \"%1\"");
  EXPECT_TRUE(info->IsDefaultHandler(L"http", true));
  EXPECT_FALSE(info->IsDefaultHandler(L"http", false));
  testing::ScratchRegistryKey::DeleteTree(HKEY_CLASSES_ROOT, L"VelumTestHandlerClass", 0);
}

TEST_F(AssociationsTest, PreviousDefaultBrowser) {
  std::unique_ptr<FolderInstallationInfo> info = MakeInfo(false);
  std::wstring command;
  // Another browser is the handler: its command is remembered for the user.
  WriteString(HKEY_CURRENT_USER, kHttpChoice, L"ProgId", L"VelumTestOtherClass");
  WriteString(HKEY_CLASSES_ROOT, L"VelumTestOtherClass\\shell\\open\\command", nullptr,
              L"other.exe \"%1\"");
  EXPECT_TRUE(info->RememberPreviousDefaultBrowser(false));
  EXPECT_TRUE(info->GetPreviousDefaultBrowser(&command));
  EXPECT_EQ(L"other.exe \"%1\"", command);
  testing::ScratchRegistryKey::DeleteTree(HKEY_CLASSES_ROOT, L"VelumTestOtherClass", 0);

  EXPECT_TRUE(info->SavePreviousDefaultBrowser(L"saved \"%1\"", false));
  EXPECT_TRUE(info->GetPreviousDefaultBrowser(&command));
  EXPECT_EQ(L"saved \"%1\"", command);
}

}  // namespace
}  // namespace installer
