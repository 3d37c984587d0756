// InstallerOptionsPanel: the controls that show and edit the settings. They are the
// options panel (dialog 138: language, mode, folder and the check boxes) and the
// settings-bound controls of the main dialog (the accept text with its agreement, the
// shields, the folder box of the welcome page, the delete-user-data box). Changes the
// user makes are counted on the current page's statistics node.
//
//   InstallerOptionsPanel options(settings, answers);
//   options.Init(dialog, panel, bold_font);   // in the panel's WM_INITDIALOG
//   options.FillLists();                      // the UI language changed
//   options.Refresh();                        // the settings changed
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_OPTIONS_PANEL_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_OPTIONS_PANEL_H_

#include <windows.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>

#include <string>
#include <vector>

#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/installer_window_delegate.h"

namespace installer {

class Settings;
class StatsNode;

// The text of |window|.
std::wstring GetWindowString(HWND window);
// The user's name in |format| (NameUnknown: the logon name); empty when unknown.
[[nodiscard]] std::wstring GetUserNameOfFormat(EXTENDED_NAME_FORMAT format);

class InstallerOptionsPanel {
 public:
  InstallerOptionsPanel(Settings* settings, const InstallerWindowAnswers& answers);
  InstallerOptionsPanel(const InstallerOptionsPanel&) = delete;
  InstallerOptionsPanel& operator=(const InstallerOptionsPanel&) = delete;
  ~InstallerOptionsPanel();

  // Sets the panel up once its dialog exists (skipped when running at once); the
  // invalid-path warning gets |bold_font|.
  void Init(HWND dialog, HWND panel, bool run_immediately, HFONT bold_font);
  // The page now shown and its statistics node (null: none), which outlives the next call.
  void OnPageChanged(InstallerWindow::Page page, StatsNode* page_stats);
  // Refills the language and mode boxes and the mode's tooltip in the UI language.
  void FillLists();
  // Closes an open language or mode list for a re-layout of the window, keeping what it
  // shows, without applying it; the list opens again in its new place.
  void CloseListsForRelayout();
  // Shows the settings in the controls.
  void Refresh();
  // A WM_COMMAND of a settings-bound control.
  void OnCommand(int id, int code);

  // The target of the terms agreement's link, for controls that report only its label,
  // and the label.
  const std::wstring& tos_link_target() const { return tos_link_target_; }
  const std::wstring& tos_link_label() const { return tos_link_label_; }

 private:
  bool IsUninstall() const;
  HWND PanelItem(int id) const { return GetDlgItem(panel_, id); }
  void RefreshUninstall(bool shield);
  void RefreshPathBox();
  // Selects the settings' install mode in its box.
  void ShowMode();
  // BACK usable or not, for the page shown and the folder.
  void EnableBack();
  void FillLanguageBox();
  void FillModeBox();
  void UpdateTooltipText();
  // Counts |counter| on the page node; false (after refreshing the controls) when the
  // settings cannot change now.
  [[nodiscard]] bool CountChange(const char* counter);
  // Notes an open list's opening and closing (|code| of box |id|); false for other codes.
  [[nodiscard]] bool OnListOpenOrClose(int id, int code);
  void OnLanguageBox(HWND box, int code);
  // A list of box |id| closed without a choice: the language, or the mode and the folder
  // (its text as typed), the settings had when it opened stay, in the boxes and the settings.
  void KeepSettingsAtDrop(int id);
  void OnCheckBox(int id, bool checked);
  void ApplyPathText(HWND box, const char* counter, bool selected_entry);
  void BrowseForFolder();

  Settings* const settings_;
  const InstallerWindowAnswers answers_;
  HWND dialog_ = nullptr;
  HWND panel_ = nullptr;
  base::ScopedWindow tooltip_;
  InstallerWindow::Page page_ = InstallerWindow::PAGE_NONE;
  StatsNode* page_stats_ = nullptr;
  std::vector<std::wstring> languages_;
  // Set while controls are filled from the settings: their notifications are not the
  // user's.
  bool refreshing_ = false;
  // Set while a typed path reaches the settings.
  bool typing_path_ = false;
  // The list open (its box's id, 0 while none is), what the settings had when it opened,
  // and whether it is closing without a choice.
  int list_at_drop_ = 0;
  std::wstring language_at_drop_;
  int mode_at_drop_ = 0;
  std::wstring path_at_drop_;
  // Every choice: a mode passed over clears some of its own (standalone, the default browser).
  std::vector<bool> flags_at_drop_;
  bool list_cancelled_ = false;
  std::wstring tos_link_target_;
  std::wstring tos_link_label_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_OPTIONS_PANEL_H_
