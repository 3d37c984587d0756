// The wizard window of the interactive installer: one modeless dialog (101) with a child
// options panel (138). Six pages are shown by switching control visibility. The window
// reflects the Settings (it observes them), edits them through their setters, reports
// the user's decisions to its delegates and records the page sequence and the user's
// navigation under "ui.page_sequence" of its statistics node. The settings-bound
// controls are InstallerOptionsPanel's, the drawing InstallerWindowPainter's; what the
// settings cannot tell, the owner answers when it makes the window.
//
//   std::unique_ptr<InstallerWindow> window = InstallerWindow::Create(
//       settings, stats->Clone(), /*run_immediately=*/false, answers);
//   window->AddDelegate(controller);
//   ...
//   window->ShowProgress(0, 100);
//   window->SetProgressPosition(40);
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/observer_list.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/settings/settings_observer.h"
#include "desktop/windows/installer/ui/host_dialog_ids.h"
#include "desktop/windows/installer/ui/installer_window_delegate.h"
#include "desktop/windows/installer/ui/installer_window_painter.h"
#include "desktop/windows/installer/ui/resource_images.h"

namespace installer {

class InstallerOptionsPanel;
class Settings;
class StatsNode;

class InstallerWindow : public SettingsObserver {
 public:
  enum Page : int {
    PAGE_WELCOME = 0,
    PAGE_UNINSTALL = 1,
    PAGE_TOS = 2,
    PAGE_OPTIONS = 3,
    PAGE_PROGRESS = 4,
    PAGE_ERROR = 5,
    PAGE_NONE = 6,
  };

  // Control ids of the dialogs 101 and 138 (host_dialog_ids.h).
  enum Control : int {
    LOGO = IDC_LOGO,
    OPTIONS_BUTTON = IDC_OPTIONS_BUTTON,
    CANCEL_BUTTON = IDC_CANCEL_BUTTON,
    ACCEPT_BUTTON = IDC_ACCEPT_BUTTON,
    FULL_PACKAGE_BUTTON = IDC_FULL_PACKAGE_BUTTON,
    RETRY_BUTTON = IDC_RETRY_BUTTON,
    UNINSTALL_BUTTON = IDC_UNINSTALL_BUTTON,
    HEADLINE = IDC_HEADLINE,
    TERMS_AGREEMENT = IDC_TERMS_AGREEMENT,
    THANK_YOU = IDC_THANK_YOU,
    INSTALL_FAILED_TITLE = IDC_INSTALL_FAILED_TITLE,
    PROGRESS_TEXT = IDC_PROGRESS_TEXT,
    TERMS_TEXT = IDC_TERMS_TEXT,
    BACK_BUTTON = IDC_BACK_BUTTON,
    LANGUAGE_BOX = IDC_LANGUAGE_BOX,
    MODE_BOX = IDC_MODE_BOX,
    PATH_BOX = IDC_PATH_BOX,
    MAIN_PATH_BOX = IDC_MAIN_PATH_BOX,
    CHANGE_FOLDER_BUTTON = IDC_CHANGE_FOLDER_BUTTON,
    MAIN_CHANGE_FOLDER_BUTTON = IDC_MAIN_CHANGE_FOLDER_BUTTON,
    DEFAULT_BROWSER_BOX = IDC_DEFAULT_BROWSER_BOX,
    IMPORT_DATA_BOX = IDC_IMPORT_DATA_BOX,
    SHARE_STATS_BOX = IDC_SHARE_STATS_BOX,
    PROGRESS_BAR = IDC_PROGRESS_BAR,
    INVALID_PATH_WARNING = IDC_INVALID_PATH_WARNING,
    UNINSTALL_QUESTION = IDC_UNINSTALL_QUESTION,
    DELETE_PROFILE_BOX = IDC_DELETE_PROFILE_BOX,
    LANGUAGE_LABEL = IDC_LANGUAGE_LABEL,
    MODE_LABEL = IDC_MODE_LABEL,
    PATH_LABEL = IDC_PATH_LABEL,
    UNINSTALL_FAILED_TITLE = IDC_UNINSTALL_FAILED_TITLE,
    TERMS_SCROLL_BAR = IDC_TERMS_SCROLL_BAR,
  };

  // The system message box (MessageBoxW's arguments and result). Tests replace it (the
  // real one is modal); an empty function restores it.
  typedef std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption,
                            UINT type)>
      MessageBoxFunction;

  // Builds the window and shows it; null (with an ERROR line) when the dialogs cannot be
  // made. |settings| outlive the window.
  [[nodiscard]] static std::unique_ptr<InstallerWindow> Create(
      Settings* settings, std::unique_ptr<StatsNode> stats, bool run_immediately,
      const InstallerWindowAnswers& answers);

  InstallerWindow(const InstallerWindow&) = delete;
  InstallerWindow& operator=(const InstallerWindow&) = delete;
  ~InstallerWindow() override;

  // The name recorded as "page_type": "WELCOME", ..., "invalid" for other values.
  static const char* GetPageName(Page page);

  void SetPage(Page page);
  void SetProgressPhase(int phase);
  // Enters the progress page with a bar from |position| to |range|.
  void ShowProgress(int position, int range);
  // The bar never moves back; steps up to 10 units are shown one by one.
  void SetProgressPosition(int position);
  void ShowError(const std::wstring& text, bool offer_full_package, const std::string& message);
  void ShowFatalError(const std::wstring& text);
  // Closes a question or message box the window shows, as if answered "No": the run
  // that asked it has ended.
  void CloseMessageBox();

  HWND GetHwnd() const { return dialog_.Get(); }
  HWND options_panel() const { return options_; }
  Page page() const { return page_; }

  void AddDelegate(InstallerWindowDelegate* delegate) { delegates_.AddObserver(delegate); }
  void RemoveDelegate(InstallerWindowDelegate* delegate) { delegates_.RemoveObserver(delegate); }

  void set_message_box_for_testing(const MessageBoxFunction& function) {
    message_box_ = function;
  }

  // SettingsObserver:
  void OnFlagChanged() override;
  void OnLanguageChanged() override;
  void OnPathChanged() override;

 private:
  InstallerWindow(Settings* settings, std::unique_ptr<StatsNode> stats, bool run_immediately,
                  const InstallerWindowAnswers& answers);

  static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                         LPARAM lparam);
  static INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                            LPARAM lparam);
  INT_PTR OnMainMessage(UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR OnOptionsMessage(UINT message, WPARAM wparam, LPARAM lparam);

  [[nodiscard]] bool CreateDialogs();
  void InitMainDialog();
  void LoadTermsText();

  HWND Item(int id) const;
  void UpdateTexts();
  void SetHeadline();
  // Mirrors the window for a right-to-left UI language, or back.
  void ApplyReadingDirection();
  void SizeFullPackageButton();
  void RebuildBackground();
  // The whole page is drawn again, its transparent controls too.
  void InvalidatePage();
  bool IsUninstall() const;

  // Gives the focus back where it was when the window is activated again (true: done).
  bool OnActivate(WPARAM wparam);
  void SaveFocus();
  // Gives the focus to the control that had it last, when it can take it (true: done).
  bool RestoreFocus();
  void OnButton(int id);
  void OnCommand(int id, int code);
  void RecordNavigation(const char* name);
  void ConfirmCancel();
  void OnLink(const NMHDR* notification);
  // Opens the page a link of the agreement names.
  void FollowLink(const std::wstring& target);
  // A WM_COMMAND of the agreement: a link key, or the focus coming or going.
  void OnAgreementCommand(int code);
  [[nodiscard]] int ShowMessageBox(const std::wstring& text, UINT type);
  HBRUSH OnControlColor(HDC dc, HWND control, bool options_panel, UINT message);

  Settings* const settings_;
  const bool run_immediately_;
  base::ScopedWindow dialog_;
  HWND options_ = nullptr;
  base::ObserverList<InstallerWindowDelegate> delegates_;
  Page page_ = PAGE_NONE;
  bool error_page_shown_ = false;
  // The control that had the focus when the window was last deactivated.
  HWND saved_focus_ = nullptr;
  std::unique_ptr<StatsNode> stats_;
  std::unique_ptr<StatsNode> page_stats_;
  MessageBoxFunction message_box_;
  // Outlive the dialogs, which show them.
  InstallerWindowPainter painter_;
  WindowIcons icons_;
  // Goes before the dialogs, as its tooltip does.
  std::unique_ptr<InstallerOptionsPanel> options_panel_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
