#include "desktop/windows/installer/ui/installer_options_panel.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <algorithm>

#include "base/logging.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/key_presses.h"
#include "desktop/windows/installer/ui/list_keys.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

using W = InstallerWindow;

const COLORREF kLinkColor = 0x686868;
// The agreement is drawn on the page's light picture in every colour scheme, as the
// page's other texts: never in the scheme's window text, which high contrast makes white.
const COLORREF kAgreementColor = RGB(0, 0, 0);

std::wstring GetComboEntry(HWND box, LRESULT index) {
  LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
  SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(wcslen(text.c_str()));
  return text;
}

int CALLBACK SelectStartFolder(HWND browser, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

// The file-system path of a folder the shell's browser returned; empty when it has none.
std::wstring GetFolderPath(PCIDLIST_ABSOLUTE folder) {
  std::wstring chosen;
  Microsoft::WRL::ComPtr<IShellFolder> desktop;
  if (SUCCEEDED(SHGetDesktopFolder(desktop.GetAddressOf()))) {
    STRRET name = {};
    wchar_t* parsed = nullptr;
    if (SUCCEEDED(desktop->GetDisplayNameOf(folder, SHGDN_FORPARSING, &name)) &&
        SUCCEEDED(StrRetToStrW(&name, folder, &parsed))) {
      const base::ScopedCoTaskMem<wchar_t> owned(parsed);
      chosen = owned.Get();
    }
  }
  if (chosen.empty()) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(folder, path)) chosen = path;
  }
  return chosen;
}

// A change the settings refuse leaves the box showing what does not apply.
void WarnIfRefused(bool accepted, const char* change) {
  if (!accepted) LOG(WARNING) << "The settings refused the change " << change;
}

}  // namespace

std::wstring GetWindowString(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  int copied = GetWindowTextW(window, &text[0], static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

std::wstring GetUserNameOfFormat(EXTENDED_NAME_FORMAT format) {
  wchar_t name[256] = {};
  ULONG size = ARRAYSIZE(name);
  if (format == NameUnknown) {
    DWORD plain_size = ARRAYSIZE(name);
    return GetUserNameW(name, &plain_size) ? std::wstring(name) : std::wstring();
  }
  return GetUserNameExW(format, name, &size) ? std::wstring(name) : std::wstring();
}

InstallerOptionsPanel::InstallerOptionsPanel(Settings* settings,
                                             const InstallerWindowAnswers& answers)
    : settings_(settings), answers_(answers), languages_(LoadAvailableLanguages()) {}

InstallerOptionsPanel::~InstallerOptionsPanel() = default;

bool InstallerOptionsPanel::IsUninstall() const {
  return settings_->flag(Settings::UNINSTALL_FLAG);
}

void InstallerOptionsPanel::Init(HWND dialog, HWND panel, bool run_immediately,
                                 HFONT bold_font) {
  dialog_ = dialog;
  panel_ = panel;
  if (run_immediately) return;
  ShowWindow(PanelItem(W::DEFAULT_BROWSER_BOX), answers_.offer_default_browser ? SW_SHOW : SW_HIDE);
  for (int id : {W::LANGUAGE_BOX, W::MODE_BOX}) KeepListKeys(PanelItem(id));
  SendMessageW(PanelItem(W::INVALID_PATH_WARNING), WM_SETFONT, reinterpret_cast<WPARAM>(bold_font),
               FALSE);
  RECT button, path;
  HWND change = PanelItem(W::CHANGE_FOLDER_BUTTON);
  GetWindowRect(change, &button);
  GetWindowRect(PanelItem(W::PATH_BOX), &path);
  SetWindowPos(change, nullptr, 0, 0, button.right - button.left, path.bottom - path.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  tooltip_.Reset(CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr,
                                 WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_USEVISUALSTYLE,
                                 0, 0, 0, 0, dialog_, nullptr, GetModuleHandleW(nullptr),
                                 nullptr));
  if (!tooltip_.IsValid()) return;
  TOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = panel_;
  tool.uId = reinterpret_cast<UINT_PTR>(PanelItem(W::MODE_BOX));
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(tooltip_.Get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltip_.Get(), TTM_SETMAXTIPWIDTH, 0, 300);
}

void InstallerOptionsPanel::OnPageChanged(InstallerWindow::Page page, StatsNode* page_stats) {
  page_ = page;
  page_stats_ = page_stats;
  if (dialog_) EnableBack();
}

void InstallerOptionsPanel::FillLists() {
  FillLanguageBox();
  FillModeBox();
  UpdateTooltipText();
}

void InstallerOptionsPanel::FillLanguageBox() {
  HWND box = PanelItem(W::LANGUAGE_BOX);
  refreshing_ = true;
  // Each language is named in its own language, whatever the UI's: the list is filled
  // once. Refilling would also close it under the user, who may be picking from it
  // with the keyboard (Enter would then reach the default button).
  if (SendMessageW(box, CB_GETCOUNT, 0, 0) <= 0) {
    for (size_t i = 0; i < languages_.size(); ++i) {
      std::wstring name = GetLocalizedStringForLanguageCode(languages_[i], 37051);
      LRESULT index = SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
      if (index < 0) {
        LOG(ERROR) << "Adding item #" << i << " to the language dropdown failed";
        continue;
      }
      SendMessageW(box, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(i));
    }
  }
  const LRESULT count = SendMessageW(box, CB_GETCOUNT, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    const LRESULT language = SendMessageW(box, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (language >= 0 && static_cast<size_t>(language) < languages_.size() &&
        _wcsicmp(languages_[static_cast<size_t>(language)].c_str(),
                 settings_->install_language().c_str()) == 0 &&
        SendMessageW(box, CB_GETCURSEL, 0, 0) != index) {
      SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
  }
  refreshing_ = false;
}

void InstallerOptionsPanel::CloseListsForRelayout() {
  refreshing_ = true;
  for (int id : {W::LANGUAGE_BOX, W::MODE_BOX}) {
    // A list closing without a choice (its put-back re-lays the window out) stays closed.
    if (!list_cancelled_ || id != list_at_drop_)
      static_cast<void>(CloseListForRelayout(PanelItem(id)));
  }
  refreshing_ = false;
}

void InstallerOptionsPanel::FillModeBox() {
  HWND box = PanelItem(W::MODE_BOX);
  LRESULT selected = SendMessageW(box, CB_GETCURSEL, 0, 0);
  refreshing_ = true;
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  std::wstring current_user = GetLocalizedString(37033);
  std::wstring user_name = GetUserNameOfFormat(NameUnknown);
  if (!user_name.empty()) current_user += L" (" + user_name + L")";
  for (const std::wstring& text :
       {GetLocalizedString(37032), current_user, GetLocalizedString(37034)}) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  if (selected >= 0) SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  refreshing_ = false;
}

void InstallerOptionsPanel::UpdateTooltipText() {
  if (!tooltip_.IsValid()) return;
  std::vector<std::wstring> texts;
  for (int id = 37040; id <= 37045; ++id) texts.push_back(GetLocalizedString(id));
  std::wstring text = L"$1\n\t$2\n\n$3\n\t$4\n\n$5\n\t$6";
  for (size_t i = texts.size(); i > 0; --i) {
    std::wstring marker = L"$" + std::to_wstring(i);
    size_t at = text.find(marker);
    if (at != std::wstring::npos) text.replace(at, marker.size(), texts[i - 1]);
  }
  TOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = panel_;
  tool.uId = reinterpret_cast<UINT_PTR>(PanelItem(W::MODE_BOX));
  tool.lpszText = &text[0];
  SendMessageW(tooltip_.Get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void InstallerOptionsPanel::Refresh() {
  const InstallTarget& target = settings_->target();
  bool valid = target.valid_install_path;
  bool shield = valid && answers_.needs_elevation &&
                answers_.needs_elevation(settings_->flag(Settings::ALL_USERS_FLAG),
                                         settings_->status().write_access() != 0);
  refreshing_ = true;
  if (IsUninstall()) {
    RefreshUninstall(shield);
    refreshing_ = false;
    return;
  }
  HWND mode_box = PanelItem(W::MODE_BOX);
  // A folder the installation cannot use leaves the operation undecided: the mode stays
  // changeable, so that a mode without a usable folder can be left again.
  const int operation = settings_->operation();
  EnableWindow(mode_box, operation == Settings::OPERATION_INSTALL ||
                             (operation == Settings::OPERATION_INVALID && !valid));
  ShowMode();
  HWND accept_button = GetDlgItem(dialog_, W::ACCEPT_BUTTON);
  std::wstring accept = GetLocalizedString(target.existing_installation ? 37008 : 37007);
  SetWindowTextW(accept_button, accept.c_str());
  std::wstring agreement = GetLocalizedStringWithArg(37005, accept);
  std::vector<std::wstring> targets = GetAnchorTargets(agreement);
  tos_link_target_ = targets.empty() ? std::wstring() : targets.front();
  std::vector<RichEditLink> links;
  static_cast<void>(PlainTextOfLinks(ParseAnchors(agreement), &links));
  tos_link_label_ = links.empty() ? std::wstring() : links.front().label;
  HWND agreement_control = GetDlgItem(dialog_, W::TERMS_AGREEMENT);
  SetRichEditDefaultColor(agreement_control, kAgreementColor);
  SetRichEditTextWithLinks(agreement_control, agreement, kLinkColor);
  if (base::GetWindowsVersion() >= base::OS_VERSION_VISTA) {
    SendMessageW(accept_button, BCM_SETSHIELD, 0, shield);
    SendMessageW(GetDlgItem(dialog_, W::RETRY_BUTTON), BCM_SETSHIELD, 0, shield);
  }
  EnableWindow(PanelItem(W::DEFAULT_BROWSER_BOX), !settings_->flag(Settings::COPY_ONLY));
  CheckDlgButton(panel_, W::DEFAULT_BROWSER_BOX,
                 settings_->flag(Settings::DEFAULT_BROWSER) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(panel_, W::IMPORT_DATA_BOX,
                 settings_->flag(Settings::IMPORT_BROWSER_DATA) ? BST_CHECKED : BST_UNCHECKED);
  bool stats = settings_->flag(Settings::ENABLE_VELUM_STATS) ||
               settings_->flag(Settings::ENABLE_INSTALLER_STATS);
  CheckDlgButton(panel_, W::SHARE_STATS_BOX, stats ? BST_CHECKED : BST_UNCHECKED);
  RefreshPathBox();
  EnableWindow(accept_button, valid);
  EnableBack();
  ShowWindow(PanelItem(W::INVALID_PATH_WARNING), valid ? SW_HIDE : SW_SHOWNA);
  refreshing_ = false;
}

void InstallerOptionsPanel::ShowMode() {
  const int mode = settings_->flag(Settings::COPY_ONLY)        ? 2
                   : settings_->flag(Settings::ALL_USERS_FLAG) ? 0
                                                               : 1;
  SendMessageW(PanelItem(W::MODE_BOX), CB_SETCURSEL, static_cast<WPARAM>(mode), 0);
}

void InstallerOptionsPanel::EnableBack() {
  // The options page tells why a folder cannot be used, and its mode and folder boxes
  // stay usable: BACK leaves it only with a usable folder (the welcome page would offer a
  // greyed ACCEPT without the reason). Elsewhere BACK leads towards the options.
  const bool usable = IsUninstall() || page_ != W::PAGE_OPTIONS ||
                      settings_->target().valid_install_path;
  EnableWindow(GetDlgItem(dialog_, W::BACK_BUTTON), usable);
}

void InstallerOptionsPanel::RefreshUninstall(bool shield) {
  if (base::GetWindowsVersion() >= base::OS_VERSION_VISTA)
    SendMessageW(GetDlgItem(dialog_, W::UNINSTALL_BUTTON), BCM_SETSHIELD, 0, shield);
  HWND delete_profile = GetDlgItem(dialog_, W::DELETE_PROFILE_BOX);
  if (page_ == W::PAGE_UNINSTALL)
    ShowWindow(delete_profile, settings_->can_delete_profile() ? SW_SHOWNA : SW_HIDE);
  CheckDlgButton(dialog_, W::DELETE_PROFILE_BOX,
                 settings_->flag(Settings::DELETE_PROFILE) ? BST_CHECKED : BST_UNCHECKED);
}

void InstallerOptionsPanel::RefreshPathBox() {
  HWND box = PanelItem(W::PATH_BOX);
  const std::wstring& folder = settings_->install_folder().value();
  const std::vector<base::FilePath> suggestions = settings_->GetInstallFolderSuggestions();
  const std::wstring shown = GetWindowString(box);
  DWORD start = 0, end = 0;
  SendMessageW(box, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  // The text being typed stays as it is, caret and selection with it: every keystroke
  // changes the folder, whose status may come back after further keystrokes.
  HWND focus = GetFocus();
  const bool keep_text = typing_path_ || (focus && (focus == box || IsChild(box, focus))) ||
                         _wcsicmp(shown.c_str(), folder.c_str()) == 0;
  bool same_list =
      SendMessageW(box, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(suggestions.size());
  for (size_t i = 0; same_list && i < suggestions.size(); ++i)
    same_list = GetComboEntry(box, static_cast<LRESULT>(i)) == suggestions[i].value();
  if (!same_list) {
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const base::FilePath& suggestion : suggestions)
      SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(suggestion.value().c_str()));
  }
  if (keep_text) {
    if (GetWindowString(box) != shown) {
      SetWindowTextW(box, shown.c_str());
      SendMessageW(box, CB_SETEDITSEL, 0, MAKELPARAM(start, end));
    }
    return;
  }
  LRESULT selected = -1;
  for (size_t i = 0; i < suggestions.size(); ++i) {
    if (_wcsicmp(suggestions[i].value().c_str(), folder.c_str()) == 0)
      selected = static_cast<LRESULT>(i);
  }
  if (selected >= 0)
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  else
    SetWindowTextW(box, folder.c_str());
}

bool InstallerOptionsPanel::CountChange(const char* counter) {
  if (page_stats_) page_stats_->Increment(counter);
  if (settings_->changeable()) return true;
  Refresh();
  return false;
}

void InstallerOptionsPanel::ApplyPathText(HWND box, const char* counter, bool selected_entry) {
  if (!CountChange(counter)) return;
  // While the selection changes, the edit part still holds the previous text.
  LRESULT selected = selected_entry ? SendMessageW(box, CB_GETCURSEL, 0, 0) : -1;
  std::wstring text = selected >= 0 ? GetComboEntry(box, selected) : GetWindowString(box);
  typing_path_ = !selected_entry;
  settings_->SetInstallFolder(base::FilePath(text));
  typing_path_ = false;
}

void InstallerOptionsPanel::OnCommand(int id, int code) {
  if (refreshing_) return;
  HWND control = GetDlgItem(dialog_, id);
  if (!control) control = PanelItem(id);
  // Every box of the window has a list; the window's own closing of one for a re-layout
  // comes while refreshing, and is not noted.
  if (code == CBN_CLOSEUP) NoteListClosed(control);
  switch (id) {
    case W::LANGUAGE_BOX:
      OnLanguageBox(control, code);
      return;
    case W::MODE_BOX: {
      if (OnListOpenOrClose(id, code)) return;
      if (code != CBN_SELCHANGE || !CountChange("changed_install_mode")) return;
      LRESULT selected = SendMessageW(control, CB_GETCURSEL, 0, 0);
      if (selected >= 0) WarnIfRefused(settings_->SetMode(static_cast<int>(selected)), "of the mode");
      return;
    }
    case W::PATH_BOX:
      if (OnListOpenOrClose(id, code)) return;
      if (code == CBN_SELCHANGE) ApplyPathText(control, "changed_install_path", true);
      if (code == CBN_EDITCHANGE) ApplyPathText(control, "edited_install_path", false);
      return;
    case W::MAIN_PATH_BOX:
      if (code == CBN_SELCHANGE)
        ApplyPathText(control, "changed_install_path_from_main_screen", true);
      if (code == CBN_EDITCHANGE)
        ApplyPathText(control, "edited_install_path_from_main_screen", false);
      return;
    case W::CHANGE_FOLDER_BUTTON:
    case W::MAIN_CHANGE_FOLDER_BUTTON:
      if (code == BN_CLICKED) BrowseForFolder();
      return;
  }
  if (code == BN_CLICKED)
    OnCheckBox(id, SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED);
}

bool InstallerOptionsPanel::OnListOpenOrClose(int id, int code) {
  switch (code) {
    case CBN_DROPDOWN:
      // The list the user opened, opened again after a re-layout, keeps what it took.
      if (list_at_drop_ == id && IsListReopening(PanelItem(id))) return true;
      // What a close without a choice keeps, whatever entry the list highlights by then
      // (Wine's takes the one under a resting pointer, and keeps it at Escape).
      list_at_drop_ = id;
      language_at_drop_ = settings_->install_language();
      mode_at_drop_ = settings_->mode();
      path_at_drop_ = GetWindowString(PanelItem(W::PATH_BOX));
      flags_at_drop_.clear();
      for (int i = 0; i < Settings::FLAG_COUNT; ++i) flags_at_drop_.push_back(settings_->flag(i));
      list_cancelled_ = false;
      return true;
    case CBN_SELENDOK:
      list_cancelled_ = false;
      return true;
    case CBN_SELENDCANCEL:
      list_cancelled_ = true;
      KeepSettingsAtDrop(id);
      return true;
    case CBN_CLOSEUP: {
      const bool cancelled = list_cancelled_;
      if (cancelled) KeepSettingsAtDrop(id);
      list_cancelled_ = false;
      list_at_drop_ = 0;
      return true;
    }
  }
  return false;
}

void InstallerOptionsPanel::OnLanguageBox(HWND box, int code) {
  // After a choice the language follows the box.
  const bool chosen = code == CBN_CLOSEUP && !list_cancelled_;
  if (OnListOpenOrClose(W::LANGUAGE_BOX, code) && !chosen) return;
  if (code == CBN_SELCHANGE && !CountChange("changed_language")) return;
  if (code != CBN_SELCHANGE && !chosen) return;
  const LRESULT selected = SendMessageW(box, CB_GETCURSEL, 0, 0);
  const LRESULT index =
      selected < 0 ? -1 : SendMessageW(box, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0);
  if (index < 0 || static_cast<size_t>(index) >= languages_.size()) return;
  const std::wstring& language = languages_[static_cast<size_t>(index)];
  if (code == CBN_CLOSEUP &&
      (!settings_->changeable() ||
       _wcsicmp(language.c_str(), settings_->install_language().c_str()) == 0)) {
    return;
  }
  settings_->SetInstallLanguage(language);
}

void InstallerOptionsPanel::KeepSettingsAtDrop(int id) {
  const bool kept = list_at_drop_ == id && settings_->changeable();
  if (kept && id == W::LANGUAGE_BOX &&
      _wcsicmp(language_at_drop_.c_str(), settings_->install_language().c_str()) != 0) {
    settings_->SetInstallLanguage(language_at_drop_);
  }
  if (kept && id != W::LANGUAGE_BOX) {
    // The mode may move a suggested folder to its own default: the folder after it.
    if (settings_->mode() != mode_at_drop_)
      WarnIfRefused(settings_->SetMode(mode_at_drop_), "of the mode back");
    for (size_t i = 0; i < flags_at_drop_.size(); ++i) {
      const int index = static_cast<int>(i);
      if (settings_->flag(index) != flags_at_drop_[i])
        WarnIfRefused(settings_->SetFlag(index, flags_at_drop_[i]), "of a choice back");
    }
    HWND path_box = PanelItem(W::PATH_BOX);
    if (GetWindowString(path_box) != path_at_drop_) {
      refreshing_ = true;
      SetWindowTextW(path_box, path_at_drop_.c_str());
      refreshing_ = false;
    }
    // The text as typed stays, as while typing.
    typing_path_ = true;
    settings_->SetInstallFolder(base::FilePath(path_at_drop_));
    typing_path_ = false;
  }
  // The boxes show the settings again, without a change of their own.
  if (id == W::LANGUAGE_BOX) FillLanguageBox();
  if (id == W::MODE_BOX) ShowMode();
}

void InstallerOptionsPanel::OnCheckBox(int id, bool checked) {
  switch (id) {
    case W::DEFAULT_BROWSER_BOX:
      if (CountChange("changed_make_default_browser"))
        WarnIfRefused(settings_->SetFlag(Settings::DEFAULT_BROWSER, checked), "DEFAULT_BROWSER");
      return;
    case W::IMPORT_DATA_BOX:
      if (CountChange("changed_import_data"))
        WarnIfRefused(settings_->SetFlag(Settings::IMPORT_BROWSER_DATA, checked), "IMPORT_BROWSER_DATA");
      return;
    case W::SHARE_STATS_BOX:
      if (CountChange("changed_enable_stats")) {
        WarnIfRefused(settings_->SetFlag(Settings::ENABLE_VELUM_STATS, checked), "ENABLE_VELUM_STATS");
        WarnIfRefused(settings_->SetFlag(Settings::ENABLE_INSTALLER_STATS, checked), "ENABLE_INSTALLER_STATS");
      }
      return;
    case W::DELETE_PROFILE_BOX:
      if (CountChange("changed_delete_profile"))
        WarnIfRefused(settings_->SetFlag(Settings::DELETE_PROFILE, checked), "DELETE_PROFILE");
      return;
  }
}

void InstallerOptionsPanel::BrowseForFolder() {
  HWND path_box = PanelItem(W::PATH_BOX);
  std::wstring start = GetWindowString(path_box);
  std::wstring title = GetLocalizedString(37031);
  BROWSEINFOW info = {};
  info.hwndOwner = dialog_;
  info.lpszTitle = title.c_str();
  info.ulFlags = 0x51;  // file-system folders only, new dialog style, edit box
  info.lpfn = SelectStartFolder;
  info.lParam = reinterpret_cast<LPARAM>(start.c_str());
  base::ScopedCoTaskMem<ITEMIDLIST_ABSOLUTE> selection;
  {
    const ModalBoxKeys keys(dialog_);
    selection.Reset(SHBrowseForFolderW(&info));
  }
  if (!selection.IsValid()) return;
  std::wstring chosen = GetFolderPath(selection.Get());
  if (chosen.empty()) return;
  LRESULT index = SendMessageW(path_box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(chosen.c_str()));
  refreshing_ = true;
  if (index >= 0)
    SendMessageW(path_box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  else
    SetWindowTextW(path_box, chosen.c_str());
  refreshing_ = false;
  ApplyPathText(path_box, "edited_install_path", index >= 0);
}

}  // namespace installer
