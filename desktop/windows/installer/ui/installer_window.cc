#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/ui/installer_options_panel.h"
#include "desktop/windows/installer/ui/key_presses.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/terms_scroll_bar.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

const int kMainDialogTemplate = IDD_INSTALLER_WINDOW;
const int kOptionsDialogTemplate = IDD_OPTIONS_PANEL;

const COLORREF kHeadlineColor = 0x2C1BFF;

// Controls governed by the page table, and the pages (bit n for page n) showing each.
struct PageVisibility {
  int control;
  unsigned pages;
};
const PageVisibility kPageVisibility[] = {
    {InstallerWindow::LOGO, 0x33},
    {InstallerWindow::TERMS_TEXT, 0x04},
    {InstallerWindow::TERMS_SCROLL_BAR, 0x04},
    {InstallerWindow::BACK_BUTTON, 0x2C},
    {InstallerWindow::HEADLINE, 0x01},
    {InstallerWindow::TERMS_AGREEMENT, 0x01},
    {InstallerWindow::OPTIONS_BUTTON, 0x01},
    {InstallerWindow::ACCEPT_BUTTON, 0x0D},
    {InstallerWindow::THANK_YOU, 0x10},
    {InstallerWindow::PROGRESS_TEXT, 0x30},
    {InstallerWindow::PROGRESS_BAR, 0x10},
    {InstallerWindow::INSTALL_FAILED_TITLE, 0x20},
    {InstallerWindow::UNINSTALL_FAILED_TITLE, 0x20},
    {InstallerWindow::RETRY_BUTTON, 0x20},
    {InstallerWindow::FULL_PACKAGE_BUTTON, 0x20},
    {InstallerWindow::CANCEL_BUTTON, 0x02},
    {InstallerWindow::UNINSTALL_BUTTON, 0x02},
    {InstallerWindow::DELETE_PROFILE_BOX, 0x02},
    {InstallerWindow::UNINSTALL_QUESTION, 0x02},
};

// Control texts: the install table and the uninstall table.
struct ControlText {
  int control;
  int string_id;
};
const ControlText kInstallTexts[] = {
    {InstallerWindow::OPTIONS_BUTTON, 37006},
    {InstallerWindow::BACK_BUTTON, 37009},
    {InstallerWindow::LANGUAGE_LABEL, 37010},
    {InstallerWindow::MODE_LABEL, 37011},
    {InstallerWindow::PATH_LABEL, 37012},
    {InstallerWindow::CHANGE_FOLDER_BUTTON, 37016},
    {InstallerWindow::INVALID_PATH_WARNING, 37017},
    {InstallerWindow::DEFAULT_BROWSER_BOX, 37018},
    {InstallerWindow::IMPORT_DATA_BOX, 37019},
    {InstallerWindow::SHARE_STATS_BOX, 37020},
    {InstallerWindow::THANK_YOU, 37024},
    {InstallerWindow::INSTALL_FAILED_TITLE, 37046},
    {InstallerWindow::RETRY_BUTTON, 37048},
    {InstallerWindow::FULL_PACKAGE_BUTTON, 37049},
    {InstallerWindow::CANCEL_BUTTON, 37002},
};
const ControlText kUninstallTexts[] = {
    {InstallerWindow::BACK_BUTTON, 37009},
    {InstallerWindow::INSTALL_FAILED_TITLE, 37047},
    {InstallerWindow::UNINSTALL_FAILED_TITLE, 37047},
    {InstallerWindow::RETRY_BUTTON, 37048},
    {InstallerWindow::CANCEL_BUTTON, 37002},
    {InstallerWindow::UNINSTALL_BUTTON, 37037},
    {InstallerWindow::UNINSTALL_QUESTION, 37035},
    {InstallerWindow::DELETE_PROFILE_BOX, 37036},
};

// Renames the buttons of the system message boxes this thread shows.
thread_local HHOOK g_message_box_hook = nullptr;
// The system message box this thread shows, once it is activated.
thread_local HWND g_message_box = nullptr;

LRESULT CALLBACK RenameMessageBoxButtons(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    if (!g_message_box) g_message_box = box;
    const ControlText buttons[] = {{IDYES, 37003}, {IDNO, 37004}, {IDOK, 37001}};
    for (const ControlText& button : buttons) {
      if (GetDlgItem(box, button.control))
        SetDlgItemTextW(box, button.control, GetLocalizedString(button.string_id).c_str());
    }
  }
  return CallNextHookEx(g_message_box_hook, code, wparam, lparam);
}

[[nodiscard]] int SystemMessageBox(HWND owner, const std::wstring& text,
                                   const std::wstring& caption, UINT type) {
  HHOOK previous = g_message_box_hook;
  HWND previous_box = g_message_box;
  g_message_box = nullptr;
  base::ScopedHook hook(
      SetWindowsHookExW(WH_CBT, RenameMessageBoxButtons, nullptr, GetCurrentThreadId()));
  g_message_box_hook = hook.Get();
  int result = MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  hook.Reset();
  g_message_box_hook = previous;
  g_message_box = previous_box;
  return result;
}

// Languages written from right to left get a mirrored window.
bool IsRightToLeftLanguage(LANGID language) {
  const WORD primary = PRIMARYLANGID(language);
  return primary == LANG_ARABIC || primary == LANG_HEBREW || primary == LANG_PERSIAN;
}

// A right-to-left window is mirrored and read from the right: neutral characters (':',
// '…') then end the sentence, and a Latin word inside it keeps its place. A path reads
// from the left whatever the language.
bool ReadsLeftToRight(HWND window) {
  const int id = GetDlgCtrlID(window);
  return id == InstallerWindow::PATH_BOX || id == InstallerWindow::MAIN_PATH_BOX ||
         id == InstallerWindow::TERMS_TEXT;
}

bool SetLayoutRightToLeft(HWND window, bool rtl) {
  // The edit of a path box is only moved to its mirrored place: mirrored itself, it
  // would show the path in reverse.
  if (GetParent(window) && ReadsLeftToRight(GetParent(window))) return false;
  // The terms are English whatever the language: a mirrored edit would lay them out
  // from the right, sentence ends first.
  if (GetDlgCtrlID(window) == InstallerWindow::TERMS_TEXT) rtl = false;
  const LONG_PTR flags = WS_EX_LAYOUTRTL | (ReadsLeftToRight(window) ? 0 : WS_EX_RTLREADING);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  const LONG_PTR wanted = rtl ? (style & ~WS_EX_RTLREADING) | flags
                              : style & ~(WS_EX_LAYOUTRTL | WS_EX_RTLREADING);
  if (wanted == style) return false;
  SetWindowLongPtrW(window, GWL_EXSTYLE, wanted);
  return true;
}

// Mirrors |parent| and its children, theirs too (the edit of a combo box): each child
// keeps its distance from the leading edge, which moves to the other side.
void MirrorWindowAndChildren(HWND parent, bool rtl) {
  RECT client;
  GetClientRect(parent, &client);
  POINT origin = {0, 0};
  ClientToScreen(parent, &origin);
  const bool was_rtl = (GetWindowLongPtrW(parent, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
  struct Place {
    HWND child;
    POINT leading;
  };
  std::vector<Place> places;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT rect;
    GetWindowRect(child, &rect);
    // A mirrored client area starts at its right edge.
    const LONG distance = was_rtl ? origin.x - rect.right : rect.left - origin.x;
    places.push_back({child, {distance, rect.top - origin.y}});
  }
  if (!SetLayoutRightToLeft(parent, rtl) && was_rtl == rtl) return;
  for (const Place& place : places) {
    if (GetWindow(place.child, GW_CHILD))
      MirrorWindowAndChildren(place.child, rtl);
    else
      SetLayoutRightToLeft(place.child, rtl);
    SetWindowPos(place.child, nullptr, place.leading.x, place.leading.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  InvalidateRect(parent, nullptr, TRUE);
}

// |control|'s rectangle in |dialog|'s client coordinates (a mirrored dialog's run from
// its right edge).
RECT RectInDialog(HWND control, HWND dialog) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The size |text| takes in |control|'s font: on one line, or wrapped at |width|.
SIZE TextSize(HWND control, const std::wstring& text, int width) {
  RECT needed = {0, 0, width, 0};
  base::ScopedGetDC dc(control);
  if (!dc.IsValid()) return {0, 0};
  base::ScopedSelectObject font(
      dc.dc(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  DrawTextW(dc.dc(), text.c_str(), static_cast<int>(text.size()), &needed,
            DT_CALCRECT | DT_NOPREFIX | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
  return {needed.right - needed.left, needed.bottom - needed.top};
}

}  // namespace

// static
std::unique_ptr<InstallerWindow> InstallerWindow::Create(Settings* settings,
                                                         std::unique_ptr<StatsNode> stats,
                                                         bool run_immediately,
                                                         const InstallerWindowAnswers& answers) {
  std::unique_ptr<InstallerWindow> window(
      new InstallerWindow(settings, std::move(stats), run_immediately, answers));
  if (!window->CreateDialogs()) {
    PLOG(ERROR) << "Window creation failed.";
    return nullptr;
  }
  return window;
}

InstallerWindow::InstallerWindow(Settings* settings, std::unique_ptr<StatsNode> stats,
                                 bool run_immediately, const InstallerWindowAnswers& answers)
    : settings_(settings),
      run_immediately_(run_immediately),
      stats_(std::move(stats)),
      options_panel_(std::make_unique<InstallerOptionsPanel>(settings, answers)) {}

InstallerWindow::~InstallerWindow() {
  CloseMessageBox();
  options_panel_.reset();
  if (!run_immediately_) settings_->RemoveObserver(this);
  if (dialog_.IsValid()) {
    Win32DialogDispatcher::GetInstance()->UnsetActiveDialog(dialog_.Get());
    SetWindowLongPtrW(dialog_.Get(), GWLP_USERDATA, 0);
    if (options_) SetWindowLongPtrW(options_, GWLP_USERDATA, 0);
    // Before the members below it uses: its icons, panel and painter.
    dialog_.Reset();
  }
  page_stats_.reset();
  stats_.reset();
}

// static
const char* InstallerWindow::GetPageName(Page page) {
  static const char* const kNames[] = {"WELCOME", "UNINSTALL", "TOS",
                                       "OPTIONS", "PROGRESS",  "ERROR"};
  return page >= 0 && page < 6 ? kNames[page] : "invalid";
}

bool InstallerWindow::CreateDialogs() {
  InitRichEdit();
  if (!run_immediately_) settings_->AddObserver(this);
  HWND dialog = CreateDialogParamW(GetResourceModule(), MAKEINTRESOURCEW(kMainDialogTemplate),
                                   nullptr, MainDialogProc, reinterpret_cast<LPARAM>(this));
  if (!dialog) return false;
  options_ = CreateDialogParamW(GetResourceModule(), MAKEINTRESOURCEW(kOptionsDialogTemplate),
                                dialog, OptionsDialogProc, reinterpret_cast<LPARAM>(this));
  if (!options_) return false;
  SetPage(IsUninstall() ? PAGE_UNINSTALL : PAGE_WELCOME);
  ShowWindow(dialog_.Get(), SW_SHOW);
  UpdateTexts();
  if (!settings_->fetching_status()) options_panel_->Refresh();
  return true;
}

bool InstallerWindow::IsUninstall() const { return settings_->flag(Settings::UNINSTALL_FLAG); }

HWND InstallerWindow::Item(int id) const {
  HWND item = GetDlgItem(dialog_.Get(), id);
  return item || !options_ ? item : GetDlgItem(options_, id);
}

void InstallerWindow::InitMainDialog() {
  painter_.Init(dialog_.Get());
  icons_ = SetHostWindowIcon(dialog_.Get());
  SendMessageW(Item(UNINSTALL_QUESTION), WM_SETFONT,
               reinterpret_cast<WPARAM>(painter_.bold_font()), FALSE);
  HWND agreement = Item(TERMS_AGREEMENT);
  LRESULT mask = SendMessageW(agreement, EM_GETEVENTMASK, 0, 0);
  SendMessageW(agreement, EM_SETEVENTMASK, 0, mask | ENM_LINK);
  HideCaretSubclass(agreement);
  LinkKeysSubclass(agreement);
  for (int id : {THANK_YOU, INSTALL_FAILED_TITLE, UNINSTALL_FAILED_TITLE})
    SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(painter_.title_font()), FALSE);
  HideCaretSubclass(Item(HEADLINE));
  AttachTermsScrollBar(Item(TERMS_TEXT), Item(TERMS_SCROLL_BAR));
  SendMessageW(Item(HEADLINE), WM_SETFONT, reinterpret_cast<WPARAM>(painter_.headline_font()),
               FALSE);
  RebuildBackground();
  if (run_immediately_) {
    SetPage(PAGE_PROGRESS);
    return;
  }
  if (!IsUninstall()) LoadTermsText();
}

void InstallerWindow::LoadTermsText() {
  HMODULE module = GetResourceModule();
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(142), L"TXT");
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!data) return;
  std::wstring terms =
      base::UTF8ToWide(base::StringPiece(data, SizeofResource(module, resource)));
  std::wstring text;
  for (wchar_t c : terms) {
    if (c == L'\n') text += L'\r';
    text += c;
  }
  SetWindowTextW(Item(TERMS_TEXT), text.c_str());
}

void InstallerWindow::RebuildBackground() {
  painter_.RebuildBackground(Item(DELETE_PROFILE_BOX));
  // The rich edits are transparent (the dialog paints under them). A rich edit that
  // still fills its background, as Wine's does, fills it with the page's colour there.
  for (int id : {HEADLINE, TERMS_AGREEMENT}) {
    HWND edit = Item(id);
    SendMessageW(edit, EM_SETBKGNDCOLOR, 0, painter_.BackgroundColorUnder(edit));
  }
}

void InstallerWindow::SetPage(Page page) {
  if (page == page_) return;
  page_stats_ = stats_->AppendDictionaryToList("ui.page_sequence");
  page_stats_->SetString("page_type", GetPageName(page));
  int focus = 0;
  if (page == PAGE_WELCOME || page == PAGE_TOS || page == PAGE_OPTIONS) focus = ACCEPT_BUTTON;
  if (page == PAGE_UNINSTALL) focus = UNINSTALL_BUTTON;
  if (page == PAGE_ERROR) focus = RETRY_BUTTON;
  if (focus) {
    // Enter presses the page's own button: a focus set directly leaves the template's
    // default, Accept, shown or not.
    SendMessageW(dialog_.Get(), DM_SETDEFID, static_cast<WPARAM>(focus), 0);
    saved_focus_ = Item(focus);
    SetFocus(saved_focus_);
  }
  // A second press of the key that brought this page, queued before it showed or soon
  // after, would press its Accept unseen.
  NotePageShown(dialog_.Get());
  for (const PageVisibility& entry : kPageVisibility) {
    bool shown = page >= 0 && page < 6 && (entry.pages >> page) & 1;
    ShowWindow(Item(entry.control), shown ? SW_SHOWNA : SW_HIDE);
  }
  if (IsUninstall()) {
    ShowWindow(Item(THANK_YOU), SW_HIDE);
    ShowWindow(Item(INSTALL_FAILED_TITLE), SW_HIDE);
  } else {
    ShowWindow(Item(UNINSTALL_FAILED_TITLE), SW_HIDE);
  }
  if (options_) ShowWindow(options_, page == PAGE_OPTIONS ? SW_SHOWNA : SW_HIDE);
  // The logo stays shown from the progress page to the error page: only its own
  // repaint adds or removes the badge (the dialog clips its children).
  if (error_page_shown_ != (page == PAGE_ERROR)) InvalidateRect(Item(LOGO), nullptr, TRUE);
  error_page_shown_ = page == PAGE_ERROR;
  InvalidatePage();
  page_ = page;
  options_panel_->OnPageChanged(page_, page_stats_.get());
}

void InstallerWindow::UpdateTexts() {
  bool uninstall = IsUninstall();
  const ControlText* begin = uninstall ? kUninstallTexts : kInstallTexts;
  const ControlText* end = uninstall ? std::end(kUninstallTexts) : std::end(kInstallTexts);
  for (const ControlText* entry = begin; entry != end; ++entry) {
    std::wstring text = GetLocalizedString(entry->string_id);
    if (!text.empty()) SetWindowTextW(Item(entry->control), text.c_str());
  }
  SetHeadline();
  // The caption after the direction, and the frame drawn again: the title bar reads in
  // the language it shows.
  ApplyReadingDirection();
  SetWindowTextW(dialog_.Get(), GetLocalizedString(37000).c_str());
  SetWindowPos(dialog_.Get(), nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (!uninstall) {
    options_panel_->FillLists();
    if (!settings_->fetching_status()) options_panel_->Refresh();
  }
  SizeFullPackageButton();
}

void InstallerWindow::SetHeadline() {
  std::wstring product = GetLocalizedString(37023);
  std::wstring headline = GetLocalizedStringWithArg(37022, product);
  HWND headline_control = Item(HEADLINE);
  SetWindowTextW(headline_control, headline.c_str());
  SetRichEditColor(headline_control, kHeadlineColor);
  size_t product_at = product.empty() ? std::wstring::npos : headline.find(product);
  if (product_at != std::wstring::npos) {
    // The space before the name goes with it: a run of right-to-left words keeps its
    // trailing space at the run's far end.
    const size_t start = product_at > 0 && headline[product_at - 1] == L' ' ? product_at - 1
                                                                            : product_at;
    CHARRANGE range = {static_cast<LONG>(start), static_cast<LONG>(product_at + product.size())};
    SetRichEditRangeColor(headline_control, RGB(0, 0, 0), range);
  }
}

void InstallerWindow::ApplyReadingDirection() {
  const bool rtl = IsRightToLeftLanguage(GetCurrentLanguageId());
  // An open list is a window of its own, which would keep its place while the window
  // mirrors under it and catch a click meant for what now lies there: it opens again in
  // its new place.
  if (rtl != ((GetWindowLongPtrW(dialog_.Get(), GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0))
    options_panel_->CloseListsForRelayout();
  // The panel's own children first: mirroring the main dialog mirrors the panel's style.
  if (options_) MirrorWindowAndChildren(options_, rtl);
  MirrorWindowAndChildren(dialog_.Get(), rtl);
  for (int id : {HEADLINE, TERMS_AGREEMENT}) {
    HWND edit = Item(id);
    PARAFORMAT2 format = {};
    format.cbSize = sizeof(format);
    format.dwMask = PFM_RTLPARA;
    format.wEffects = rtl ? PFE_RTLPARA : 0;
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    SendMessageW(edit, EM_SETSEL, 0, 0);
  }
  RebuildBackground();
  InvalidatePage();
}

void InstallerWindow::InvalidatePage() {
  InvalidateRect(dialog_.Get(), nullptr, TRUE);
  // The dialog's erase reaches under its transparent rich edits, which then draw again.
  for (int id : {HEADLINE, TERMS_AGREEMENT}) InvalidateRect(Item(id), nullptr, TRUE);
}

void InstallerWindow::SizeFullPackageButton() {
  // The button grows towards Back from beside Retry; where a long text would reach Back,
  // it takes two lines and grows upwards instead.
  const int kPadding = 30;
  // The least a one-line text leaves to the button's edges: its frame and focus rectangle.
  const int kTightPadding = 8;
  const int kGap = 8;
  HWND full = Item(FULL_PACKAGE_BUTTON);
  const std::wstring text = GetWindowString(full);
  const RECT full_rect = RectInDialog(full, dialog_.Get());
  const RECT retry_rect = RectInDialog(Item(RETRY_BUTTON), dialog_.Get());
  const RECT back_rect = RectInDialog(Item(BACK_BUTTON), dialog_.Get());
  const int line_height = retry_rect.bottom - retry_rect.top;
  const int room = full_rect.right - back_rect.right - kGap;
  const int text_width = TextSize(full, text, 0).cx;
  int width = std::max<int>(text_width + kPadding, retry_rect.right - retry_rect.left);
  int height = line_height;
  const LONG_PTR style = GetWindowLongPtrW(full, GWL_STYLE);
  if (width > room) {
    width = room;
    if (text_width + kTightPadding > room) {
      height = std::max<int>(line_height,
                             TextSize(full, text, width - kTightPadding).cy + line_height / 2);
    }
  }
  SetWindowLongPtrW(full, GWL_STYLE,
                    height > line_height ? style | BS_MULTILINE : style & ~BS_MULTILINE);
  SetWindowPos(full, nullptr, full_rect.right - width, full_rect.bottom - height, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void InstallerWindow::OnFlagChanged() { options_panel_->Refresh(); }
void InstallerWindow::OnLanguageChanged() { UpdateTexts(); }
void InstallerWindow::OnPathChanged() { options_panel_->Refresh(); }

void InstallerWindow::SetProgressPhase(int phase) {
  int id = 37027;
  std::wstring argument;
  if (phase == 0 || phase == 1) {
    id = 37025;
  } else if (phase == 2) {
    id = 37026;
  } else if (IsUninstall()) {
    id = 37029;
  } else if (!settings_->flag(Settings::COPY_ONLY) &&
             !settings_->flag(Settings::ALL_USERS_FLAG)) {
    id = 37028;
    argument = GetUserNameOfFormat(NameDisplay);
    if (argument.empty()) argument = GetUserNameOfFormat(NameUnknown);
  }
  SetWindowTextW(Item(PROGRESS_TEXT), GetLocalizedStringWithArg(id, argument).c_str());
}

void InstallerWindow::ShowProgress(int position, int range) {
  SetPage(PAGE_PROGRESS);
  HWND bar = Item(PROGRESS_BAR);
  SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(position), range);
  SendMessageW(bar, PBM_SETSTEP, 1, 0);
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void InstallerWindow::SetProgressPosition(int position) {
  HWND bar = Item(PROGRESS_BAR);
  int current = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  if (position <= current) return;
  if (position - current > 10) {
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    return;
  }
  for (; current < position; ++current) SendMessageW(bar, PBM_STEPIT, 0, 0);
}

void InstallerWindow::ShowError(const std::wstring& text, bool offer_full_package,
                                const std::string& message) {
  SetPage(PAGE_ERROR);
  ShowWindow(Item(FULL_PACKAGE_BUTTON), offer_full_package ? SW_SHOWNA : SW_HIDE);
  LOG(INFO) << "Displaying error: \"" << text << "\" and " << (offer_full_package ? "" : "don't ")
            << "offer full package";
  if (run_immediately_ || IsUninstall()) ShowWindow(Item(BACK_BUTTON), SW_HIDE);
  SetWindowTextW(Item(PROGRESS_TEXT), text.c_str());
  page_stats_->SetString("failure_reason", message);
}

void InstallerWindow::ShowFatalError(const std::wstring& text) {
  // One button: the answer is only that the user has read it.
  static_cast<void>(ShowMessageBox(text, MB_OK | MB_ICONERROR));
  if (page_stats_) page_stats_->SetString("error_displayed", base::WideToUTF8(text));
  delegates_.Notify(&InstallerWindowDelegate::OnCancel);
}

int InstallerWindow::ShowMessageBox(const std::wstring& text, UINT type) {
  std::wstring caption = GetLocalizedString(37000);
  if (IsRightToLeftLanguage(GetCurrentLanguageId())) type |= MB_RTLREADING | MB_RIGHT;
  const ModalBoxKeys keys(dialog_.Get());
  return message_box_ ? message_box_(dialog_.Get(), text, caption, type)
                      : SystemMessageBox(dialog_.Get(), text, caption, type);
}

void InstallerWindow::RecordNavigation(const char* name) {
  if (!page_stats_) return;
  page_stats_->SetString("navigation_action", name);
  page_stats_->SetTimeAndElapsed("navigation_time");
}

void InstallerWindow::CloseMessageBox() {
  // Ends the box's own loop as "No" would: whatever it asked is no longer to be decided.
  if (g_message_box && IsWindow(g_message_box)) EndDialog(g_message_box, IDNO);
}

void InstallerWindow::ConfirmCancel() {
  int answer = ShowMessageBox(GetLocalizedString(IsUninstall() ? 37039 : 37038),
                              MB_YESNO | MB_ICONQUESTION);
  if (answer != IDYES) return;
  RecordNavigation("CANCEL");
  delegates_.Notify(&InstallerWindowDelegate::OnCancel);
}

void InstallerWindow::OnButton(int id) {
  switch (id) {
    case ACCEPT_BUTTON:
    case RETRY_BUTTON:
    case UNINSTALL_BUTTON:
      RecordNavigation(id == ACCEPT_BUTTON ? "ACCEPT" : id == RETRY_BUTTON ? "RETRY" : "UNINSTALL");
      delegates_.Notify(&InstallerWindowDelegate::OnAccept);
      break;
    case OPTIONS_BUTTON:
      RecordNavigation("OPTIONS");
      SetPage(PAGE_OPTIONS);
      break;
    case BACK_BUTTON:
      RecordNavigation("BACK");
      SetPage(PAGE_WELCOME);
      break;
    case FULL_PACKAGE_BUTTON:
      RecordNavigation("FULL_PACKAGE");
      delegates_.Notify(&InstallerWindowDelegate::OnObtainFullPackage);
      break;
    case CANCEL_BUTTON:
      ConfirmCancel();
      break;
  }
}

void InstallerWindow::OnLink(const NMHDR* notification) {
  if (notification->idFrom != TERMS_AGREEMENT || !IsLinkClick(notification)) return;
  const ENLINK* link = reinterpret_cast<const ENLINK*>(notification);
  std::wstring target = GetLinkTargetFromRangeText(GetLinkRangeText(notification->hwndFrom, *link));
  // A control that reports only the link's label: the text has one link.
  if (target.empty()) target = options_panel_->tos_link_target();
  FollowLink(target);
}

void InstallerWindow::FollowLink(const std::wstring& target) {
  if (target != L"tos") return;
  RecordNavigation("TOS");
  SetPage(PAGE_TOS);
}

void InstallerWindow::OnAgreementCommand(int code) {
  HWND agreement = Item(TERMS_AGREEMENT);
  if (code == BN_CLICKED) {
    FollowLink(options_panel_->tos_link_target());
  } else if (code == EN_SETFOCUS) {
    // The link the keyboard reached shows selected.
    const std::wstring& label = options_panel_->tos_link_label();
    FINDTEXTEXW find = {{0, -1}, label.c_str(), {0, 0}};
    if (!label.empty() &&
        SendMessageW(agreement, EM_FINDTEXTEXW, FR_DOWN, reinterpret_cast<LPARAM>(&find)) >= 0) {
      SendMessageW(agreement, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&find.chrgText));
    }
  } else if (code == EN_KILLFOCUS) {
    SendMessageW(agreement, EM_SETSEL, 0, 0);
  }
}

// static
INT_PTR CALLBACK InstallerWindow::MainDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    InstallerWindow* self = reinterpret_cast<InstallerWindow*>(lparam);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    self->dialog_.Reset(dialog);
    self->InitMainDialog();
    return FALSE;
  }
  InstallerWindow* self =
      reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  return self ? self->OnMainMessage(message, wparam, lparam) : FALSE;
}

// static
INT_PTR CALLBACK InstallerWindow::OptionsDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                                    LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    InstallerWindow* self = reinterpret_cast<InstallerWindow*>(lparam);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    self->options_ = dialog;
    self->options_panel_->Init(self->dialog_.Get(), dialog, self->run_immediately_,
                               self->painter_.bold_font());
    return FALSE;
  }
  InstallerWindow* self =
      reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  return self ? self->OnOptionsMessage(message, wparam, lparam) : FALSE;
}

INT_PTR InstallerWindow::OnMainMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATE:
      TrackDialogActivation(dialog_.Get(), wparam);
      return OnActivate(wparam) ? TRUE : FALSE;
    case WM_SETFOCUS:
      // The dialog manager would hand the focus on to the first tab stop.
      return RestoreFocus() ? TRUE : FALSE;
    case WM_CLOSE:
      ConfirmCancel();
      return TRUE;
    case WM_COMMAND:
      // The dialog manager presses the focused button at Enter through this dialog, also
      // when the button is the options panel's: the panel's own command.
      if (lparam && GetParent(reinterpret_cast<HWND>(lparam)) == options_) {
        options_panel_->OnCommand(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
      }
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      OnLink(reinterpret_cast<const NMHDR*>(lparam));
      return FALSE;
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lparam) != Item(TERMS_SCROLL_BAR)) return FALSE;
      OnTermsScroll(Item(TERMS_TEXT), Item(TERMS_SCROLL_BAR), wparam);
      return TRUE;
    case WM_MOVE:
    case WM_SIZE:
    case WM_THEMECHANGED:
      // A minimised window's client area is empty: its background is built again when it
      // is restored, and everything drawn on the old one is drawn again. Minimising need
      // not deactivate the window (Wine's does not): the focus is kept here too.
      if (IsIconic(dialog_.Get())) {
        if (message == WM_SIZE) SaveFocus();
        return FALSE;
      }
      RebuildBackground();
      if (message != WM_MOVE) RedrawWindow(dialog_.Get(), nullptr, nullptr,
                                           RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      return FALSE;
    case WM_ERASEBKGND:
      if (page_ == PAGE_OPTIONS || !painter_.has_background()) return FALSE;
      painter_.EraseBackground(reinterpret_cast<HDC>(wparam));
      SetWindowLongPtrW(dialog_.Get(), DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_DRAWITEM:
      if (wparam != LOGO) return FALSE;
      painter_.DrawLogo(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam), error_page_shown_,
                        page_ == PAGE_OPTIONS);
      return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(OnControlColor(reinterpret_cast<HDC>(wparam),
                                                      reinterpret_cast<HWND>(lparam), false,
                                                      message));
  }
  return FALSE;
}

bool InstallerWindow::OnActivate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    SaveFocus();
    return false;
  }
  return !HIWORD(wparam) && RestoreFocus();
}

void InstallerWindow::SaveFocus() {
  HWND focus = GetFocus();
  if (focus && IsChild(dialog_.Get(), focus)) saved_focus_ = focus;
}

bool InstallerWindow::RestoreFocus() {
  if (!saved_focus_ || !IsWindow(saved_focus_) || !IsWindowVisible(saved_focus_) ||
      !IsWindowEnabled(saved_focus_)) {
    return false;
  }
  SetFocus(saved_focus_);
  return true;
}

void InstallerWindow::OnCommand(int id, int code) {
  if (id == TERMS_AGREEMENT) {
    OnAgreementCommand(code);
    return;
  }
  if (id == MAIN_PATH_BOX || id == MAIN_CHANGE_FOLDER_BUTTON || id == DELETE_PROFILE_BOX) {
    options_panel_->OnCommand(id, code);
    return;
  }
  // Escape (IDCANCEL from the dialog manager) does what closing the window does.
  if (id == IDCANCEL) {
    ConfirmCancel();
    return;
  }
  // A button acts only where its page shows it usable: the dialog manager presses its
  // default at Enter even when hidden (the progress page keeps the one before).
  HWND button = Item(id);
  if (code == BN_CLICKED && button && IsWindowVisible(button) && IsWindowEnabled(button))
    OnButton(id);
}

HBRUSH InstallerWindow::OnControlColor(HDC dc, HWND control, bool options_panel, UINT message) {
  return painter_.OnControlColor(dc, control, options_panel, page_ == PAGE_OPTIONS, message);
}

INT_PTR InstallerWindow::OnOptionsMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      options_panel_->OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(OnControlColor(reinterpret_cast<HDC>(wparam),
                                                      reinterpret_cast<HWND>(lparam), true,
                                                      message));
  }
  return FALSE;
}

}  // namespace installer