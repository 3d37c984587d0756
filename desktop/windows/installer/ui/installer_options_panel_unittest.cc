#include "desktop/windows/installer/ui/installer_options_panel.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/ui/host_dialog_ids.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"

namespace installer {
namespace {

using W = InstallerWindow;
using testing::ClickButton;
using testing::GetControlText;

// Hands the dialogs' notifications to the panel, as the window does.
INT_PTR CALLBACK ForwardToPanel(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    return TRUE;
  }
  auto* panel = reinterpret_cast<InstallerOptionsPanel*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (message != WM_COMMAND || !panel) return FALSE;
  panel->OnCommand(LOWORD(wparam), HIWORD(wparam));
  return TRUE;
}

// The panel alone on the host's two dialogs, with no window around it: what it reads
// from its controls is what reaches the settings, which the controller then runs with.
class InstallerOptionsPanelTest : public ::testing::Test {
 protected:
  InstallerOptionsPanelTest()
      : command_line_(base::CommandLine::StringVector{L"installer.exe"}),
        platform_(scratch_.path().Append(L"Velum")) {}

  void Open(bool uninstall) {
    // The old dialogs go before the panel they forward to.
    dialog_.Reset();
    InitRichEdit();
    settings_ = std::make_unique<Settings>(
        uninstall, false, false, uninstall ? base::FilePath() : scratch_.path().Append(L"Velum"),
        false, 1, &command_line_, &platform_);
    panel_ = std::make_unique<InstallerOptionsPanel>(settings_.get(), InstallerWindowAnswers());
    const LPARAM panel = reinterpret_cast<LPARAM>(panel_.get());
    dialog_.Reset(CreateDialogParamW(GetModuleHandleW(nullptr),
                                     MAKEINTRESOURCEW(IDD_INSTALLER_WINDOW), nullptr,
                                     ForwardToPanel, panel));
    ASSERT_TRUE(dialog_.IsValid());
    options_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OPTIONS_PANEL),
                                  dialog_.Get(), ForwardToPanel, panel);
    ASSERT_TRUE(options_);
    panel_->Init(dialog_.Get(), options_, false, nullptr);
    panel_->OnPageChanged(uninstall ? W::PAGE_UNINSTALL : W::PAGE_OPTIONS, &stats_.root);
    panel_->FillLists();
    panel_->Refresh();
    ShowWindow(dialog_.Get(), SW_SHOWNA);
    ShowWindow(options_, SW_SHOWNA);
    testing::PumpPendingMessages();
  }

  int Counter(const char* key) {
    // A counter never changed is not in the record: it reads 0.
    int value = 0;
    return stats_.tree.GetInteger(key, &value) ? value : 0;
  }

  base::ScratchDir scratch_;
  base::CommandLine command_line_;
  testing::TestSettingsPlatform platform_;
  testing::TestStatsRecord stats_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<InstallerOptionsPanel> panel_;
  base::ScopedWindow dialog_;
  HWND options_ = nullptr;
};

// Each box, clicked, sets what it names and counts the change; the settings changed
// elsewhere come back to the box.
TEST_F(InstallerOptionsPanelTest, CheckBoxesReachTheSettingsBothWays) {
  const struct {
    bool uninstall;
    bool in_panel;
    int box;
    std::vector<int> flags;
    const char* counter;
  } kCases[] = {
      {false, true, W::DEFAULT_BROWSER_BOX, {Settings::DEFAULT_BROWSER},
       "changed_make_default_browser"},
      {false, true, W::IMPORT_DATA_BOX, {Settings::IMPORT_BROWSER_DATA}, "changed_import_data"},
      {false, true, W::SHARE_STATS_BOX,
       {Settings::ENABLE_VELUM_STATS, Settings::ENABLE_INSTALLER_STATS}, "changed_enable_stats"},
      {true, false, W::DELETE_PROFILE_BOX, {Settings::DELETE_PROFILE}, "changed_delete_profile"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.counter);
    Open(c.uninstall);
    HWND owner = c.in_panel ? options_ : dialog_.Get();
    ShowWindow(GetDlgItem(owner, c.box), SW_SHOWNA);
    for (int round = 1; round <= 2; ++round) {
      const bool checked = IsDlgButtonChecked(owner, c.box) == BST_CHECKED;
      ClickButton(owner, c.box);
      for (int flag : c.flags) EXPECT_EQ(!checked, settings_->flag(flag)) << flag;
      EXPECT_EQ(round, Counter(c.counter));
    }
    for (bool value : {true, false}) {
      for (int flag : c.flags) ASSERT_TRUE(settings_->SetFlag(flag, value));
      panel_->Refresh();
      EXPECT_EQ(value, IsDlgButtonChecked(owner, c.box) == BST_CHECKED);
    }
  }
}

// A folder typed into either folder box reaches the settings as typed; one picked from
// the list is the entry picked, not the text the edit part still held.
TEST_F(InstallerOptionsPanelTest, FolderBoxesGiveWhatTheUserChose) {
  const struct {
    bool in_panel;
    int box;
    const char* typed_counter;
  } kBoxes[] = {
      {true, W::PATH_BOX, "edited_install_path"},
      {false, W::MAIN_PATH_BOX, "edited_install_path_from_main_screen"},
  };
  for (const auto& b : kBoxes) {
    SCOPED_TRACE(b.box);
    Open(false);
    const base::FilePath typed = scratch_.path().Append(L"Typed Here");
    testing::TypeComboText(b.in_panel ? options_ : dialog_.Get(), b.box, typed.value());
    EXPECT_EQ(typed.value(), settings_->install_folder().value());
    EXPECT_EQ(1, Counter(b.typed_counter));
  }
  HWND box = GetDlgItem(options_, W::PATH_BOX);
  ASSERT_GT(SendMessageW(box, CB_GETCOUNT, 0, 0), 0);
  std::wstring entry(static_cast<size_t>(SendMessageW(box, CB_GETLBTEXTLEN, 0, 0)) + 1, L'\0');
  SendMessageW(box, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(&entry[0]));
  entry.resize(wcslen(entry.c_str()));
  // As a pick from the list notifies: the selection moved, the edit part not yet.
  SendMessageW(box, CB_SETCURSEL, 0, 0);
  SetWindowTextW(box, scratch_.path().Append(L"Typed Before").value().c_str());
  SendMessageW(options_, WM_COMMAND, MAKEWPARAM(W::PATH_BOX, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(box));
  EXPECT_EQ(entry, settings_->install_folder().value());
  EXPECT_EQ(1, Counter("changed_install_path"));
}

// While the settings cannot change, what is typed never reaches them; while the user
// types, the box keeps the text even when the folder changes under it, and once the
// user has left the box, the box shows the settings' folder.
TEST_F(InstallerOptionsPanelTest, FolderBoxRefusesAndKeepsTypedText) {
  Open(false);
  const std::wstring before = settings_->install_folder().value();
  settings_->set_changeable(false);
  testing::TypeComboText(options_, W::PATH_BOX, scratch_.path().Append(L"Refused").value());
  EXPECT_EQ(before, settings_->install_folder().value());
  EXPECT_EQ(1, Counter("edited_install_path"));
  settings_->set_changeable(true);

  HWND box = GetDlgItem(options_, W::PATH_BOX);
  HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
  ASSERT_TRUE(edit);
  SetFocus(edit);
  const std::wstring typing = scratch_.path().Append(L"Half").value();
  SetWindowTextW(box, typing.c_str());
  const base::FilePath elsewhere = scratch_.path().Append(L"Elsewhere");
  settings_->SetInstallFolder(elsewhere);
  panel_->Refresh();
  EXPECT_EQ(typing, GetControlText(options_, W::PATH_BOX));
  SetFocus(GetDlgItem(options_, W::IMPORT_DATA_BOX));
  panel_->Refresh();
  EXPECT_EQ(elsewhere.value(), GetControlText(options_, W::PATH_BOX));
}

}  // namespace
}  // namespace installer
