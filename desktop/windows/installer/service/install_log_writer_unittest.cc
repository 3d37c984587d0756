#include "desktop/windows/installer/service/install_log_writer.h"

#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/xml_document.h"
#include "desktop/windows/installer/service/xml_file_test_util.h"

namespace installer {
namespace {

class InstallLogWriterTest : public XmlFileTest {
 protected:
  std::unique_ptr<InstallLog> WriteAndRead(const InstallLog& log) {
    InstallLogWriter writer;
    EXPECT_TRUE(writer.WriteFile(log, path_));
    InstallLogReader reader;
    std::unique_ptr<InstallLog> read;
    reader.ParseFile(&read, path_, SOURCE_STATUS_FILE);
    EXPECT_TRUE(read) << reader.error;
    return read;
  }

  std::string FileText() {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(path_, &text));
    return text;
  }
};

void ExpectSameKeys(const std::vector<InstallLog::RegistryKey>& expected,
                    const std::vector<InstallLog::RegistryKey>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].path, actual[i].path);
    EXPECT_EQ(expected[i].clean, actual[i].clean);
    ASSERT_EQ(expected[i].values.size(), actual[i].values.size()) << expected[i].path;
    for (size_t j = 0; j < expected[i].values.size(); ++j) {
      EXPECT_EQ(expected[i].values[j].type, actual[i].values[j].type);
      EXPECT_EQ(expected[i].values[j].name, actual[i].values[j].name);
      EXPECT_EQ(expected[i].values[j].data, actual[i].values[j].data);
    }
  }
}

TEST_F(InstallLogWriterTest, FullRecordReadsBackEqual) {
  InstallLog log(SOURCE_INSTALLER);
  log.copy_only = false;
  log.all_users = true;
  log.pinned = true;
  log.app_id = "1700000000";
  log.version = "1.0.100.0";
  log.install_path = L"C:\\Program Files\\V\u00e9lum \u6d4f\u89c8\u5668 <&>";
  log.subfolder = L"1.0.100.0";
  log.desktop_shortcut = L"C:\\Users\\Public\\Desktop\\V\u00e9lum.lnk";
  log.menu_shortcut = L"C:\\ProgramData\\Start Menu\\Velum.lnk";
  log.quick_launch_shortcut = L"C:\\Quick\\Velum.lnk";
  log.files = {L"velum.exe", L"locales\\\u65e5\u672c\u8a9e.pak", L"a&b.dll"};
  log.root_files = {L"launcher.exe"};
  log.components.emplace_back("media_codec", L"C:\\Program Files\\V\u00e9lum\\media_codec");
  log.components.emplace_back("pdf", L"C:\\pdf");
  const wchar_t kText[] = L"\"{InstallFolder}\\launcher.exe\" %1";
  const DWORD kDword = 1;
  const unsigned char kBinary[] = {0x01, 0xab, 0x00};
  InstallLog::AddRegistryValue(log.machine_registry, L"Software\\Velum", L"", kText, REG_SZ,
                               sizeof(kText), 2);
  InstallLog::AddRegistryValue(log.machine_registry, L"SOFTWARE\\velum", L"Flag", &kDword,
                               REG_DWORD, 4, 1);
  InstallLog::AddRegistryValue(log.machine_registry, L"Software\\Classes\\.htm", L"bin",
                               kBinary, REG_BINARY, 3, -1);
  InstallLog::AddRegistryValue(log.user_registry, L"Software\\V\u00e9lum", L"n\u00e4me",
                               L"w\u00e9rt", REG_EXPAND_SZ, 10, 0);

  std::unique_ptr<InstallLog> read = WriteAndRead(log);
  ASSERT_TRUE(read);
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_STATUS_FILE), read->source);
  EXPECT_EQ(log.copy_only, read->copy_only);
  EXPECT_EQ(log.all_users, read->all_users);
  EXPECT_EQ(log.pinned, read->pinned);
  EXPECT_EQ(log.app_id, read->app_id);
  EXPECT_EQ(log.version, read->version);
  EXPECT_EQ(log.install_path, read->install_path);
  EXPECT_EQ(log.subfolder, read->subfolder);
  EXPECT_EQ(log.desktop_shortcut, read->desktop_shortcut);
  EXPECT_EQ(log.menu_shortcut, read->menu_shortcut);
  EXPECT_EQ(log.quick_launch_shortcut, read->quick_launch_shortcut);
  EXPECT_EQ(log.files, read->files);
  EXPECT_EQ(log.root_files, read->root_files);
  ASSERT_EQ(2u, read->components.size());
  EXPECT_EQ("media_codec", read->components[0].name);
  EXPECT_EQ(log.components[0].path, read->components[0].path);
  EXPECT_EQ("pdf", read->components[1].name);
  ASSERT_EQ(2u, read->machine_registry.size()) << "keys merged on recording stay merged";
  ExpectSameKeys(log.machine_registry, read->machine_registry);
  ExpectSameKeys(log.user_registry, read->user_registry);

  std::string text = FileText();
  EXPECT_EQ(0u, text.find("<?xml version=\"1.0\"?>\n<install_log")) << text;
  EXPECT_EQ(std::string::npos, text.find('\r'));
  EXPECT_EQ(std::string::npos, text.find('\t'));
  EXPECT_EQ('\n', text.back());
  EXPECT_NE(std::string::npos, text.find("SC_DEST_COMMON_DESKTOP"));
  EXPECT_NE(std::string::npos, text.find("SC_DEST_COMMON_MENU"));
  // The file is UTF-8: the non-ASCII path is there byte for byte.
  EXPECT_NE(std::string::npos, text.find("V\xC3\xA9lum \xE6\xB5\x8F\xE8\xA7\x88\xE5\x99\xA8"));
  // Attributes keep their order.
  size_t version = text.find("version=\"1.0.100.0\"");
  size_t app_id = text.find("app_id=");
  EXPECT_LT(text.find("copy_only=\"False\""), text.find("all_users=\"True\""));
  EXPECT_LT(version, app_id);
}

TEST_F(InstallLogWriterTest, RecordWithoutFilesReadsBack) {
  InstallLog log(SOURCE_INSTALLER);
  log.version = "2.0";
  log.install_path = L"C:\\Velum";
  std::unique_ptr<InstallLog> read = WriteAndRead(log);
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->files.empty());
  EXPECT_TRUE(read->root_files.empty());
  EXPECT_TRUE(read->components.empty());
  EXPECT_TRUE(read->machine_registry.empty() && read->user_registry.empty());
  EXPECT_TRUE(read->desktop_shortcut.empty());
  EXPECT_EQ(L"C:\\Velum", read->install_path);

  std::string text = FileText();
  for (const char* absent : {"root_files", "registry", "shortcut", "components"})
    EXPECT_EQ(std::string::npos, text.find(absent)) << absent << "\n" << text;
  EXPECT_NE(std::string::npos, text.find("<files")) << text;
}

TEST_F(InstallLogWriterTest, UserKeysOnlyAndPerUserShortcuts) {
  InstallLog log(SOURCE_INSTALLER);
  log.files = {L"a"};
  log.desktop_shortcut = L"D";
  log.menu_shortcut = L"M";
  InstallLog::AddRegistryValue(log.user_registry, L"Software\\Velum", L"v", nullptr, REG_SZ,
                               0, 0);
  std::unique_ptr<InstallLog> read = WriteAndRead(log);
  ASSERT_TRUE(read);
  EXPECT_EQ(1u, read->user_registry.size());
  EXPECT_TRUE(read->machine_registry.empty());
  std::string text = FileText();
  EXPECT_NE(std::string::npos, text.find("hive=\"HKCU\""));
  EXPECT_EQ(std::string::npos, text.find("HKLM"));
  EXPECT_NE(std::string::npos, text.find("\"SC_DEST_DESKTOP\""));
  EXPECT_NE(std::string::npos, text.find("\"SC_DEST_MENU\""));
}

TEST_F(InstallLogWriterTest, ReplacesAWholeOldRecordAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(base::WriteTextFile(path_, std::string(100000, 'x')));
  InstallLog log(SOURCE_INSTALLER);
  log.files = {L"only.dll"};
  ASSERT_TRUE(WriteAndRead(log));
  base::FileEnumerator entries(scratch_.path(), false, base::FileEnumerator::FILES, L"");
  EXPECT_EQ(path_, entries.Next());
  EXPECT_TRUE(entries.Next().empty()) << "a temporary file was left behind";
  EXPECT_EQ(std::string::npos, FileText().find("xxx"));
}

TEST_F(InstallLogWriterTest, FolderNamesThatLookLikeUrlsReadBack) {
  for (const wchar_t* folder : {L"a%20b", L"a%41b", L"C#Dev", L"x;y"}) {
    const base::FilePath directory = scratch_.path().Append(folder);
    ASSERT_TRUE(base::CreateDirectory(directory));
    path_ = directory.Append(L"installation_status.xml");
    InstallLog log(SOURCE_INSTALLER);
    log.files = {L"velum.exe"};
    std::unique_ptr<InstallLog> read = WriteAndRead(log);
    ASSERT_TRUE(read) << directory.AsUTF8();
    EXPECT_EQ(log.files, read->files);
  }
}

// A document whose |refused|-th appended element the XML service refuses.
class RefusingDocument : public XmlDocument {
 public:
  explicit RefusingDocument(int refused) : refused_(refused) {}
  int appends() const { return appends_; }

 protected:
  HRESULT AppendChild(IXMLDOMNode* parent, IXMLDOMNode* child, IXMLDOMNode** appended) override {
    return ++appends_ == refused_ ? E_OUTOFMEMORY
                                  : XmlDocument::AppendChild(parent, child, appended);
  }

 private:
  const int refused_;
  int appends_ = 0;
};

// The results of the tree building were dropped: a record missing an element (its
// attributes and text landing on the parent) was written and reported as written.
TEST_F(InstallLogWriterTest, RefusedElementFailsTheWriteAndKeepsTheOldRecord) {
  InstallLog log(SOURCE_INSTALLER);
  log.version = "1.0.100.0";
  log.files = {L"velum.exe", L"launcher.exe"};
  log.root_files = {L"root.dll"};
  log.desktop_shortcut = L"C:\\Desktop\\Velum.lnk";
  log.components.emplace_back("suite", L"C:\\suite");
  InstallLog::RegistryKey key;
  key.path = "Software\\Velum";
  key.values.resize(1);
  log.user_registry.push_back(key);
  auto whole = std::make_unique<RefusingDocument>(0);
  RefusingDocument* counted = whole.get();
  InstallLogWriter writer(std::move(whole));
  ASSERT_TRUE(writer.WriteFile(log, path_));
  const std::string old_record = FileText();
  // install_log, path, files, 2 files, root_files, 1 file, registry, key, value,
  // shortcut, components, component, name, path.
  ASSERT_EQ(15, counted->appends());

  for (int refused = 1; refused <= counted->appends(); ++refused) {
    SCOPED_TRACE(refused);
    InstallLogWriter refusing(std::make_unique<RefusingDocument>(refused));
    EXPECT_FALSE(refusing.WriteFile(log, path_));
    EXPECT_EQ(old_record, FileText());
  }
}

TEST_F(InstallLogWriterTest, MissingFolderFailsWithoutWritingAnything) {
  InstallLog log(SOURCE_INSTALLER);
  InstallLogWriter writer;
  EXPECT_FALSE(writer.WriteFile(log, scratch_.path().Append(L"missing\\status.xml")));
  EXPECT_FALSE(base::PathExists(scratch_.path().Append(L"missing")));
}

}  // namespace
}  // namespace installer
