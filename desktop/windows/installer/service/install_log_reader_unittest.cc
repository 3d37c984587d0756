#include "desktop/windows/installer/service/install_log_reader.h"

#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/xml_file_test_util.h"

namespace installer {
namespace {

const char kUnchanged[] = "(unchanged)";

const char kHead[] =
    "<?xml version=\"1.0\"?>\n"
    "<install_log version=\"1.2.3\" copy_only=\"False\" all_users=\"True\" pinned=\"True\" "
    "app_id=\"42\">\n"
    " <path subfolder=\"1.2.3\">C:\\Velum</path>\n"
    " <files><file>a.dll</file></files>\n";
const char kTail[] = "</install_log>\n";

class InstallLogReaderTest : public XmlFileTest {
 protected:
  // Parses |text|; the reader's error starts as kUnchanged.
  std::unique_ptr<InstallLog> Parse(const std::string& text) {
    EXPECT_TRUE(base::WriteTextFile(path_, text));
    reader_.error = kUnchanged;
    std::unique_ptr<InstallLog> log(new InstallLog(SOURCE_NEW));
    reader_.ParseFile(&log, path_, SOURCE_OLD_STATUS);
    return log;
  }
  std::unique_ptr<InstallLog> ParseBody(const std::string& body) {
    return Parse(kHead + body + kTail);
  }

  InstallLogReader reader_;
};

// A root element with all its flags, for the cases past the root.
#define FLAGGED_ROOT "<install_log version='1' copy_only='1' all_users='1' pinned='1'>"

TEST_F(InstallLogReaderTest, EachBrokenPartHasItsMessage) {
  struct Case {
    const char* text;  // whole file when it starts with "<", else a body after files
    const char* error;
  } cases[] = {
      {"<other/>", "The root element's name is invalid"},
      {"<!-- nothing -->", nullptr},  // not XML at all: a load failure
      {"<install_log copy_only='True' all_users='True' pinned='True'/>",
       "There's no version attribute on the root element"},
      {"<install_log version='1' all_users='True' pinned='True'/>",
       "There's no copy_only attribute on the root element"},
      {"<install_log version='1' copy_only='True' pinned='True'/>",
       "There's no all_users attribute on the root element"},
      {"<install_log version='1' copy_only='True' all_users='True'/>",
       "There's no pinned attribute on the root element"},
      {"<install_log version='1' copy_only='1' all_users='1' pinned='1'/>",
       "Cannot proceed to the path"},
      {FLAGGED_ROOT "<pth/></install_log>", "The path element is not named correctly"},
      {FLAGGED_ROOT "<path/></install_log>", "Cannot go to files element"},
      {FLAGGED_ROOT "<path/><file/></install_log>", "Files element is incorrectly named"},
      {FLAGGED_ROOT "<path/><files><file>a</file><dir>b</dir></files></install_log>",
       "File element is incorrectly named"},
      {"<bogus/>", "Invalid element in place of the optional root files list"},
      {"<root_files/>", "Cannot proceed to the first root file"},
      {"<root_files><file>x</file><folder/></root_files>", "A root file is incorrectly named"},
      {"<root_files><file>x</file></root_files><bogus/>", "Invalid successor of root files list"},
      {"<registry><key path='a' clean='0'/></registry>",
       "Cannot get the hive attibute of a registry element"},
      {"<registry hive='HKCR'><key path='a' clean='0'/></registry>",
       "The hive attribute is not HKLM nor HKCU"},
      {"<registry hive='HKLM'><key path='a' clean='0'/></registry><bogus/>",
       "Invalid successor of the registry element"},
      {"<registry hive='HKLM'/>", kUnchanged},
      {"<registry hive='HKLM'><key path='a' clean='2x'/></registry>", kUnchanged},
      {"<registry hive='HKLM'><key path='a' clean='2147483648'/></registry>", kUnchanged},
      {"<registry hive='HKLM'><key path='a'/></registry>", kUnchanged},
      {"<registry hive='HKLM'><key clean='1'/></registry>", kUnchanged},
      {"<registry hive='HKLM'><keys path='a' clean='1'/></registry>", kUnchanged},
      {"<registry hive='HKLM'><key path='a' clean='1'><value type='REG_SZ'/></key></registry>",
       kUnchanged},
      {"<registry hive='HKLM'><key path='a' clean='1'><value name='n'/></key></registry>",
       kUnchanged},
      {"<registry hive='HKLM'><key path='a' clean='1'><val name='n' type='t'/></key>"
       "</registry>",
       kUnchanged},
      {"<shortcut>C:\\x.lnk</shortcut>", "A shortcut element doesn't feature a type attribute"},
      {"<shortcut type='SC_DEST_START'>C:\\x.lnk</shortcut>",
       "Invalid shortcut type SC_DEST_START"},
      {"<shortcut type='SC_DEST_MENU'>C:\\x.lnk</shortcut><bogus/>", kUnchanged},
      {"<components/>", "Failed going to the first component"},
      {"<components><part/></components>", "A component element is not called component"},
      {"<components><component/></components>", "Cannot go to first child of a component"},
      {"<components><component><path>p</path></component></components>",
       "Component's first child is not called name"},
      {"<components><component><name>n</name></component></components>",
       "Cannot go to component.name sibling"},
      {"<components><component><name>n</name><where>p</where></component></components>",
       "component.path is not called path"},
      {"<shortcut type='SC_DEST_MENU'>m</shortcut><components><component><name>n</name>"
       "<path>p</path></component></components><bogus/>",
       "Components are not the last element in status"},
  };
  for (const Case& c : cases) {
    // Whole files start with their root (or a lone comment); the rest follow <files>.
    std::string text = c.text;
    bool whole = text.compare(0, 12, "<install_log") == 0 || text.compare(0, 6, "<other") == 0 ||
                 text.compare(0, 4, "<!--") == 0;
    std::unique_ptr<InstallLog> log = whole ? Parse(text) : ParseBody(text);
    EXPECT_FALSE(log) << c.text;
    if (c.error)
      EXPECT_EQ(c.error, reader_.error) << c.text;
    else
      EXPECT_EQ(0u, reader_.error.find("Cannot parse the file as XML: ")) << reader_.error;
  }
}

TEST_F(InstallLogReaderTest, MissingFileIsALoadFailure) {
  std::unique_ptr<InstallLog> log(new InstallLog(SOURCE_NEW));
  reader_.ParseFile(&log, scratch_.path().Append(L"missing.xml"), SOURCE_STATUS_FILE);
  EXPECT_FALSE(log);
  EXPECT_EQ(0u, reader_.error.find("Cannot parse the file as XML: Cannot load the document"))
      << reader_.error;
}

TEST_F(InstallLogReaderTest, FlagsAreTrueOnlyForCapitalTrue) {
  std::unique_ptr<InstallLog> log = Parse(
      "<install_log version='9' copy_only='true' all_users='True' pinned='TRUE'>"
      "<path>p</path><files><file>f</file></files></install_log>");
  ASSERT_TRUE(log) << reader_.error;
  EXPECT_FALSE(log->copy_only);
  EXPECT_TRUE(log->all_users);
  EXPECT_FALSE(log->pinned);
  EXPECT_TRUE(log->app_id.empty()) << "app_id is optional";
  EXPECT_TRUE(log->subfolder.empty()) << "subfolder is optional";
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_OLD_STATUS), log->source);
}

TEST_F(InstallLogReaderTest, LenientWhereTheFormatAllows) {
  std::unique_ptr<InstallLog> log = Parse(
      "<?xml version=\"1.0\"?>\n<!-- written by hand -->\n"
      "<install_log version='1.2.3' copy_only='False' all_users='False' pinned='False'>\n"
      "  <!-- the folder -->\n"
      "  <path subfolder=' 1.2.3 '>\n   C:\\Velum \n  </path>\n"
      "  <files/>\n"
      "  <?pi ignored?>\n"
      "  <registry hive='HKCU'><key path='Software\\A' clean='-1'>"
      "<value name='v' type='REG_SZ'>  \n data \t </value></key>"
      "<key path='SOFTWARE\\a' clean='+3'/></registry>\n"
      "  <registry hive='HKCU'><key path='Software\\B' clean='0'/></registry>\n"
      "  <registry hive='HKLM'><key path='Software\\C' clean='1'/></registry>\n"
      "  <shortcut type='SC_DEST_MENU'>first</shortcut>\n"
      "  <shortcut type='SC_DEST_COMMON_MENU'>\n second \n</shortcut>\n"
      "  <shortcut type='SC_DEST_QUICK_LAUNCH'>q</shortcut>\n"
      "  <components><component><name> spaced name </name><path> C:\\c </path>"
      "<extra/></component></components>\n"
      "</install_log>\n");
  ASSERT_TRUE(log) << reader_.error;
  EXPECT_EQ(L"C:\\Velum", log->install_path);
  EXPECT_EQ(L"1.2.3", log->subfolder);
  EXPECT_TRUE(log->files.empty());
  ASSERT_EQ(3u, log->user_registry.size()) << "equal paths are not merged on reading";
  EXPECT_EQ(-1, log->user_registry[0].clean);
  EXPECT_EQ(3, log->user_registry[1].clean);
  ASSERT_EQ(1u, log->user_registry[0].values.size());
  EXPECT_EQ("data", log->user_registry[0].values[0].data);
  EXPECT_EQ("Software\\B", log->user_registry[2].path);
  ASSERT_EQ(1u, log->machine_registry.size());
  EXPECT_EQ(L"second", log->menu_shortcut) << "a later shortcut replaces the earlier";
  EXPECT_EQ(L"q", log->quick_launch_shortcut);
  EXPECT_TRUE(log->desktop_shortcut.empty());
  ASSERT_EQ(1u, log->components.size());
  EXPECT_EQ(L"C:\\c", log->components[0].path);
  // The component name is taken as the XML service gives it, untrimmed by the reader.
  EXPECT_NE(std::string::npos, log->components[0].name.find("spaced name"));
}

TEST_F(InstallLogReaderTest, RecordMayEndAfterAnyOptionalPart) {
  const char* bodies[] = {
      "",
      "<root_files><file>r</file></root_files>",
      "<registry hive='HKLM'><key path='k' clean='1'/></registry>",
      "<shortcut type='SC_DEST_DESKTOP'>d</shortcut>",
      "<components><component><name>n</name><path>p</path></component></components>",
      "<root_files><file>r</file></root_files><components><component><name>n</name>"
      "<path>p</path></component></components>",
  };
  for (const char* body : bodies) {
    std::unique_ptr<InstallLog> log = ParseBody(body);
    EXPECT_TRUE(log) << body << ": " << reader_.error;
  }
}

// Names of the record were joined to the install folder unchecked, and the upgrade and
// the uninstallation deleted what they named.
TEST_F(InstallLogReaderTest, NamesOutsideTheInstallFolderAreSkippedAndDamageTheRecord) {
  const std::vector<std::wstring> kLauncher = {L"launcher.exe"};
  const struct {
    const char* subfolder;
    const char* file;  // in both lists
    std::vector<std::wstring> files;  // kept of "a.dll" and |file|
    std::vector<std::wstring> root_files;  // kept of "launcher.exe" and |file|
    const wchar_t* kept_subfolder;
    bool damaged;
  } cases[] = {
      {"1.2.3", "loc/en.pak", {L"a.dll", L"loc/en.pak"}, {L"launcher.exe", L"loc/en.pak"},
       L"1.2.3", false},
      {"", "b.dll", {L"a.dll", L"b.dll"}, {L"launcher.exe", L"b.dll"}, L"", false},
      {"1.2.3", "", {L"a.dll"}, kLauncher, L"1.2.3", false},
      {"1.2.3", "..\\..\\outside.txt", {L"a.dll"}, kLauncher, L"1.2.3", true},
      {"1.2.3", "C:\\outside.txt", {L"a.dll"}, kLauncher, L"1.2.3", true},
      {"1.2.3", "\\Windows\\x.dll", {L"a.dll"}, kLauncher, L"1.2.3", true},
      {"1.2.3", "a.dll:stream", {L"a.dll"}, kLauncher, L"1.2.3", true},
      {"1.2.3", "nul", {L"a.dll"}, kLauncher, L"1.2.3", true},
      // Without their folder the files are lost; the root files stay.
      {"..", "b.dll", {}, {L"launcher.exe", L"b.dll"}, L"", true},
      {"C:\\Windows", "b.dll", {}, {L"launcher.exe", L"b.dll"}, L"", true},
      {"lpt\u00b9", "b.dll", {}, {L"launcher.exe", L"b.dll"}, L"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.subfolder) + " " + c.file);
    const std::string file = std::string("<file>") + c.file + "</file>";
    std::unique_ptr<InstallLog> log = Parse(
        std::string("<install_log version='1' copy_only='False' all_users='False' "
                    "pinned='False'><path subfolder='") +
        c.subfolder + "'>C:\\Velum</path><files><file>a.dll</file>" + file +
        "</files><root_files><file>launcher.exe</file>" + file + "</root_files></install_log>");
    ASSERT_TRUE(log) << reader_.error;
    EXPECT_EQ(c.kept_subfolder, log->subfolder);
    EXPECT_EQ(c.files, log->files);
    EXPECT_EQ(c.root_files, log->root_files);
    EXPECT_EQ(c.damaged, log->damaged);
  }
}

TEST_F(InstallLogReaderTest, ReaderIsReusableAfterAFailure) {
  EXPECT_FALSE(ParseBody("<bogus/>"));
  std::unique_ptr<InstallLog> log = ParseBody("");
  ASSERT_TRUE(log);
  EXPECT_EQ(std::vector<std::wstring>{L"a.dll"}, log->files);
  EXPECT_EQ("42", log->app_id);
}

}  // namespace
}  // namespace installer
