#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <uxtheme.h>
#define SECURITY_WIN32
#include <security.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/association_interfaces.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/ui/resource_images.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

const int kMainDialogTemplate = 101;
const int kOptionsDialogTemplate = 138;

const COLORREF kLinkColor = 0x686868;
const COLORREF kHeadlineColor = 0x2C1BFF;
const COLORREF kWarningColor = RGB(255, 0, 0);

// Controls governed by the page table, and the pages (bit n for page n) showing each.
struct PageVisibility {
  int control;
  unsigned pages;
};
const PageVisibility kPageVisibility[] = {
    {InstallerWindow::LOGO, 0x33},
    {InstallerWindow::TERMS_TEXT, 0x04},
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

int SystemMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                     UINT type) {
  HHOOK previous = g_message_box_hook;
  HWND previous_box = g_message_box;
  g_message_box = nullptr;
  g_message_box_hook =
      SetWindowsHookExW(WH_CBT, RenameMessageBoxButtons, nullptr, GetCurrentThreadId());
  int result = MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  if (g_message_box_hook) UnhookWindowsHookEx(g_message_box_hook);
  g_message_box_hook = previous;
  g_message_box = previous_box;
  return result;
}

HFONT MakeFont(int points, int weight, const wchar_t* face, DWORD quality, DWORD pitch) {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality, pitch,
                     face);
}

std::wstring GetWindowString(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  int copied = GetWindowTextW(window, &text[0], static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

// Languages written from right to left get a mirrored window.
bool IsRightToLeftLanguage(LANGID language) {
  const WORD primary = PRIMARYLANGID(language);
  return primary == LANG_ARABIC || primary == LANG_HEBREW || primary == LANG_PERSIAN;
}

bool SetLayoutRightToLeft(HWND window, bool rtl) {
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  const LONG_PTR wanted = rtl ? style | WS_EX_LAYOUTRTL : style & ~WS_EX_LAYOUTRTL;
  if (wanted == style) return false;
  SetWindowLongPtrW(window, GWL_EXSTYLE, wanted);
  return true;
}

// Mirrors |parent| and its children: each child keeps its distance from the leading
// edge, which moves to the other side.
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
    SetLayoutRightToLeft(place.child, rtl);
    SetWindowPos(place.child, nullptr, place.leading.x, place.leading.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(parent, nullptr, TRUE);
}

void DeleteObjectIfAny(HGDIOBJ object) {
  if (object) DeleteObject(object);
}

// Whether the system's application-association registration service can be made.
bool HasAssociationService() {
  HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IUnknown* service = nullptr;
  HRESULT made = CoCreateInstance(kClsidApplicationAssociationRegistration, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&service));
  if (service) service->Release();
  if (SUCCEEDED(initialized)) CoUninitialize();
  return SUCCEEDED(made);
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

}  // namespace

// static
std::unique_ptr<InstallerWindow> InstallerWindow::Create(Settings* settings,
                                                         std::unique_ptr<StatsNode> stats,
                                                         bool run_immediately) {
  std::unique_ptr<InstallerWindow> window(
      new InstallerWindow(settings, std::move(stats), run_immediately));
  if (!window->CreateDialogs()) {
    PLOG(ERROR) << "Window creation failed.";
    return nullptr;
  }
  return window;
}

InstallerWindow::InstallerWindow(Settings* settings, std::unique_ptr<StatsNode> stats,
                                 bool run_immediately)
    : settings_(settings),
      run_immediately_(run_immediately),
      white_brush_(CreateSolidBrush(RGB(255, 255, 255))),
      stats_(std::move(stats)) {}

InstallerWindow::~InstallerWindow() {
  CloseMessageBox();
  if (tooltip_) DestroyWindow(tooltip_);
  if (!run_immediately_) settings_->RemoveObserver(this);
  if (dialog_) {
    Win32DialogDispatcher::GetInstance()->UnsetActiveDialog(dialog_);
    SetWindowLongPtrW(dialog_, GWLP_USERDATA, 0);
    if (options_) SetWindowLongPtrW(options_, GWLP_USERDATA, 0);
    DestroyWindow(dialog_);
  }
  page_stats_.reset();
  stats_.reset();
  ClearBrushes();
  DeleteObjectIfAny(white_brush_);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(logo_), static_cast<HGDIOBJ>(error_badge_),
                         static_cast<HGDIOBJ>(background_image_),
                         static_cast<HGDIOBJ>(background_), static_cast<HGDIOBJ>(normal_font_),
                         static_cast<HGDIOBJ>(bold_font_), static_cast<HGDIOBJ>(title_font_),
                         static_cast<HGDIOBJ>(headline_font_)}) {
    DeleteObjectIfAny(object);
  }
}

// static
const char* InstallerWindow::GetPageName(int page) {
  static const char* const kNames[] = {"WELCOME", "UNINSTALL", "TOS",
                                       "OPTIONS", "PROGRESS",  "ERROR"};
  return page >= 0 && page < 6 ? kNames[page] : "invalid";
}

// static
bool InstallerWindow::IsShownOnPage(int control, int page) {
  for (const PageVisibility& entry : kPageVisibility) {
    if (entry.control == control) return page >= 0 && page < 6 && (entry.pages >> page) & 1;
  }
  return false;
}

// static
const std::vector<int>& InstallerWindow::GetPageControls() {
  static const std::vector<int>* const controls = [] {
    auto* list = new std::vector<int>;
    for (const PageVisibility& entry : kPageVisibility) list->push_back(entry.control);
    return list;
  }();
  return *controls;
}

bool InstallerWindow::CreateDialogs() {
  InitRichEdit();
  languages_ = LoadAvailableLanguages();
  if (!run_immediately_) settings_->AddObserver(this);
  HWND dialog = CreateDialogParamW(GetResourceModule(), MAKEINTRESOURCEW(kMainDialogTemplate),
                                   nullptr, MainDialogProc, reinterpret_cast<LPARAM>(this));
  if (!dialog) return false;
  options_ = CreateDialogParamW(GetResourceModule(), MAKEINTRESOURCEW(kOptionsDialogTemplate),
                                dialog, OptionsDialogProc, reinterpret_cast<LPARAM>(this));
  if (!options_) return false;
  SetPage(IsUninstall() ? PAGE_UNINSTALL : PAGE_WELCOME);
  ShowWindow(dialog_, SW_SHOW);
  UpdateTexts();
  if (!settings_->fetching_status()) RefreshOptions();
  return true;
}

bool InstallerWindow::IsUninstall() const { return settings_->flag(Settings::UNINSTALL_FLAG); }

HWND InstallerWindow::Item(int id) const {
  HWND item = GetDlgItem(dialog_, id);
  return item || !options_ ? item : GetDlgItem(options_, id);
}

void InstallerWindow::CreateFonts() {
  normal_font_ = MakeFont(8, 378, L"MS Shell Dlg", DEFAULT_QUALITY, DEFAULT_PITCH);
  bold_font_ = MakeFont(8, FW_BOLD, L"MS Shell Dlg", ANTIALIASED_QUALITY, VARIABLE_PITCH);
  title_font_ = MakeFont(14, FW_MEDIUM, L"MS Shell Dlg 2", ANTIALIASED_QUALITY, DEFAULT_PITCH);
  headline_font_ = MakeFont(22, FW_BLACK, L"Segoe UI", ANTIALIASED_QUALITY, DEFAULT_PITCH);
}

void InstallerWindow::InitMainDialog() {
  logo_ = LoadBitmapFromResource(MAKEINTRESOURCEW(140), L"PNG");
  error_badge_ = LoadBitmapFromResource(MAKEINTRESOURCEW(141), L"PNG");
  background_image_ = LoadBitmapFromResource(MAKEINTRESOURCEW(139), L"JPG");
  CreateFonts();
  SetHostWindowIcon(dialog_);
  SendMessageW(Item(UNINSTALL_QUESTION), WM_SETFONT, reinterpret_cast<WPARAM>(bold_font_), FALSE);
  HWND agreement = Item(TERMS_AGREEMENT);
  LRESULT mask = SendMessageW(agreement, EM_GETEVENTMASK, 0, 0);
  SendMessageW(agreement, EM_SETEVENTMASK, 0, mask | ENM_LINK);
  HideCaretSubclass(agreement);
  for (int id : {THANK_YOU, INSTALL_FAILED_TITLE, UNINSTALL_FAILED_TITLE})
    SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(title_font_), FALSE);
  HideCaretSubclass(Item(HEADLINE));
  SendMessageW(Item(HEADLINE), WM_SETFONT, reinterpret_cast<WPARAM>(headline_font_), FALSE);
  RebuildBackground();
  if (run_immediately_) {
    SetPage(PAGE_PROGRESS);
    return;
  }
  if (IsUninstall()) return;
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

void InstallerWindow::InitOptionsPanel() {
  if (run_immediately_) return;
  base::OsVersion version = base::GetWindowsVersion();
  bool show_default_browser =
      version < base::OS_VERSION_WIN8 ||
      (version >= base::OS_VERSION_WIN10 && HasAssociationService());
  ShowWindow(GetDlgItem(options_, DEFAULT_BROWSER_BOX), show_default_browser ? SW_SHOW : SW_HIDE);
  SendMessageW(GetDlgItem(options_, INVALID_PATH_WARNING), WM_SETFONT,
               reinterpret_cast<WPARAM>(bold_font_), FALSE);
  RECT button, path;
  HWND change = GetDlgItem(options_, CHANGE_FOLDER_BUTTON);
  GetWindowRect(change, &button);
  GetWindowRect(GetDlgItem(options_, PATH_BOX), &path);
  MapWindowPoints(nullptr, options_, reinterpret_cast<POINT*>(&button), 2);
  SetWindowPos(change, nullptr, 0, 0, button.right - button.left, path.bottom - path.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_USEVISUALSTYLE, 0, 0,
                             0, 0, dialog_, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!tooltip_) return;
  TOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = options_;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(options_, MODE_BOX));
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 300);
}

void InstallerWindow::SetPage(int page) {
  if (page == page_) return;
  page_stats_ = stats_->AppendDictionaryToList("ui.page_sequence");
  page_stats_->SetString("page_type", GetPageName(page));
  int focus = 0;
  if (page == PAGE_WELCOME || page == PAGE_TOS || page == PAGE_OPTIONS) focus = ACCEPT_BUTTON;
  if (page == PAGE_UNINSTALL) focus = UNINSTALL_BUTTON;
  if (page == PAGE_ERROR) focus = RETRY_BUTTON;
  if (focus) SetFocus(Item(focus));
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
  InvalidateRect(dialog_, nullptr, TRUE);
  page_ = page;
}

void InstallerWindow::UpdateTexts() {
  bool uninstall = IsUninstall();
  const ControlText* begin = uninstall ? kUninstallTexts : kInstallTexts;
  const ControlText* end = uninstall ? std::end(kUninstallTexts) : std::end(kInstallTexts);
  for (const ControlText* entry = begin; entry != end; ++entry) {
    std::wstring text = GetLocalizedString(entry->string_id);
    if (!text.empty()) SetWindowTextW(Item(entry->control), text.c_str());
  }
  std::wstring product = GetLocalizedString(37023);
  std::wstring headline = GetLocalizedStringWithArg(37022, product);
  HWND headline_control = Item(HEADLINE);
  SetWindowTextW(headline_control, headline.c_str());
  SetRichEditColor(headline_control, kHeadlineColor);
  size_t product_at = product.empty() ? std::wstring::npos : headline.find(product);
  if (product_at != std::wstring::npos) {
    CHARRANGE range = {static_cast<LONG>(product_at),
                       static_cast<LONG>(product_at + product.size())};
    SetRichEditRangeColor(headline_control, RGB(0, 0, 0), range);
  }
  SetWindowTextW(dialog_, GetLocalizedString(37000).c_str());
  ApplyReadingDirection();
  if (!uninstall) {
    FillLanguageBox();
    FillModeBox();
    UpdateTooltipText();
    if (!settings_->fetching_status()) RefreshOptions();
  }
  SizeFullPackageButton();
}

void InstallerWindow::ApplyReadingDirection() {
  const bool rtl = IsRightToLeftLanguage(GetCurrentLanguageId());
  // The panel's own children first: mirroring the main dialog mirrors the panel's style.
  if (options_) MirrorWindowAndChildren(options_, rtl);
  MirrorWindowAndChildren(dialog_, rtl);
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
  InvalidateRect(dialog_, nullptr, TRUE);
}

void InstallerWindow::FillLanguageBox() {
  HWND box = GetDlgItem(options_, LANGUAGE_BOX);
  refreshing_ = true;
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < languages_.size(); ++i) {
    std::wstring name = GetLocalizedStringForLanguageCode(languages_[i], 37051);
    LRESULT index = SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (index < 0) {
      LOG(ERROR) << "Adding item #" << i << " to the language dropdown failed";
      continue;
    }
    SendMessageW(box, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(i));
    if (_wcsicmp(languages_[i].c_str(), settings_->install_language().c_str()) == 0)
      SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  refreshing_ = false;
}

void InstallerWindow::FillModeBox() {
  HWND box = GetDlgItem(options_, MODE_BOX);
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

void InstallerWindow::UpdateTooltipText() {
  if (!tooltip_) return;
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
  tool.hwnd = options_;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(options_, MODE_BOX));
  tool.lpszText = &text[0];
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void InstallerWindow::SizeFullPackageButton() {
  HWND full = Item(FULL_PACKAGE_BUTTON);
  HWND retry = Item(RETRY_BUTTON);
  std::wstring text = GetWindowString(full);
  HDC dc = GetDC(full);
  if (!dc) return;
  HGDIOBJ old_font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(full, WM_GETFONT, 0, 0)));
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old_font);
  ReleaseDC(full, dc);
  RECT full_rect, retry_rect;
  GetWindowRect(full, &full_rect);
  GetWindowRect(retry, &retry_rect);
  MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&full_rect), 2);
  int width = std::max<int>(size.cx + 30, retry_rect.right - retry_rect.left);
  SetWindowPos(full, nullptr, full_rect.right - width, full_rect.top, width,
               full_rect.bottom - full_rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void InstallerWindow::RefreshOptions() {
  const InstallTarget& target = settings_->target();
  bool valid = target.valid_install_path;
  bool shield = valid && NeedsElevation(settings_->flag(Settings::ALL_USERS_FLAG),
                                        settings_->status().write_access() != 0);
  bool vista_or_later = base::GetWindowsVersion() >= base::OS_VERSION_VISTA;
  refreshing_ = true;
  if (IsUninstall()) {
    if (vista_or_later) SendMessageW(Item(UNINSTALL_BUTTON), BCM_SETSHIELD, 0, shield);
    HWND delete_profile = Item(DELETE_PROFILE_BOX);
    if (page_ == PAGE_UNINSTALL)
      ShowWindow(delete_profile, settings_->can_delete_profile() ? SW_SHOWNA : SW_HIDE);
    CheckDlgButton(dialog_, DELETE_PROFILE_BOX,
                   settings_->flag(Settings::DELETE_PROFILE) ? BST_CHECKED : BST_UNCHECKED);
    refreshing_ = false;
    return;
  }
  HWND mode_box = GetDlgItem(options_, MODE_BOX);
  // A folder the installation cannot use leaves the operation undecided: the mode stays
  // changeable, so that a mode without a usable folder can be left again.
  const int operation = settings_->operation();
  EnableWindow(mode_box, operation == Settings::OPERATION_INSTALL ||
                             (operation == Settings::OPERATION_INVALID && !valid));
  int mode = settings_->flag(Settings::COPY_ONLY) ? 2
             : settings_->flag(Settings::ALL_USERS_FLAG) ? 0
                                                         : 1;
  SendMessageW(mode_box, CB_SETCURSEL, static_cast<WPARAM>(mode), 0);
  std::wstring accept = GetLocalizedString(target.existing_installation ? 37008 : 37007);
  SetWindowTextW(Item(ACCEPT_BUTTON), accept.c_str());
  std::wstring agreement = GetLocalizedStringWithArg(37005, accept);
  std::vector<std::wstring> targets = GetAnchorTargets(agreement);
  tos_link_target_ = targets.empty() ? std::wstring() : targets.front();
  SetRichEditTextWithLinks(Item(TERMS_AGREEMENT), agreement, kLinkColor);
  if (vista_or_later) {
    SendMessageW(Item(ACCEPT_BUTTON), BCM_SETSHIELD, 0, shield);
    SendMessageW(Item(RETRY_BUTTON), BCM_SETSHIELD, 0, shield);
  }
  EnableWindow(GetDlgItem(options_, DEFAULT_BROWSER_BOX), !settings_->flag(Settings::COPY_ONLY));
  CheckDlgButton(options_, DEFAULT_BROWSER_BOX,
                 settings_->flag(Settings::DEFAULT_BROWSER) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(options_, IMPORT_DATA_BOX,
                 settings_->flag(Settings::IMPORT_BROWSER_DATA) ? BST_CHECKED : BST_UNCHECKED);
  bool stats = settings_->flag(Settings::ENABLE_VELUM_STATS) ||
               settings_->flag(Settings::ENABLE_INSTALLER_STATS);
  CheckDlgButton(options_, SHARE_STATS_BOX, stats ? BST_CHECKED : BST_UNCHECKED);
  RefreshPathBox();
  // BACK leaves the options whatever the folder: only ACCEPT needs a usable one.
  EnableWindow(Item(ACCEPT_BUTTON), valid);
  ShowWindow(GetDlgItem(options_, INVALID_PATH_WARNING), valid ? SW_HIDE : SW_SHOWNA);
  refreshing_ = false;
}

void InstallerWindow::RefreshPathBox() {
  HWND box = GetDlgItem(options_, PATH_BOX);
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
  for (size_t i = 0; same_list && i < suggestions.size(); ++i) {
    LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, i, 0);
    std::wstring entry(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&entry[0]));
    same_list = wcscmp(entry.c_str(), suggestions[i].value().c_str()) == 0;
  }
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

void InstallerWindow::OnFlagChanged() { RefreshOptions(); }
void InstallerWindow::OnLanguageChanged() { UpdateTexts(); }
void InstallerWindow::OnPathChanged() { RefreshOptions(); }

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
  ShowMessageBox(text, MB_OK | MB_ICONERROR);
  if (page_stats_) page_stats_->SetString("error_displayed", base::WideToUTF8(text));
  delegates_.Notify(&InstallerWindowDelegate::OnCancel);
}

int InstallerWindow::ShowMessageBox(const std::wstring& text, UINT type) {
  std::wstring caption = GetLocalizedString(37000);
  return message_box_ ? message_box_(dialog_, text, caption, type)
                      : SystemMessageBox(dialog_, text, caption, type);
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
  if (target.empty()) target = tos_link_target_;
  if (target != L"tos") return;
  RecordNavigation("TOS");
  SetPage(PAGE_TOS);
}

bool InstallerWindow::CountChange(const char* counter) {
  if (page_stats_) page_stats_->Increment(counter);
  if (settings_->changeable()) return true;
  RefreshOptions();
  return false;
}

void InstallerWindow::ApplyPathText(HWND box, const char* counter, bool selected_entry) {
  if (!CountChange(counter)) return;
  std::wstring text;
  // While the selection changes, the edit part still holds the previous text.
  LRESULT selected = selected_entry ? SendMessageW(box, CB_GETCURSEL, 0, 0) : -1;
  if (selected >= 0) {
    LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    text.assign(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                 reinterpret_cast<LPARAM>(&text[0]));
    text.resize(wcslen(text.c_str()));
  } else {
    text = GetWindowString(box);
  }
  typing_path_ = !selected_entry;
  settings_->SetInstallFolder(base::FilePath(text));
  typing_path_ = false;
}

void InstallerWindow::OnOptionsCommand(int id, int code) {
  if (refreshing_) return;
  HWND control = Item(id);
  bool checked = code == BN_CLICKED &&
                 SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
  switch (id) {
    case LANGUAGE_BOX: {
      if (code != CBN_SELCHANGE || !CountChange("changed_language")) return;
      LRESULT selected = SendMessageW(control, CB_GETCURSEL, 0, 0);
      LRESULT index = selected < 0 ? -1 : SendMessageW(control, CB_GETITEMDATA,
                                                      static_cast<WPARAM>(selected), 0);
      if (index >= 0 && static_cast<size_t>(index) < languages_.size())
        settings_->SetInstallLanguage(languages_[static_cast<size_t>(index)]);
      return;
    }
    case MODE_BOX: {
      if (code != CBN_SELCHANGE || !CountChange("changed_install_mode")) return;
      LRESULT selected = SendMessageW(control, CB_GETCURSEL, 0, 0);
      if (selected >= 0) settings_->SetMode(static_cast<int>(selected));
      return;
    }
    case PATH_BOX:
      if (code == CBN_SELCHANGE) ApplyPathText(control, "changed_install_path", true);
      if (code == CBN_EDITCHANGE) ApplyPathText(control, "edited_install_path", false);
      return;
    case MAIN_PATH_BOX:
      if (code == CBN_SELCHANGE)
        ApplyPathText(control, "changed_install_path_from_main_screen", true);
      if (code == CBN_EDITCHANGE)
        ApplyPathText(control, "edited_install_path_from_main_screen", false);
      return;
    case CHANGE_FOLDER_BUTTON:
    case MAIN_CHANGE_FOLDER_BUTTON:
      if (code == BN_CLICKED) BrowseForFolder();
      return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case DEFAULT_BROWSER_BOX:
      if (CountChange("changed_make_default_browser"))
        settings_->SetFlag(Settings::DEFAULT_BROWSER, checked);
      return;
    case IMPORT_DATA_BOX:
      if (CountChange("changed_import_data"))
        settings_->SetFlag(Settings::IMPORT_BROWSER_DATA, checked);
      return;
    case SHARE_STATS_BOX:
      if (CountChange("changed_enable_stats")) {
        settings_->SetFlag(Settings::ENABLE_VELUM_STATS, checked);
        settings_->SetFlag(Settings::ENABLE_INSTALLER_STATS, checked);
      }
      return;
    case DELETE_PROFILE_BOX:
      if (CountChange("changed_delete_profile"))
        settings_->SetFlag(Settings::DELETE_PROFILE, checked);
      return;
  }
}

namespace {

int CALLBACK SelectStartFolder(HWND browser, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

void InstallerWindow::BrowseForFolder() {
  HWND path_box = GetDlgItem(options_, PATH_BOX);
  std::wstring start = GetWindowString(path_box);
  std::wstring title = GetLocalizedString(37031);
  BROWSEINFOW info = {};
  info.hwndOwner = dialog_;
  info.lpszTitle = title.c_str();
  info.ulFlags = 0x51;  // file-system folders only, new dialog style, edit box
  info.lpfn = SelectStartFolder;
  info.lParam = reinterpret_cast<LPARAM>(start.c_str());
  const base::ScopedCoTaskMem<ITEMIDLIST_ABSOLUTE> selection(SHBrowseForFolderW(&info));
  if (!selection.IsValid()) return;
  std::wstring chosen;
  IShellFolder* desktop = nullptr;
  if (SUCCEEDED(SHGetDesktopFolder(&desktop))) {
    STRRET name = {};
    wchar_t* parsed = nullptr;
    if (SUCCEEDED(desktop->GetDisplayNameOf(selection.Get(), SHGDN_FORPARSING, &name)) &&
        SUCCEEDED(StrRetToStrW(&name, selection.Get(), &parsed))) {
      const base::ScopedCoTaskMem<wchar_t> owned(parsed);
      chosen = owned.Get();
    }
    desktop->Release();
  }
  if (chosen.empty()) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(selection.Get(), path)) chosen = path;
  }
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

void InstallerWindow::ClearBrushes() {
  for (auto& entry : brushes_) DeleteObject(entry.second);
  brushes_.clear();
}

void InstallerWindow::RebuildBackground() {
  RECT client;
  GetClientRect(dialog_, &client);
  HDC screen = GetDC(dialog_);
  if (!screen) return;
  HDC target = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(dialog_, screen);
  if (!target || !bitmap) {
    if (target) DeleteDC(target);
    DeleteObjectIfAny(bitmap);
    return;
  }
  HGDIOBJ old_bitmap = SelectObject(target, bitmap);
  FillRect(target, &client, GetSysColorBrush(COLOR_3DFACE));
  if (background_image_) {
    BITMAP image = {};
    GetObjectW(background_image_, sizeof(image), &image);
    HDC source = CreateCompatibleDC(target);
    HGDIOBJ old_source = SelectObject(source, background_image_);
    AlphaBlendBitmap(target, 0, 0, client.right, client.bottom, source, 0, 0, image.bmWidth,
                     image.bmHeight);
    SelectObject(source, old_source);
    DeleteDC(source);
  }
  ClearBrushes();
  if (IsAppThemed()) {
    // The delete-user-data box is drawn by the theme: it gets the background behind it.
    HWND box = Item(DELETE_PROFILE_BOX);
    RECT rect;
    GetWindowRect(box, &rect);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    HDC cut = CreateCompatibleDC(target);
    HBITMAP part = CreateCompatibleBitmap(target, rect.right - rect.left, rect.bottom - rect.top);
    if (cut && part) {
      HGDIOBJ old_cut = SelectObject(cut, part);
      BitBlt(cut, 0, 0, rect.right - rect.left, rect.bottom - rect.top, target, rect.left,
             rect.top, SRCCOPY);
      SelectObject(cut, old_cut);
      HBRUSH brush = CreatePatternBrush(part);
      if (brush) brushes_[box] = brush;
    }
    if (cut) DeleteDC(cut);
    DeleteObjectIfAny(part);
  }
  SelectObject(target, old_bitmap);
  DeleteDC(target);
  DeleteObjectIfAny(background_);
  background_ = bitmap;
}

void InstallerWindow::EraseBackground(HDC dc) {
  RECT client;
  GetClientRect(dialog_, &client);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, background_);
  BitBlt(dc, 0, 0, client.right, client.bottom, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void InstallerWindow::CopyBackgroundUnder(HDC dc, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
  HDC source = CreateCompatibleDC(dc);
  if (!source) return;
  HGDIOBJ old = SelectObject(source, background_);
  BitBlt(dc, 0, 0, rect.right - rect.left, rect.bottom - rect.top, source, rect.left, rect.top,
         SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void InstallerWindow::DrawLogo(const DRAWITEMSTRUCT& item) {
  // The badge comes and goes with the error page: the logo is drawn on fresh background.
  if (background_ && page_ != PAGE_OPTIONS) CopyBackgroundUnder(item.hDC, item.hwndItem);
  HDC source = CreateCompatibleDC(item.hDC);
  if (!source) return;
  const RECT& rect = item.rcItem;
  BITMAP logo = {};
  if (logo_ && GetObjectW(logo_, sizeof(logo), &logo)) {
    HGDIOBJ old = SelectObject(source, logo_);
    int x = rect.left + (rect.right - rect.left - logo.bmWidth) / 2;
    int y = rect.top + (rect.bottom - rect.top - logo.bmHeight) / 2;
    AlphaBlendBitmap(item.hDC, x, y, logo.bmWidth, logo.bmHeight, source, 0, 0, logo.bmWidth,
                     logo.bmHeight);
    BITMAP badge = {};
    if (error_page_shown_ && error_badge_ && GetObjectW(error_badge_, sizeof(badge), &badge)) {
      SelectObject(source, error_badge_);
      // Kept inside the control, which clips it.
      int badge_x = std::min<int>(x + logo.bmWidth - badge.bmWidth + 10, rect.right - badge.bmWidth);
      int badge_y =
          std::min<int>(y + logo.bmHeight - badge.bmHeight + 10, rect.bottom - badge.bmHeight);
      AlphaBlendBitmap(item.hDC, badge_x, badge_y, badge.bmWidth, badge.bmHeight, source, 0, 0,
                       badge.bmWidth, badge.bmHeight);
    }
    SelectObject(source, old);
  }
  DeleteDC(source);
}

HBRUSH InstallerWindow::OnControlColor(HDC dc, HWND control, bool options_panel, UINT message) {
  if (message == WM_CTLCOLORDLG || message == WM_CTLCOLORBTN) return white_brush_;
  if (message != WM_CTLCOLORSTATIC) return nullptr;
  int id = GetDlgCtrlID(control);
  if (!options_panel) {
    if (id == TERMS_TEXT) return GetSysColorBrush(COLOR_WINDOW);
    auto brush = brushes_.find(control);
    if (brush != brushes_.end()) return brush->second;
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, id == INVALID_PATH_WARNING || id == 1028 ? kWarningColor : RGB(0, 0, 0));
  // The options panel and the options page are plain white: a label filled white is
  // erased cleanly when its text changes, where a transparent one would keep the old text.
  if (options_panel || page_ == PAGE_OPTIONS) return white_brush_;
  // The dialog clips its children, so what lies under a transparent control is the
  // background the control copies itself, not what the previous page left there.
  if (background_) CopyBackgroundUnder(dc, control);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

// static
INT_PTR CALLBACK InstallerWindow::MainDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    InstallerWindow* self = reinterpret_cast<InstallerWindow*>(lparam);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    self->dialog_ = dialog;
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
    self->InitOptionsPanel();
    return FALSE;
  }
  InstallerWindow* self =
      reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  return self ? self->OnOptionsMessage(message, wparam, lparam) : FALSE;
}

INT_PTR InstallerWindow::OnMainMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATE:
      TrackDialogActivation(dialog_, wparam);
      return FALSE;
    case WM_CLOSE:
      ConfirmCancel();
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      int code = HIWORD(wparam);
      if (id == TERMS_TEXT && code == EN_SETFOCUS) {
        SendMessageW(Item(TERMS_TEXT), EM_SETSEL, static_cast<WPARAM>(-1), 0);
        return TRUE;
      }
      if (id == MAIN_PATH_BOX || id == MAIN_CHANGE_FOLDER_BUTTON || id == DELETE_PROFILE_BOX) {
        OnOptionsCommand(id, code);
        return TRUE;
      }
      // Escape (IDCANCEL from the dialog manager) does what closing the window does.
      if (id == IDCANCEL) {
        ConfirmCancel();
        return TRUE;
      }
      if (code == BN_CLICKED) OnButton(id);
      return TRUE;
    }
    case WM_NOTIFY:
      OnLink(reinterpret_cast<const NMHDR*>(lparam));
      return FALSE;
    case WM_MOVE:
    case WM_SIZE:
    case WM_THEMECHANGED:
      RebuildBackground();
      return FALSE;
    case WM_ERASEBKGND:
      if (page_ == PAGE_OPTIONS || !background_) return FALSE;
      EraseBackground(reinterpret_cast<HDC>(wparam));
      SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_DRAWITEM:
      if (wparam != LOGO) return FALSE;
      DrawLogo(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
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

INT_PTR InstallerWindow::OnOptionsMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnOptionsCommand(LOWORD(wparam), HIWORD(wparam));
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
