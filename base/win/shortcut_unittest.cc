#include "base/win/shortcut.h"

#include <windows.h>
#include <objbase.h>

#include <string>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"

namespace base {
namespace {

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    dir_ = scratch_.path();
    ASSERT_FALSE(dir_.empty());
    target_ = MakeFile(L"target.exe");
    other_target_ = MakeFile(L"other.exe");
    link_ = dir_.Append(L"Velum.lnk");
  }
  void TearDown() override { CoUninitialize(); }

  FilePath MakeFile(const wchar_t* name) {
    const FilePath path = dir_.Append(name);
    EXPECT_TRUE(WriteTextFile(path, ""));
    return path;
  }

  bool Exists(const FilePath& path) {
    return GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  ShortcutProperties Read(uint32_t options) {
    ShortcutProperties read;
    EXPECT_TRUE(ResolveShortcutProperties(link_, options, &read));
    return read;
  }

  ScratchDir scratch_;
  FilePath dir_;
  FilePath target_;
  FilePath other_target_;
  FilePath link_;
};

const uint32_t kLinkOptions =
    ShortcutProperties::PROPERTIES_TARGET | ShortcutProperties::PROPERTIES_WORKING_DIR |
    ShortcutProperties::PROPERTIES_ARGUMENTS | ShortcutProperties::PROPERTIES_DESCRIPTION |
    ShortcutProperties::PROPERTIES_ICON;

TEST_F(ShortcutTest, CreateThenResolveRoundTrip) {
  ShortcutProperties properties;
  properties.set_target(target_);
  properties.set_working_dir(dir_);
  properties.set_arguments(L"--profile-directory=\"Profile 1\"");
  properties.set_description(L"Velum browser");
  properties.set_icon(target_, 3);
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, properties, SHORTCUT_CREATE_ALWAYS));

  const ShortcutProperties read = Read(kLinkOptions);
  EXPECT_EQ(kLinkOptions, read.options);
  EXPECT_TRUE(FilePath::CompareIgnoreCase(target_.value(), read.target.value()) == 0)
      << read.target.value().c_str();
  EXPECT_TRUE(FilePath::CompareIgnoreCase(dir_.value(), read.working_dir.value()) == 0);
  EXPECT_EQ(properties.arguments, read.arguments);
  EXPECT_EQ(properties.description, read.description);
  EXPECT_TRUE(FilePath::CompareIgnoreCase(target_.value(), read.icon.value()) == 0);
  EXPECT_EQ(3, read.icon_index);

  FilePath resolved;
  EXPECT_TRUE(ResolveShortcut(link_, &resolved));
  EXPECT_EQ(read.target, resolved);
  EXPECT_TRUE(ResolveShortcut(link_, nullptr));
}

// A target outside the ANSI code page: the link's ANSI path holds "?" for its letters,
// and a shortcut test comparing that found no shortcut of a folder like "C:\\Вelum 日本".
TEST_F(ShortcutTest, TargetOutsideTheAnsiCodePageReadsBackWhole) {
  ASSERT_TRUE(CreateDirectoryW(dir_.Append(L"\u0412elum \u65e5\u672c").value().c_str(), nullptr));
  const FilePath target = MakeFile(L"\u0412elum \u65e5\u672c\\launcher.exe");
  ShortcutProperties properties;
  properties.set_target(target);
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, properties, SHORTCUT_CREATE_ALWAYS));
  FilePath resolved;
  ASSERT_TRUE(ResolveShortcut(link_, &resolved));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(target.value(), resolved.value()))
      << resolved.AsUTF8();
}

TEST_F(ShortcutTest, RefusedOperationsCreateNothing) {
  ShortcutProperties no_target;
  no_target.set_arguments(L"--x");
  ShortcutProperties with_target;
  with_target.set_target(target_);
  const struct {
    const char* what;
    const ShortcutProperties* properties;
    ShortcutOperation operation;
  } cases[] = {
      {"create without target", &no_target, SHORTCUT_CREATE_ALWAYS},
      {"replace without target", &no_target, SHORTCUT_REPLACE_EXISTING},
      {"replace of a missing shortcut", &with_target, SHORTCUT_REPLACE_EXISTING},
      {"update of a missing shortcut", &no_target, SHORTCUT_UPDATE_EXISTING},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CreateOrUpdateShortcut(link_, *c.properties, c.operation)) << c.what;
    EXPECT_FALSE(Exists(link_)) << c.what;
  }
}

TEST_F(ShortcutTest, ReplaceKeepsOnlyOldArguments) {
  ShortcutProperties original;
  original.set_target(target_);
  original.set_arguments(L"--keep-me");
  original.set_description(L"old description");
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, original, SHORTCUT_CREATE_ALWAYS));

  ShortcutProperties replacement;
  replacement.set_target(other_target_);
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, replacement, SHORTCUT_REPLACE_EXISTING));
  ShortcutProperties read = Read(kLinkOptions);
  EXPECT_TRUE(FilePath::CompareIgnoreCase(other_target_.value(), read.target.value()) == 0);
  EXPECT_EQ(L"--keep-me", read.arguments);
  EXPECT_EQ(L"", read.description) << "a replaced shortcut is written anew";

  replacement.set_arguments(L"");
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, replacement, SHORTCUT_REPLACE_EXISTING));
  EXPECT_EQ(L"", Read(kLinkOptions).arguments) << "given arguments win, even empty ones";
}

TEST_F(ShortcutTest, UpdateChangesOnlyGivenProperties) {
  ShortcutProperties original;
  original.set_target(target_);
  original.set_arguments(L"--old");
  original.set_description(L"kept");
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, original, SHORTCUT_CREATE_ALWAYS));

  ShortcutProperties change;
  change.set_arguments(L"--new");
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, change, SHORTCUT_UPDATE_EXISTING));
  const ShortcutProperties read = Read(kLinkOptions);
  EXPECT_TRUE(FilePath::CompareIgnoreCase(target_.value(), read.target.value()) == 0);
  EXPECT_EQ(L"--new", read.arguments);
  EXPECT_EQ(L"kept", read.description);
}

TEST_F(ShortcutTest, NonShortcutFileDoesNotResolve) {
  const FilePath not_a_link = MakeFile(L"Velum.lnk");
  FilePath target(L"unchanged");
  EXPECT_FALSE(ResolveShortcut(not_a_link, &target));
  EXPECT_EQ(FilePath(L"unchanged"), target);
  EXPECT_FALSE(ResolveShortcut(dir_.Append(L"missing.lnk"), nullptr));
}

TEST_F(ShortcutTest, AppIdIsWrittenAndReadsBack) {
  ShortcutProperties properties;
  properties.set_target(target_);
  properties.set_app_id(L"Velum.Browser.Stable");
  properties.set_dual_mode(true);
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, properties, SHORTCUT_CREATE_ALWAYS));
  EXPECT_TRUE(Exists(link_));
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's shell-link property store accepts the app id but does not keep "
                    "it (GetValue gives E_NOTIMPL)";
  }
  const ShortcutProperties read = Read(ShortcutProperties::PROPERTIES_APP_ID |
                                       ShortcutProperties::PROPERTIES_DUAL_MODE);
  EXPECT_EQ(L"Velum.Browser.Stable", read.app_id);
  EXPECT_TRUE(read.dual_mode);

  ShortcutProperties change;
  change.set_arguments(L"--x");
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, change, SHORTCUT_UPDATE_EXISTING));
  EXPECT_EQ(L"Velum.Browser.Stable", Read(ShortcutProperties::PROPERTIES_APP_ID).app_id)
      << "an update of other properties keeps the app id";
}

}  // namespace
}  // namespace base
