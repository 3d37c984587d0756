// The built host and library, read as data files: the resources the installer reads from
// its host, the texts of every offered language, and the host as a single-file installer
// with a payload appended.
#include <windows.h>
#include <richedit.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/json/json_reader.h"
#include "base/values.h"
#include "base/process/launch.h"
#include "base/test/test_helper_process.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/ui/host_dialog_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

const int kFirstStringId = 37000;
const int kLastStringId = 37070;
const size_t kOfferedLanguages = 45;

// A module's resources without running any of its code.
class DataModule {
 public:
  explicit DataModule(const wchar_t* file_name)
      : module_(LoadLibraryExW(base::TestExeSibling(file_name).c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataModule() {
    if (module_) FreeLibrary(module_);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;

  HMODULE get() const { return module_; }

  // The bytes of a resource; empty when it is missing.
  std::string Bytes(int id, const wchar_t* type) const {
    HRSRC resource = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
    HGLOBAL loaded = resource ? LoadResource(module_, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(module_, resource)) : std::string();
  }

 private:
  HMODULE module_;
};

// Texts are looked up in |module| for the life of this object.
class ScopedResourceModule {
 public:
  explicit ScopedResourceModule(HMODULE module) { SetResourceModuleForTesting(module); }
  ~ScopedResourceModule() { SetResourceModuleForTesting(nullptr); }
};

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class HostResourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, host_.get());
    ASSERT_NE(nullptr, library_.get());
  }

  // Creates dialog |id| of the host (hidden) with this program as its instance.
  HWND CreateHostDialog(int id, HWND parent) {
    HRSRC resource = FindResourceW(host_.get(), MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(host_.get(), resource) : nullptr;
    auto dialog_template = loaded ? static_cast<LPCDLGTEMPLATEW>(LockResource(loaded)) : nullptr;
    if (!dialog_template) return nullptr;
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog_template, parent,
                                      &IgnoreMessages, 0);
  }

  DataModule host_{L"velum_installer.exe"};
  DataModule library_{L"velum_installer.dll"};
};

TEST_F(HostResourcesTest, CarriesTheConfigurationLanguagesTermsImagesAndIcon) {
  std::unique_ptr<base::Value> configuration = base::JsonReader::Read(host_.Bytes(133, L"TXT"));
  ASSERT_NE(nullptr, configuration);
  EXPECT_TRUE(configuration->is_dictionary());
  EXPECT_NE(std::string::npos, host_.Bytes(142, L"TXT").find("TERMS OF SERVICE"));
  EXPECT_EQ(0u, host_.Bytes(139, L"JPG").find("\xFF\xD8\xFF"));
  EXPECT_EQ(0u, host_.Bytes(140, L"PNG").find("\x89PNG\r\n"));
  EXPECT_EQ(0u, host_.Bytes(141, L"PNG").find("\x89PNG\r\n"));
  HICON icon = static_cast<HICON>(LoadImageW(host_.get(), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             32, 32, 0));
  EXPECT_NE(nullptr, icon);
  if (icon) DestroyIcon(icon);

  ScopedResourceModule texts(host_.get());
  const std::vector<std::wstring> languages = LoadAvailableLanguages();
  ASSERT_EQ(kOfferedLanguages, languages.size());
  EXPECT_EQ(L"en-US", languages[0]);
}

TEST_F(HostResourcesTest, TheLibraryCarriesTheConfigurationAndTexts) {
  EXPECT_FALSE(library_.Bytes(133, L"TXT").empty());
  EXPECT_EQ(host_.Bytes(133, L"TXT"), library_.Bytes(133, L"TXT"));
  EXPECT_EQ(host_.Bytes(134, L"TXT"), library_.Bytes(134, L"TXT"));
  std::wstring from_host;
  {
    ScopedResourceModule texts(host_.get());
    from_host = GetLocalizedStringForLanguageCode(L"de", 37057);
  }
  ScopedResourceModule texts(library_.get());
  EXPECT_FALSE(from_host.empty());
  EXPECT_EQ(from_host, GetLocalizedStringForLanguageCode(L"de", 37057));
}

TEST_F(HostResourcesTest, DialogsHaveTheControlsTheWindowUses) {
  ASSERT_NE(nullptr, LoadLibraryW(L"Msftedit.dll"));  // the rich edits' class
  const struct {
    int dialog;
    std::vector<int> controls;
  } kDialogs[] = {
      {IDD_INSTALLER_WINDOW,
       {IDC_LOGO, IDC_OPTIONS_BUTTON, IDC_CANCEL_BUTTON, IDC_ACCEPT_BUTTON,
        IDC_FULL_PACKAGE_BUTTON, IDC_RETRY_BUTTON, IDC_UNINSTALL_BUTTON, IDC_HEADLINE,
        IDC_TERMS_AGREEMENT, IDC_THANK_YOU, IDC_INSTALL_FAILED_TITLE, IDC_PROGRESS_TEXT,
        IDC_TERMS_TEXT, IDC_BACK_BUTTON, IDC_MAIN_PATH_BOX, IDC_MAIN_CHANGE_FOLDER_BUTTON,
        IDC_PROGRESS_BAR, IDC_UNINSTALL_QUESTION, IDC_DELETE_PROFILE_BOX,
        IDC_UNINSTALL_FAILED_TITLE}},
      {IDD_OPTIONS_PANEL,
       {IDC_LANGUAGE_BOX, IDC_MODE_BOX, IDC_PATH_BOX, IDC_CHANGE_FOLDER_BUTTON,
        IDC_DEFAULT_BROWSER_BOX, IDC_IMPORT_DATA_BOX, IDC_SHARE_STATS_BOX,
        IDC_INVALID_PATH_WARNING, IDC_LANGUAGE_LABEL, IDC_MODE_LABEL, IDC_PATH_LABEL}},
      {IDD_MESSAGE_BOX, {IDC_BOX_TEXT, IDC_BOX_ACCEPT_BUTTON, IDC_BOX_CANCEL_BUTTON}},
  };
  HWND main = CreateHostDialog(IDD_INSTALLER_WINDOW, nullptr);
  ASSERT_NE(nullptr, main);
  for (const auto& d : kDialogs) {
    HWND dialog = d.dialog == IDD_INSTALLER_WINDOW ? main : CreateHostDialog(d.dialog, main);
    ASSERT_NE(nullptr, dialog) << d.dialog;
    for (int control : d.controls)
      EXPECT_NE(nullptr, GetDlgItem(dialog, control)) << d.dialog << " " << control;
    if (dialog != main) DestroyWindow(dialog);
  }
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(main, IDC_ACCEPT_BUTTON), GWL_STYLE) & BS_DEFPUSHBUTTON);
  DestroyWindow(main);
}

TEST_F(HostResourcesTest, EnglishIsAsTheInstallerQuotesIt) {
  const struct {
    int id;
    const wchar_t* text;
  } kTexts[] = {
      {37000, L"Velum Installer"},
      {37005, L"By clicking on \"$1\" you are agreeing to Velum's <a href=\"tos\">Terms of "
              L"Service</a>"},
      {37006, L"&Options"},
      {37025, L"Downloading\x2026"},
      {37028, L"Installing for current user ($1)\x2026"},
      {37049, L"Get &full installer"},
      {37051, L"English (United States)"},
      {37052, L"Keeps Velum up to date."},
      {37057, L"Another instance of the Velum installer is already working on this folder. "
              L"You can either cancel the installation, try again in a few minutes, or "
              L"install in a different folder."},
      {37063, L"Unable to uninstall Velum.exe. Please make sure Velum is not running, and "
              L"try again."},
      {37064, L"This version of Velum is not compatible with your operating system. Please "
              L"click \"$1\" to obtain the correct Velum version."},
      {37068, L"Go!"},
      {37070, L"Velum Browser"},
  };
  ScopedResourceModule texts(host_.get());
  for (LANGID english : {LANGID{1033}, LanguageCodeToLcid(L"en-US")}) {
    for (const auto& t : kTexts)
      EXPECT_EQ(t.text, LoadStringForLanguage(english, t.id, nullptr)) << t.id;
  }
  EXPECT_EQ(L"English (United Kingdom)", GetLocalizedStringForLanguageCode(L"en-GB", 37051));
}

TEST_F(HostResourcesTest, EveryLanguageHasEveryTextInItsOwnTable) {
  ScopedResourceModule texts(host_.get());
  std::set<std::wstring> names;
  const std::vector<std::wstring> arguments = {L"\x2463"};
  for (const std::wstring& code : LoadAvailableLanguages()) {
    const LANGID language = LanguageCodeToLcid(code);
    for (int id = kFirstStringId; id <= kLastStringId; ++id)
      EXPECT_FALSE(LoadStringForLanguage(language, id, nullptr).empty()) << code << " " << id;
    names.insert(LoadStringForLanguage(language, 37051, nullptr));
    // Placeholders and links survive translation.
    const std::wstring progress = LoadStringForLanguage(language, 37028, &arguments);
    EXPECT_NE(std::wstring::npos, progress.find(L"\x2463")) << code;
    EXPECT_EQ(std::wstring::npos, progress.find(L"$1")) << code;
    EXPECT_NE(std::wstring::npos,
              LoadStringForLanguage(language, 37067, nullptr).find(L"<a href=\"tos\">"))
        << code;
  }
  // Each language names itself, so none fell back to another table.
  EXPECT_EQ(kOfferedLanguages, names.size());
  EXPECT_EQ(L"Abbrechen", GetLocalizedStringForLanguageCode(L"de", 37002));
  EXPECT_EQ(L"\x65E5\x672C\x8A9E", GetLocalizedStringForLanguageCode(L"ja", 37051));
  EXPECT_EQ(L"Fran\x00E7" L"ais (Canada)", GetLocalizedStringForLanguageCode(L"fr-CA", 37051));
}

class SingleFileInstallerTest : public base::ScratchDirTest {};

TEST_F(SingleFileInstallerTest, RunsAloneAndKeepsItsPayloadReadable) {
  const std::string package = std::string("7z\xBC\xAF\x27\x1C", 6) + "archive body";
  const std::string tracking = "{\"partner\":\"test\"}";
  const struct {
    std::string payload;
    int type;
  } kCases[] = {{tracking, PayloadReader::TRACKING_DATA},
                {package, PayloadReader::FULL_PACKAGE}};
  int index = 0;
  for (const auto& c : kCases) {
    const base::FilePath folder = Path(index++ ? L"b" : L"a");
    ASSERT_TRUE(base::CreateDirectory(folder));
    const base::FilePath installer = folder.Append(L"VelumSetup.exe");
    ASSERT_TRUE(base::CopyFile(base::FilePath(base::TestExeSibling(L"velum_installer.exe")),
                               installer));
    const uint32_t length = static_cast<uint32_t>(c.payload.size());
    const std::string block = "VLM" + c.payload + std::string(
        reinterpret_cast<const char*>(&length), sizeof(length));
    ASSERT_TRUE(base::AppendToFile(installer, block.data(), static_cast<int>(block.size())));
    {
      PayloadReader reader(installer);
      EXPECT_EQ(c.type, reader.type());
      const base::FilePath written = folder.Append(L"payload");
      ASSERT_TRUE(reader.WritePayloadToFile(written));
      std::string bytes;
      ASSERT_TRUE(base::ReadFileToString(written, &bytes));
      EXPECT_EQ(c.payload, bytes);
    }
    base::CommandLine command_line(installer);
    command_line.AppendSwitch("version");
    std::string output;
    ASSERT_TRUE(base::RunAndCaptureOutput(command_line, &output));
    EXPECT_EQ(GetBuildVersion(), output);
  }
}

// The downloaded installer starts from a downloads folder, elevated too: DLLs put there
// under the names of the system DLLs it uses are never loaded (the stand-in DLL notes
// every load of itself in a file beside it).
TEST_F(SingleFileInstallerTest, NeverLoadsADllPlantedBesideIt) {
  const base::FilePath planted(base::TestExeSibling(L"planted_library_test_dll.dll"));
  const wchar_t* const kNames[] = {L"userenv.dll", L"version.dll",  L"secur32.dll",
                                   L"winmm.dll",   L"wininet.dll",  L"winhttp.dll",
                                   L"wintrust.dll", L"crypt32.dll", L"uxtheme.dll",
                                   L"msimg32.dll", L"gdiplus.dll",  L"comctl32.dll",
                                   L"dbghelp.dll", L"Msftedit.dll"};
  for (const wchar_t* name : kNames) ASSERT_TRUE(base::CopyFile(planted, Path(name))) << name;
  const base::FilePath installer = Path(L"VelumSetup.exe");
  ASSERT_TRUE(base::CopyFile(base::FilePath(base::TestExeSibling(L"velum_installer.exe")),
                             installer));
  base::CommandLine command_line(installer);
  command_line.AppendSwitch("version");
  std::string output;
  ASSERT_TRUE(base::RunAndCaptureOutput(command_line, &output));
  EXPECT_EQ(GetBuildVersion(), output);
  std::string loaded;
  EXPECT_FALSE(base::ReadFileToString(Path(L"planted_library_loaded.txt"), &loaded)) << loaded;
}

}  // namespace
}  // namespace installer
