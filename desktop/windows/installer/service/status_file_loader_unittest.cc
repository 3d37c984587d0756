#include "desktop/windows/installer/service/status_file_loader.h"

#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/service/xml_file_test_util.h"

namespace installer {
namespace {

std::string Record(const char* app_id) {
  return std::string(
             "<?xml version=\"1.0\"?>\n"
             "<install_log version=\"1.2.3\" copy_only=\"False\" all_users=\"True\" "
             "pinned=\"False\" app_id=\"") +
         app_id +
         "\">\n <path subfolder=\"1.2.3\">C:\\Velum</path>\n"
         " <files><file>a.dll</file></files>\n</install_log>\n";
}

class StatusFileLoaderTest : public XmlFileTest {
 protected:
  void Write(const wchar_t* name, const std::string& text) {
    const base::FilePath path = scratch_.path().Append(name);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_TRUE(base::WriteTextFile(path, text));
  }
  std::unique_ptr<InstallLog> Load(int32_t recovery_mode) {
    log_text_.clear();
    content_.clear();
    return StatusFileLoader::Create()->Load(scratch_.path(), recovery_mode, &log_text_,
                                            &content_);
  }

  std::string log_text_;
  std::string content_;
};

TEST_F(StatusFileLoaderTest, ValidStatusFileWins) {
  Write(L"installation_status.xml", Record("11"));
  Write(L"velum_install_log.xml", Record("22"));
  std::unique_ptr<InstallLog> log = Load(0);
  ASSERT_TRUE(log);
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_STATUS_FILE), log->source);
  EXPECT_EQ("11", log->app_id);
  EXPECT_EQ("", log_text_);
  EXPECT_EQ("", content_);
}

// A broken current record hides the legacy log and hands back its bytes.
TEST_F(StatusFileLoaderTest, BrokenOrEmptyStatusFile) {
  Write(L"velum_install_log.xml", Record("22"));
  Write(L"installation_status.xml", "not xml at all");
  EXPECT_FALSE(Load(0));
  EXPECT_EQ(0u, log_text_.find("Velum browser status file, Cannot parse the file as XML: "))
      << log_text_;
  EXPECT_EQ("not xml at all", content_);

  Write(L"installation_status.xml", "");
  EXPECT_FALSE(Load(0));
  EXPECT_EQ(0u, log_text_.find("Velum browser status file, ")) << log_text_;
  const std::string tail = " Status file empty.";
  ASSERT_GT(log_text_.size(), tail.size());
  EXPECT_EQ(tail, log_text_.substr(log_text_.size() - tail.size()));
  EXPECT_EQ("", content_);
}

TEST_F(StatusFileLoaderTest, RecoveryModeTakesTheNewestNumberedCopy) {
  Write(L"installation_status.xml", "<broken");
  Write(L"old_status\\installation_status.xml.3", Record("3"));
  Write(L"old_status\\installation_status.xml.10", Record("10"));
  Write(L"old_status\\installation_status.xml.abc", Record("abc"));
  std::unique_ptr<InstallLog> log = Load(1);
  ASSERT_TRUE(log);
  EXPECT_EQ("10", log->app_id);
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_OLD_STATUS), log->source);
  EXPECT_EQ("", log_text_);

  EXPECT_FALSE(Load(0));
  EXPECT_EQ(0u, log_text_.find("Velum browser status file, ")) << log_text_;
}

TEST_F(StatusFileLoaderTest, OnlyPositiveNumbersCount) {
  const struct {
    const wchar_t* names[3];
    const wchar_t* expected;  // null: no copy qualifies
  } cases[] = {
      {{L"installation_status.xml.0", L"installation_status.xml.-5", nullptr}, nullptr},
      {{L"installation_status.xml.007", L"installation_status.xml.6", nullptr},
       L"installation_status.xml.007"},
      {{L"installation_status.xml.1x", L"installation_status.xml.2", nullptr},
       L"installation_status.xml.2"},
      {{L"installation_status.xml.99999999999999999999", L"installation_status.xml.4",
        nullptr},
       L"installation_status.xml.4"},
  };
  for (const auto& c : cases) {
    base::ScratchDir folder;
    const base::FilePath old_status = folder.path().Append(L"old_status");
    ASSERT_TRUE(base::CreateDirectory(old_status));
    for (const wchar_t* name : c.names) {
      if (name) {
        ASSERT_TRUE(base::WriteTextFile(old_status.Append(name), "x"));
      }
    }
    const base::FilePath latest = FindLatestOldStatusFile(folder.path());
    if (!c.expected) {
      EXPECT_TRUE(latest.empty()) << latest.value();
    } else {
      EXPECT_EQ(c.expected, latest.BaseName().value());
    }
  }
}

TEST_F(StatusFileLoaderTest, LegacyLog) {
  EXPECT_FALSE(Load(1));
  EXPECT_EQ("No viable status file exists.", log_text_);
  EXPECT_EQ("", content_);

  Write(L"velum_install_log.xml", "<<legacy");
  EXPECT_FALSE(Load(0));
  const std::string head = "Basalt status file, Cannot parse the file as XML: ";
  const std::string tail = "No viable status file exists.";
  EXPECT_EQ(0u, log_text_.find(head)) << log_text_;
  ASSERT_GT(log_text_.size(), head.size() + tail.size());
  EXPECT_EQ(tail, log_text_.substr(log_text_.size() - tail.size()));
  EXPECT_NE(' ', log_text_[log_text_.size() - tail.size() - 1]) << log_text_;
  EXPECT_EQ("<<legacy", content_);

  Write(L"velum_install_log.xml", Record("22"));
  std::unique_ptr<InstallLog> log = Load(0);
  ASSERT_TRUE(log);
  EXPECT_EQ(static_cast<uint32_t>(SOURCE_LEGACY_LOG), log->source);
  EXPECT_EQ("22", log->app_id);
}

}  // namespace
}  // namespace installer
