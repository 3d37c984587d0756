#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/command_line.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"
#include "desktop/windows/installer/ui/key_presses.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

using testing::ClickButton;
using testing::GetControlText;
using testing::IsControlShown;
using W = InstallerWindow;

// A machine whose language choice becomes the process's UI language, as the real one's.
class LanguagePlatform : public testing::TestSettingsPlatform {
 public:
  using TestSettingsPlatform::TestSettingsPlatform;
  std::wstring SelectLanguage(const std::wstring& code) override {
    SetCurrentLanguageId(LanguageCodeToLcid(code));
    return code;
  }
};

class RecordingDelegate : public InstallerWindowDelegate {
 public:
  void OnAccept() override { calls.push_back("accept"); }
  void OnCancel() override { calls.push_back("cancel"); }
  void OnObtainFullPackage() override { calls.push_back("full package"); }
  std::vector<std::string> calls;
};

// Runs the queued posted and sent messages, through |dispatcher| first as the UI run loop
// does; Wine's moves for the real pointer, which may rest over an open list, stay queued.
void RunPostedMessages(Win32DialogDispatcher* dispatcher = nullptr) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0,
                      PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE | PM_QS_PAINT)) {
    if (!dispatcher || dispatcher->Dispatch(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

struct KeyRow;
struct Seen;
HWND OpenListOf(HWND box);
bool IsMirrored(HWND window);

class InstallerWindowTest : public ::testing::Test {
 protected:
  // The wizard on its options page, the language box focused as by a user who went there.
  HWND OpenAtLanguageBox() {
    Open(false, false);
    window_->SetPage(W::PAGE_OPTIONS);
    HWND box = GetDlgItem(options(), W::LANGUAGE_BOX);
    SetForegroundWindow(dialog());
    SetFocus(box);
    return box;
  }

  InstallerWindowTest()
      : command_line_(base::CommandLine::StringVector{L"installer.exe"}),
        platform_(scratch_.path().Append(L"Velum")),
        previous_language_(GetCurrentLanguageId()) {}

  void TearDown() override {
    window_.reset();
    settings_.reset();
    testing::PumpPendingMessages();
    SetCurrentLanguageId(previous_language_);
    SetKeyClockForTesting(nullptr);
  }

  void Open(bool uninstall, bool run_immediately) {
    settings_.reset(new Settings(uninstall, false, false,
                                 uninstall ? base::FilePath() : scratch_.path().Append(L"Velum"),
                                 false, 1, &command_line_, &platform_));
    window_ = InstallerWindow::Create(settings_.get(), stats_.root.Clone(), run_immediately,
                                      answers_);
    ASSERT_TRUE(window_);
    window_->AddDelegate(&delegate_);
    window_->set_message_box_for_testing(
        [this](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
          EXPECT_EQ(window_->GetHwnd(), owner);
          EXPECT_EQ(GetLocalizedString(37000), caption);
          boxes_.push_back(text);
          box_types_.push_back(type);
          return box_answer_;
        });
    testing::PumpPendingMessages();
  }

  HWND dialog() const { return window_->GetHwnd(); }
  HWND options() const { return window_->options_panel(); }
  // The control |id| of either dialog; the folder box's edit for the folder box.
  HWND Control(int id);
  // The control shown at screen point |at|.
  HWND ControlAt(POINT at);

  // The key table (KeyActsOnceOnThePageItWasPressedOn), defined beside it: its messages
  // go through |dispatcher_| as the run loop hands them on.
  void PostKey(HWND to, WPARAM code, bool down, bool repeat);
  void Hold(HWND to, WPARAM code);
  // A message at |to| (the focus when null) with its time and pointer, handed on as the run
  // loop does, then what it posted (its characters).
  void Send(HWND to, UINT kind, WPARAM code, LPARAM data, DWORD time, POINT at = {});
  // A key pressed at |time| and let go 60 ms later; a click at |at| (screen) on |on|.
  void Press(WPARAM code, DWORD time);
  void Click(HWND on, DWORD time, POINT at);
  // Another program's window may take the activation, and the focus with it, at any time:
  // the window activated again gives the focus back to the control that had it.
  void KeepActive();
  // The focus, or the open list, made certain; false when it could not be.
  [[nodiscard]] bool FocusOn(int id);
  [[nodiscard]] bool OpenListByKey(int id, DWORD time);
  Seen Look();
  // What the row's acting press makes of what is seen now (|typed| into the folder edit).
  Seen Expected(const KeyRow& row, const std::wstring& typed);
  void PressesOnLinksAndButtonsActOnce();
  void EnterWaitsOnEveryPage();
  void RunKeyRow(const KeyRow& row);
  void Close(const KeyRow& row, DWORD* closed_at, POINT* at);
  void ClosedThen(const KeyRow& row);
  void HeldAcross(const KeyRow& row);
  void HeldOnBox(const KeyRow& row);
  void BrowseList(const KeyRow& row);
  void DoubleClickOptions();
  void DoubleClickNo();
  void DoubleClickCancel();

  // The page types recorded so far, in order.
  std::vector<std::string> PageSequence() {
    std::vector<std::string> pages;
    const base::List* list = nullptr;
    if (!stats_.tree.GetList("ui.page_sequence", &list)) return pages;
    for (size_t i = 0; i < list->size(); ++i) {
      const base::Dictionary* page = nullptr;
      std::string type;
      if (list->GetDictionary(i, &page) && page->GetString("page_type", &type))
        pages.push_back(type);
    }
    return pages;
  }
  const base::Dictionary* PageNode(size_t index) {
    const base::List* list = nullptr;
    const base::Dictionary* page = nullptr;
    // Null when the list or the page is absent.
    if (stats_.tree.GetList("ui.page_sequence", &list)) (void)list->GetDictionary(index, &page);
    return page;
  }
  const base::Dictionary* LastPageNode() { return PageNode(PageSequence().size() - 1); }
  int Counter(const char* key) {
    int value = 0;
    const base::Dictionary* page = LastPageNode();
    if (page) (void)page->GetInteger(key, &value);  // a counter never set is 0
    return value;
  }

  base::ScratchDir scratch_;
  base::CommandLine command_line_;
  LanguagePlatform platform_;
  LANGID previous_language_;
  testing::TestStatsRecord stats_;
  std::unique_ptr<Settings> settings_;
  InstallerWindowAnswers answers_;
  std::unique_ptr<InstallerWindow> window_;
  RecordingDelegate delegate_;
  std::vector<std::wstring> boxes_;
  std::vector<UINT> box_types_;
  int box_answer_ = IDNO;
  Win32DialogDispatcher dispatcher_;
};

// The page table as the product shows it: control, then pages 0 to 5.
const struct {
  int control;
  bool shown[6];
} kVisibility[] = {
    {1000, {1, 1, 0, 0, 1, 1}}, {1012, {0, 0, 1, 0, 0, 0}}, {1013, {0, 0, 1, 1, 0, 1}},
    {1007, {1, 0, 0, 0, 0, 0}}, {1008, {1, 0, 0, 0, 0, 0}}, {1001, {1, 0, 0, 0, 0, 0}},
    {1003, {1, 0, 1, 1, 0, 0}}, {1009, {0, 0, 0, 0, 1, 0}}, {1011, {0, 0, 0, 0, 1, 1}},
    {1025, {0, 0, 0, 0, 1, 0}}, {1010, {0, 0, 0, 0, 0, 1}}, {1038, {0, 0, 0, 0, 0, 1}},
    {1005, {0, 0, 0, 0, 0, 1}}, {1004, {0, 0, 0, 0, 0, 1}}, {1002, {0, 1, 0, 0, 0, 0}},
    {1006, {0, 1, 0, 0, 0, 0}}, {1030, {0, 1, 0, 0, 0, 0}}, {1029, {0, 1, 0, 0, 0, 0}},
};

TEST_F(InstallerWindowTest, VisibleControlsMatchTheTableOnEveryPage) {
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstall" : "install");
    Open(uninstall, false);
    EXPECT_EQ(uninstall ? W::PAGE_UNINSTALL : W::PAGE_WELCOME, window_->page());
    for (int page = 0; page < 6; ++page) {
      SCOPED_TRACE(page);
      window_->SetPage(static_cast<W::Page>(page));
      for (const auto& row : kVisibility) {
        bool expected = row.shown[page];
        // One failure title per kind of run; the delete-profile box only when available.
        if (row.control == 1038 && !uninstall) expected = false;
        if ((row.control == 1009 || row.control == 1010) && uninstall) expected = false;
        EXPECT_EQ(expected, IsControlShown(dialog(), row.control)) << row.control;
      }
      EXPECT_EQ(page == W::PAGE_OPTIONS, IsWindowVisible(options()) != FALSE);
      std::wstring name = std::wstring(uninstall ? L"uninstall_page_" : L"install_page_") +
                          std::to_wstring(page);
      EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), name));
    }
    window_.reset();
  }
}

TEST_F(InstallerWindowTest, FocusAndTextsPerPage) {
  Open(false, false);
  EXPECT_EQ(GetLocalizedString(37006), GetControlText(dialog(), W::OPTIONS_BUTTON));
  EXPECT_EQ(GetLocalizedString(37007), GetControlText(dialog(), W::ACCEPT_BUTTON));
  EXPECT_EQ(GetLocalizedStringWithArg(37022, GetLocalizedString(37023)),
            GetControlText(dialog(), W::HEADLINE));
  // The terms of service with Windows line ends.
  window_->SetPage(W::PAGE_TOS);
  std::wstring terms = GetControlText(dialog(), W::TERMS_TEXT);
  EXPECT_GT(terms.size(), 100u);
  for (size_t i = terms.find(L'\n'); i != std::wstring::npos; i = terms.find(L'\n', i + 1))
    ASSERT_EQ(L'\r', terms[i - 1]);
  KeepActive();
  EXPECT_EQ(GetDlgItem(dialog(), W::ACCEPT_BUTTON), GetFocus());
  window_->ShowError(L"broken", false, "m");
  KeepActive();
  EXPECT_EQ(GetDlgItem(dialog(), W::RETRY_BUTTON), GetFocus());
}

TEST_F(InstallerWindowTest, RunImmediatelySequenceAndNoSettingsObserving) {
  Open(false, true);
  EXPECT_EQ((std::vector<std::string>{"PROGRESS", "WELCOME"}), PageSequence());
  window_->ShowProgress(0, 100);
  EXPECT_EQ((std::vector<std::string>{"PROGRESS", "WELCOME", "PROGRESS"}), PageSequence());
  // The options are not kept in step with the settings.
  bool checked = IsDlgButtonChecked(options(), W::IMPORT_DATA_BOX) == BST_CHECKED;
  EXPECT_TRUE(settings_->SetFlag(Settings::IMPORT_BROWSER_DATA, !checked));
  EXPECT_EQ(checked, IsDlgButtonChecked(options(), W::IMPORT_DATA_BOX) == BST_CHECKED);
  // Without a way back: the error page hides BACK.
  window_->ShowError(L"failed", true, "reason");
  EXPECT_FALSE(IsControlShown(dialog(), W::BACK_BUTTON));
}

TEST_F(InstallerWindowTest, NavigationIsRecordedOnThePageItLeaves) {
  Open(false, false);
  ClickButton(dialog(), W::OPTIONS_BUTTON);
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  window_->SetPage(W::PAGE_OPTIONS);  // the same page again records nothing
  ClickButton(dialog(), W::BACK_BUTTON);
  // The terms link: a left click on the agreement text.
  testing::SendLinkClick(dialog(), W::TERMS_AGREEMENT, CHARRANGE{0, 1});
  EXPECT_EQ(W::PAGE_TOS, window_->page());
  // A link whose instruction names another target goes nowhere.
  window_->SetPage(W::PAGE_WELCOME);
  SetDlgItemTextW(dialog(), W::TERMS_AGREEMENT, L"HYPERLINK \"other\"Other");
  testing::SendLinkClick(dialog(), W::TERMS_AGREEMENT, CHARRANGE{0, 22});
  EXPECT_EQ(W::PAGE_WELCOME, window_->page());
  window_->SetPage(W::PAGE_TOS);
  ClickButton(dialog(), W::ACCEPT_BUTTON);
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "OPTIONS", "WELCOME", "TOS", "WELCOME", "TOS"}),
            PageSequence());
  const char* const kActions[] = {"OPTIONS", "BACK", "TOS"};
  for (size_t i = 0; i < 3; ++i) {
    std::string action, time;
    ASSERT_TRUE(PageNode(i)->GetString("navigation_action", &action));
    EXPECT_EQ(kActions[i], action);
    EXPECT_TRUE(PageNode(i)->GetString("navigation_time.time", &time));
  }
  std::string action;
  EXPECT_FALSE(PageNode(4)->GetString("navigation_action", &action));
  EXPECT_TRUE(PageNode(5)->GetString("navigation_action", &action));
  EXPECT_EQ("ACCEPT", action);
  EXPECT_EQ(std::vector<std::string>{"accept"}, delegate_.calls);
}

TEST_F(InstallerWindowTest, CancelNeedsConfirmation) {
  Open(false, false);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(delegate_.calls.empty());
  ASSERT_EQ(1u, boxes_.size());
  EXPECT_EQ(GetLocalizedString(37038), boxes_[0]);
  EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), box_types_[0]);
  std::string action;
  EXPECT_FALSE(LastPageNode()->GetString("navigation_action", &action));
  box_answer_ = IDYES;
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  EXPECT_EQ(std::vector<std::string>{"cancel"}, delegate_.calls);
  EXPECT_TRUE(LastPageNode()->GetString("navigation_action", &action));
  EXPECT_EQ("CANCEL", action);

  window_->ShowFatalError(L"fatal");
  EXPECT_EQ(L"fatal", boxes_.back());
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), box_types_.back());
  std::string shown;
  EXPECT_TRUE(LastPageNode()->GetString("error_displayed", &shown));
  EXPECT_EQ("fatal", shown);
  EXPECT_EQ((std::vector<std::string>{"cancel", "cancel"}), delegate_.calls);
}

// What the real confirmation box showed: found by a thread timer, which runs inside
// the box's modal loop, and answered "No".
struct ShownBox {
  std::wstring yes, no;
  bool answered = false;
  int ticks = 0;
  // Enter held since before the box opened repeats at its focus, ahead of the answer.
  bool enter_held = false;
  // Answered by a click on No instead, at `pointer`: when. Or first clicked on Yes, at
  // `pointer`. The pointer is the test's own: the screen's is shared with other tests.
  bool click = false;
  bool click_yes_first = false;
  DWORD clicked_at = 0;
  POINT pointer = {};
  // Or first |key_on_yes| pressed on Yes at |key_at|; a box it left open is answered No.
  WPARAM key_on_yes = 0;
  DWORD key_at = 0;
};
ShownBox* g_shown_box = nullptr;

// A click on `button` as the box's own loop meets it (its filter first), with the time and
// pointer the mouse would give it.
void ClickInBox(HWND button, DWORD time, POINT pointer) {
  for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP}) {
    MSG msg = {button, message, message == WM_LBUTTONDOWN ? WPARAM{MK_LBUTTON} : 0,
               MAKELPARAM(2, 2), time, pointer};
    if (!CallMsgFilterW(&msg, MSGF_DIALOGBOX)) DispatchMessageW(&msg);
  }
}

// A key pressed on `button` as the box's own loop meets it (its filter first).
void KeyInBox(HWND button, WPARAM key, DWORD time) {
  for (UINT kind : {WM_KEYDOWN, WM_KEYUP}) {
    MSG msg = {button, kind, key, kind == WM_KEYDOWN ? 1 : 1 | (1 << 30) | (1u << 31), time, {}};
    if (!CallMsgFilterW(&msg, MSGF_DIALOGBOX) && !IsDialogMessageW(GetAncestor(button, GA_ROOT), &msg))
      DispatchMessageW(&msg);
  }
}

BOOL CALLBACK AnswerBoxNo(HWND window, LPARAM) {
  if (!GetDlgItem(window, IDYES) || !GetDlgItem(window, IDNO)) return TRUE;
  g_shown_box->yes = GetControlText(window, IDYES);
  g_shown_box->no = GetControlText(window, IDNO);
  if (g_shown_box->key_on_yes) {
    KeyInBox(GetDlgItem(window, IDYES), g_shown_box->key_on_yes, g_shown_box->key_at);
    g_shown_box->key_on_yes = 0;
    return FALSE;
  }
  g_shown_box->answered = true;
  if (g_shown_box->enter_held)
    PostMessageW(GetDlgItem(window, IDYES), WM_KEYDOWN, VK_RETURN, 1 << 30);
  if (g_shown_box->click_yes_first)
    ClickInBox(GetDlgItem(window, IDYES), GetTickCount(), g_shown_box->pointer);
  if (!g_shown_box->click) {
    PostMessageW(window, WM_COMMAND, IDNO, 0);
    return FALSE;
  }
  g_shown_box->clicked_at = GetTickCount();
  ClickInBox(GetDlgItem(window, IDNO), g_shown_box->clicked_at, g_shown_box->pointer);
  return FALSE;
}

void CALLBACK LookForBox(HWND, UINT, UINT_PTR timer, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), AnswerBoxNo, 0);
  // A box without the expected buttons is answered anyway, so that the test ends.
  if (!g_shown_box->answered && ++g_shown_box->ticks > 500) {
    PostMessageW(GetActiveWindow(), WM_COMMAND, IDNO, 0);
    g_shown_box->answered = true;
  }
  if (g_shown_box->answered) KillTimer(nullptr, timer);
}

// The question has its buttons in the UI language; Enter held since before it opened
// leaves it to the answer given (No).
TEST_F(InstallerWindowTest, SystemConfirmationBoxHasLocalizedButtons) {
  Open(false, false);
  window_->set_message_box_for_testing(InstallerWindow::MessageBoxFunction());
  ShownBox shown;
  shown.enter_held = true;
  g_shown_box = &shown;
  UINT_PTR timer = SetTimer(nullptr, 0, 20, LookForBox);
  ASSERT_NE(0u, timer);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(shown.answered);
  EXPECT_EQ(GetLocalizedString(37003), shown.yes);
  EXPECT_EQ(GetLocalizedString(37004), shown.no);
  EXPECT_TRUE(delegate_.calls.empty());
  g_shown_box = nullptr;
}

// The answered question box hides while it still holds the keyboard focus, and only then
// hands it back to the wizard: a key posted to that focus would go with the box. The end-
// to-end driver posts its keys where KeyTargetOf says, which waits that moment out; a key
// it posts there once the focus is back, however soon, is the wizard's.
struct HiddenBoxFocus {
  bool seen = false;
  bool focus_in_box = false;
  HWND key_target = nullptr;
  HWND tab_posted_to = nullptr;
};
HiddenBoxFocus* g_hidden_box_focus = nullptr;

LRESULT CALLBACK LookAtHidingBox(int code, WPARAM wparam, LPARAM lparam) {
  const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  HiddenBoxFocus* hidden = g_hidden_box_focus;
  if (code == HC_ACTION && call->message == WM_WINDOWPOSCHANGED && GetDlgItem(call->hwnd, IDNO) &&
      (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_HIDEWINDOW) &&
      !hidden->seen) {
    hidden->seen = true;
    HWND focus = GetFocus();
    hidden->focus_in_box = focus == call->hwnd || IsChild(call->hwnd, focus);
    hidden->key_target = testing::KeyTargetOf(GetCurrentThreadId());
  }
  if (code == HC_ACTION && call->message == WM_SETFOCUS && hidden->seen && !hidden->tab_posted_to) {
    HWND target = testing::KeyTargetOf(GetCurrentThreadId());
    if (target) {
      hidden->tab_posted_to = target;
      PostMessageW(target, WM_KEYDOWN, VK_TAB, 1);
      PostMessageW(target, WM_KEYUP, VK_TAB, 1 | (1 << 30) | (1u << 31));
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(InstallerWindowTest, KeysWaitUntilTheAnsweredQuestionGivesTheFocusBack) {
  Open(false, false);
  window_->set_message_box_for_testing(InstallerWindow::MessageBoxFunction());
  HWND accept = GetDlgItem(dialog(), W::ACCEPT_BUTTON);
  SetFocus(accept);
  ASSERT_EQ(accept, testing::KeyTargetOf(GetCurrentThreadId()));
  ShownBox shown;
  g_shown_box = &shown;
  HiddenBoxFocus hidden;
  g_hidden_box_focus = &hidden;
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, LookAtHidingBox, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(hook);
  UINT_PTR timer = SetTimer(nullptr, 0, 20, LookForBox);
  ASSERT_NE(0u, timer);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  UnhookWindowsHookEx(hook);
  g_shown_box = nullptr;
  g_hidden_box_focus = nullptr;
  ASSERT_TRUE(shown.answered);
  ASSERT_TRUE(hidden.seen);
  EXPECT_TRUE(hidden.focus_in_box);
  EXPECT_FALSE(hidden.key_target);
  // Back in the wizard, where the focus was; the Tab pressed there moves it on.
  EXPECT_EQ(accept, hidden.tab_posted_to);
  EXPECT_EQ(accept, testing::KeyTargetOf(GetCurrentThreadId()));
  Win32DialogDispatcher dispatcher;
  dispatcher.SetActiveDialog(dialog());
  RunPostedMessages(&dispatcher);
  HWND moved_to = testing::KeyTargetOf(GetCurrentThreadId());
  EXPECT_TRUE(moved_to && moved_to != accept);
  EXPECT_TRUE(delegate_.calls.empty());
  // A Tab pressed while the next question was up, still queued as the run closed it,
  // was meant for the box: the focus stays where it went back to.
  SetFocus(accept);
  static HWND s_tab_to = nullptr;
  s_tab_to = accept;
  timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = GetActiveWindow();
    if (!box || !GetDlgItem(box, IDNO)) return;
    KillTimer(nullptr, timer);
    PostMessageW(s_tab_to, WM_KEYDOWN, VK_TAB, 1);
    PostMessageW(s_tab_to, WM_KEYUP, VK_TAB, 1 | (1 << 30) | (1u << 31));
    // Pressed clearly before the box goes.
    for (const DWORD pressed = GetTickCount(); GetTickCount() - pressed < 5;) Sleep(1);
    EndDialog(box, IDNO);
  });
  ASSERT_NE(0u, timer);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  RunPostedMessages(&dispatcher);
  EXPECT_EQ(accept, testing::KeyTargetOf(GetCurrentThreadId()));
  EXPECT_TRUE(delegate_.calls.empty());
}

TEST_F(InstallerWindowTest, UninstallCancelAndAccept) {
  Open(true, false);
  bool delete_profile = settings_->flag(Settings::DELETE_PROFILE);
  ClickButton(dialog(), W::DELETE_PROFILE_BOX);
  EXPECT_EQ(!delete_profile, settings_->flag(Settings::DELETE_PROFILE));
  EXPECT_EQ(1, Counter("changed_delete_profile"));
  box_answer_ = IDYES;
  ClickButton(dialog(), W::CANCEL_BUTTON);
  ASSERT_EQ(1u, boxes_.size());
  EXPECT_EQ(GetLocalizedString(37039), boxes_[0]);
  ClickButton(dialog(), W::UNINSTALL_BUTTON);
  EXPECT_EQ((std::vector<std::string>{"cancel", "accept"}), delegate_.calls);
  EXPECT_EQ(GetLocalizedString(37037), GetControlText(dialog(), W::UNINSTALL_BUTTON));
}

TEST_F(InstallerWindowTest, LanguageChangeRetextsAndKeepsTheMode) {
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  testing::SelectComboEntry(options(), W::MODE_BOX, Settings::MODE_STANDALONE);
  std::vector<std::wstring> languages = LoadAvailableLanguages();
  int german = -1;
  for (size_t i = 0; i < languages.size(); ++i) {
    if (languages[i] == L"de") german = static_cast<int>(i);
  }
  ASSERT_GE(german, 0);
  // Each language is offered under its own name.
  std::wstring name = GetLocalizedStringForLanguageCode(L"de", 37051);
  int index = static_cast<int>(SendDlgItemMessageW(options(), W::LANGUAGE_BOX, CB_FINDSTRINGEXACT,
                                                   static_cast<WPARAM>(-1),
                                                   reinterpret_cast<LPARAM>(name.c_str())));
  ASSERT_GE(index, 0);
  testing::SelectComboEntry(options(), W::LANGUAGE_BOX, index);
  EXPECT_EQ(L"de", settings_->install_language());
  EXPECT_EQ(1, Counter("changed_language"));
  LANGID german_id = LanguageCodeToLcid(L"de");
  EXPECT_EQ(LoadStringForLanguage(german_id, 37009, nullptr),
            GetControlText(dialog(), W::BACK_BUTTON));
  EXPECT_EQ(LoadStringForLanguage(german_id, 37010, nullptr),
            GetControlText(options(), W::LANGUAGE_LABEL));
  EXPECT_NE(GetLocalizedStringForLanguageCode(L"en-US", 37009),
            GetControlText(dialog(), W::BACK_BUTTON));
  EXPECT_EQ(2, SendDlgItemMessageW(options(), W::MODE_BOX, CB_GETCURSEL, 0, 0));
  EXPECT_EQ(index, SendDlgItemMessageW(options(), W::LANGUAGE_BOX, CB_GETCURSEL, 0, 0));
  EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"install_page_3_german"));
}

TEST_F(InstallerWindowTest, OptionEditsReachTheSettingsAndTheCounters) {
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  struct Case {
    int box;
    const char* counter;
    int flag;
  };
  const Case kCases[] = {
      {W::IMPORT_DATA_BOX, "changed_import_data", Settings::IMPORT_BROWSER_DATA},
      {W::SHARE_STATS_BOX, "changed_enable_stats", Settings::ENABLE_VELUM_STATS},
      {W::DEFAULT_BROWSER_BOX, "changed_make_default_browser", Settings::DEFAULT_BROWSER},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.counter);
    bool before = settings_->flag(c.flag);
    // The default-browser box may be hidden by the system's version: click it anyway.
    ShowWindow(GetDlgItem(options(), c.box), SW_SHOWNA);
    ClickButton(options(), c.box);
    EXPECT_EQ(!before, settings_->flag(c.flag));
    EXPECT_EQ(1, Counter(c.counter));
    EXPECT_EQ(!before, IsDlgButtonChecked(options(), c.box) == BST_CHECKED);
  }
  EXPECT_EQ(settings_->flag(Settings::ENABLE_VELUM_STATS),
            settings_->flag(Settings::ENABLE_INSTALLER_STATS));

  testing::SelectComboEntry(options(), W::MODE_BOX, Settings::MODE_STANDALONE);
  EXPECT_EQ(Settings::MODE_STANDALONE, settings_->mode());
  EXPECT_EQ(1, Counter("changed_install_mode"));

  base::FilePath typed = scratch_.path().Append(L"Elsewhere");
  testing::TypeComboText(options(), W::PATH_BOX, typed.value());
  EXPECT_EQ(typed.value(), settings_->install_folder().value());
  EXPECT_EQ(1, Counter("edited_install_path"));

  // While the settings cannot change, the click is counted and the box shows the
  // settings again.
  settings_->set_changeable(false);
  bool import = settings_->flag(Settings::IMPORT_BROWSER_DATA);
  ClickButton(options(), W::IMPORT_DATA_BOX);
  EXPECT_EQ(import, settings_->flag(Settings::IMPORT_BROWSER_DATA));
  EXPECT_EQ(import, IsDlgButtonChecked(options(), W::IMPORT_DATA_BOX) == BST_CHECKED);
  EXPECT_EQ(2, Counter("changed_import_data"));
  settings_->set_changeable(true);
}

// What the window cannot know from the settings it asks: whether the default browser
// can be offered, and whether the chosen installation needs elevation.
TEST_F(InstallerWindowTest, OptionsFollowTheAnswersGiven) {
  std::vector<bool> asked_all_users;
  answers_.needs_elevation = [&asked_all_users](bool all_users, bool) {
    asked_all_users.push_back(all_users);
    return true;
  };
  for (bool offered : {true, false}) {
    answers_.offer_default_browser = offered;
    asked_all_users.clear();
    Open(false, false);
    window_->SetPage(W::PAGE_OPTIONS);
    EXPECT_EQ(offered, IsControlShown(options(), W::DEFAULT_BROWSER_BOX));
    ASSERT_FALSE(asked_all_users.empty());
    EXPECT_EQ(settings_->flag(Settings::ALL_USERS_FLAG), asked_all_users.back());
    EXPECT_TRUE(settings_->SetFlag(Settings::ALL_USERS_FLAG, !settings_->flag(Settings::ALL_USERS_FLAG)));
    EXPECT_EQ(settings_->flag(Settings::ALL_USERS_FLAG), asked_all_users.back())
        << "asked again when the settings change";
    window_.reset();
  }
}

// An unusable folder keeps the user on the options page, which says why: ACCEPT and BACK
// wait for a usable folder, the mode and the folder stay changeable. The terms page's
// BACK leads there.
TEST_F(InstallerWindowTest, InvalidFolderDisablesAcceptAndBackAndWarns) {
  platform_.valid = false;
  Open(false, false);
  window_->SetPage(W::PAGE_TOS);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog(), W::BACK_BUTTON)));
  window_->SetPage(W::PAGE_OPTIONS);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog(), W::ACCEPT_BUTTON)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog(), W::BACK_BUTTON)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options(), W::MODE_BOX)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options(), W::PATH_BOX)));
  EXPECT_TRUE(IsControlShown(options(), W::INVALID_PATH_WARNING));
  EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"install_page_3_invalid_folder"));
  platform_.valid = true;
  testing::TypeComboText(options(), W::PATH_BOX, scratch_.path().Append(L"Other").value());
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog(), W::ACCEPT_BUTTON)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog(), W::BACK_BUTTON)));
  EXPECT_FALSE(IsControlShown(options(), W::INVALID_PATH_WARNING));
}

TEST_F(InstallerWindowTest, ProgressNeverGoesBack) {
  Open(false, false);
  window_->ShowProgress(0, 100);
  EXPECT_EQ(W::PAGE_PROGRESS, window_->page());
  const int kSteps[][2] = {{5, 5}, {3, 5}, {15, 15}, {60, 60}, {59, 60}, {100, 100}};
  for (const auto& step : kSteps) {
    window_->SetProgressPosition(step[0]);
    EXPECT_EQ(step[1], testing::GetProgressPosition(dialog(), W::PROGRESS_BAR)) << step[0];
  }
  window_->SetProgressPhase(0);
  EXPECT_EQ(GetLocalizedString(37025), GetControlText(dialog(), W::PROGRESS_TEXT));
  window_->SetProgressPhase(2);
  EXPECT_EQ(GetLocalizedString(37026), GetControlText(dialog(), W::PROGRESS_TEXT));
}

TEST_F(InstallerWindowTest, ErrorPageOffersWhatTheRunAllows) {
  Open(false, false);
  window_->ShowError(L"Download failed", true, "download failure");
  EXPECT_EQ(W::PAGE_ERROR, window_->page());
  EXPECT_TRUE(IsControlShown(dialog(), W::BACK_BUTTON));
  EXPECT_TRUE(IsControlShown(dialog(), W::FULL_PACKAGE_BUTTON));
  EXPECT_TRUE(IsControlShown(dialog(), W::INSTALL_FAILED_TITLE));
  EXPECT_FALSE(IsControlShown(dialog(), W::UNINSTALL_FAILED_TITLE));
  EXPECT_EQ(L"Download failed", GetControlText(dialog(), W::PROGRESS_TEXT));
  std::string reason;
  EXPECT_TRUE(LastPageNode()->GetString("failure_reason", &reason));
  EXPECT_EQ("download failure", reason);
  EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"install_error_full_package"));
  ClickButton(dialog(), W::FULL_PACKAGE_BUTTON);
  ClickButton(dialog(), W::RETRY_BUTTON);
  EXPECT_EQ((std::vector<std::string>{"full package", "accept"}), delegate_.calls);
  // Never narrower than RETRY, right edges aligned.
  RECT full, retry;
  GetWindowRect(GetDlgItem(dialog(), W::FULL_PACKAGE_BUTTON), &full);
  GetWindowRect(GetDlgItem(dialog(), W::RETRY_BUTTON), &retry);
  EXPECT_GE(full.right - full.left, retry.right - retry.left);

  window_->SetPage(W::PAGE_WELCOME);
  window_->ShowError(L"again", false, "m");
  EXPECT_FALSE(IsControlShown(dialog(), W::FULL_PACKAGE_BUTTON));
  window_.reset();

  Open(true, false);
  window_->ShowError(L"Uninstall failed", false, "m");
  EXPECT_FALSE(IsControlShown(dialog(), W::BACK_BUTTON));
  EXPECT_TRUE(IsControlShown(dialog(), W::UNINSTALL_FAILED_TITLE));
  EXPECT_FALSE(IsControlShown(dialog(), W::INSTALL_FAILED_TITLE));
  EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"uninstall_error"));
}

// A path typed key by key arrives as typed: the box is not rewritten under the caret
// while each keystroke changes the settings' folder.
TEST_F(InstallerWindowTest, PathTypedKeyByKeyArrivesAsTyped) {
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  HWND box = GetDlgItem(options(), W::PATH_BOX);
  HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
  ASSERT_TRUE(edit);
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  const std::wstring typed = scratch_.path().Append(L"MyApps\\Velum").value();
  for (wchar_t c : typed) {
    SendMessageW(edit, WM_CHAR, c, 1);
    testing::PumpPendingMessages();
  }
  EXPECT_EQ(typed, GetControlText(options(), W::PATH_BOX));
  EXPECT_EQ(typed, settings_->install_folder().value());
  DWORD start = 0, end = 0;
  SendMessageW(box, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(typed.size(), start);
  // A folder chosen elsewhere (another mode) still reaches the box.
  SetFocus(dialog());
  testing::SelectComboEntry(options(), W::MODE_BOX, Settings::MODE_ALL_USERS);
  testing::SelectComboEntry(options(), W::MODE_BOX, Settings::MODE_CURRENT_USER);
  EXPECT_EQ(settings_->install_folder().value(), GetControlText(options(), W::PATH_BOX));
}

// The mode box shows the mode each key applied, also with a folder of the user's own,
// which no mode moves: what the user sees is what is installed.
TEST_F(InstallerWindowTest, ModeBoxShowsTheModeEachKeyApplied) {
  OpenAtLanguageBox();
  settings_->SetInstallFolder(scratch_.path().Append(L"Own folder"));
  HWND mode = GetDlgItem(options(), W::MODE_BOX);
  SetFocus(mode);
  const struct {
    WPARAM key;
    int mode;
  } kSteps[] = {{VK_UP, 0}, {VK_DOWN, 1}, {VK_DOWN, 2}, {VK_UP, 1}, {VK_UP, 0}};
  for (const auto& step : kSteps) {
    SendMessageW(mode, WM_KEYDOWN, step.key, 1);
    RunPostedMessages();
    EXPECT_EQ(step.mode, settings_->mode());
    EXPECT_EQ(step.mode, SendMessageW(mode, CB_GETCURSEL, 0, 0));
  }
  EXPECT_EQ(scratch_.path().Append(L"Own folder").value(), settings_->install_folder().value());
}

// After two language changes the labels show what a window opened in that language
// shows: the old texts are erased, not painted over.
TEST_F(InstallerWindowTest, LanguageChangesLeaveNoRemnants) {
  const int kLabels[] = {W::LANGUAGE_LABEL, W::MODE_LABEL, W::PATH_LABEL};
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  UpdateWindow(dialog());
  settings_->SetInstallLanguage(L"hu");
  UpdateWindow(dialog());
  settings_->SetInstallLanguage(L"de");
  RedrawWindow(dialog(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  testing::PumpPendingMessages();
  std::vector<std::vector<uint32_t>> switched;
  for (int label : kLabels) switched.push_back(testing::ReadShownPixels(GetDlgItem(options(), label)));
  EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"install_page_3_after_two_languages"));
  window_.reset();
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  RedrawWindow(dialog(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  testing::PumpPendingMessages();
  for (size_t i = 0; i < std::size(kLabels); ++i) {
    std::vector<uint32_t> fresh = testing::ReadShownPixels(GetDlgItem(options(), kLabels[i]));
    ASSERT_FALSE(fresh.empty());
    EXPECT_TRUE(fresh == switched[i]) << kLabels[i];
  }
}

// The badge comes with the error page and goes with it, on the logo as shown.
TEST_F(InstallerWindowTest, ErrorBadgeIsShownOnTheErrorPage) {
  Open(false, false);
  HWND logo = GetDlgItem(dialog(), W::LOGO);
  window_->ShowProgress(0, 100);
  UpdateWindow(dialog());
  testing::PumpPendingMessages();
  const std::vector<uint32_t> progress = testing::ReadShownPixels(logo);
  window_->ShowError(L"failed", false, "m");
  UpdateWindow(dialog());
  testing::PumpPendingMessages();
  const std::vector<uint32_t> error = testing::ReadShownPixels(logo);
  ASSERT_FALSE(progress.empty());
  EXPECT_FALSE(progress == error);
  window_->ShowProgress(0, 100);
  UpdateWindow(dialog());
  testing::PumpPendingMessages();
  EXPECT_TRUE(progress == testing::ReadShownPixels(logo));
}

// The headline and the agreement line lie on the page's background like the static
// texts, read from the left or mirrored: a screenshot shows no box and no frame at
// their corners, nor inside them. They are transparent, the dialog painting under them
// (Wine's rich edit fills its background all the same, with the colour it is given).
TEST_F(InstallerWindowTest, RichEditsShowThePageBackground) {
  Open(false, false);
  for (const wchar_t* code : {L"en-US", L"he"}) {
    settings_->SetInstallLanguage(code);
    const std::unique_ptr<testing::Canvas> picture = testing::PrintWindowPicture(dialog());
    ASSERT_TRUE(picture);
    RECT window;
    GetWindowRect(dialog(), &window);
    auto pixel = [&](LONG x, LONG y) {
      return picture->bits()[(y - window.top) * picture->width() + (x - window.left)] & 0xFFFFFF;
    };
    for (int id : {W::HEADLINE, W::TERMS_AGREEMENT}) {
      SCOPED_TRACE(base::WideToUTF8(code) + " control " + std::to_string(id));
      HWND control = GetDlgItem(dialog(), id);
      EXPECT_TRUE(GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_TRANSPARENT);
      RECT edit;
      GetWindowRect(control, &edit);
      // A point inside (on the edge, then three pixels in), and the background just
      // outside on its row.
      const struct {
        LONG x, y, outside_x;
      } kPoints[] = {{edit.left, edit.top, edit.left - 2},
                     {edit.right - 1, edit.top, edit.right + 1},
                     {edit.left, edit.bottom - 1, edit.left - 2},
                     {edit.right - 1, edit.bottom - 1, edit.right + 1},
                     {edit.left + 3, edit.top + 3, edit.left - 2},
                     {edit.right - 4, edit.bottom - 4, edit.right + 1}};
      for (const auto& point : kPoints) {
        const uint32_t inside = pixel(point.x, point.y);
        const uint32_t outside = pixel(point.outside_x, point.y);
        int difference = 0;
        for (int shift : {0, 8, 16}) {
          difference = std::max(difference, std::abs(static_cast<int>((inside >> shift) & 0xFF) -
                                                      static_cast<int>((outside >> shift) & 0xFF)));
        }
        EXPECT_LE(difference, 4) << "at " << point.x - edit.left << "," << point.y - edit.top
                                 << std::hex << ": " << inside << " over " << outside;
      }
    }
  }
}

// In a high-contrast scheme (white window text on black) as in the usual one, the
// agreement's sentence is dark on the light page under it, and the terms take the scheme's
// own pair of colours.
TEST_F(InstallerWindowTest, AgreementReadsInEveryColourScheme) {
  const int kElements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT};
  const COLORREF kHighContrast[] = {0, 0xFFFFFF, 0, 0xFFFFFF};
  COLORREF usual[4];
  for (int i = 0; i < 4; ++i) usual[i] = GetSysColor(kElements[i]);
  auto brightness = [](uint32_t color) {
    return (color & 0xFF) + (color >> 8 & 0xFF) + (color >> 16 & 0xFF);
  };
  for (int i = 0; i < 6; ++i) {
    const std::wstring code = i % 3 == 0 ? L"en-US" : i % 3 == 1 ? L"ar" : L"ja";
    SCOPED_TRACE(base::WideToUTF8(code) + (i >= 3 ? " high contrast" : ""));
    if (i == 3) SetSysColors(4, kElements, kHighContrast);
    Open(false, false);
    settings_->SetInstallLanguage(code);
    HWND agreement = GetDlgItem(dialog(), W::TERMS_AGREEMENT);
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    SendMessageW(agreement, EM_SETSEL, 0, 1);
    SendMessageW(agreement, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    EXPECT_LT(brightness(format.dwEffects & CFE_AUTOCOLOR ? GetSysColor(COLOR_WINDOWTEXT)
                                                          : format.crTextColor) + 400,
              brightness(testing::ReadShownPixels(agreement).at(0)));
    testing::Canvas terms(1, 1);
    SendMessageW(dialog(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(terms.dc()),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog(), W::TERMS_TEXT)));
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), GetBkColor(terms.dc()));
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), GetTextColor(terms.dc()));
    for (int shown : {W::PAGE_WELCOME, W::PAGE_TOS, W::PAGE_OPTIONS}) {
      window_->SetPage(static_cast<W::Page>(shown));
      const std::wstring name = L"high_contrast_" + code + L"_page_" + std::to_wstring(shown);
      EXPECT_TRUE(i < 3 || testing::SaveWindowScreenshot(dialog(), name));
    }
    window_.reset();
  }
  SetSysColors(4, kElements, usual);
}

// Escape, as the run loop hands it to the dialog manager, asks what closing asks.
TEST_F(InstallerWindowTest, EscapeAsksTheCancelQuestion) {
  for (bool uninstall : {false, true}) {
    Open(uninstall, false);
    const int pages[] = {uninstall ? W::PAGE_UNINSTALL : W::PAGE_WELCOME, W::PAGE_PROGRESS};
    for (int page : pages) {
      window_->SetPage(static_cast<W::Page>(page));
      boxes_.clear();
      MSG escape = testing::MakeKeyDown(GetFocus() ? GetFocus() : dialog(), VK_ESCAPE);
      IsDialogMessageW(dialog(), &escape);
      ASSERT_EQ(1u, boxes_.size()) << page;
      EXPECT_EQ(GetLocalizedString(uninstall ? 37039 : 37038), boxes_[0]);
    }
    EXPECT_TRUE(delegate_.calls.empty());
    window_.reset();
  }
}

// A mode without a usable folder (standalone, with no drive offered) can be left again
// by the mode or the folder; ACCEPT and BACK wait for a usable folder.
TEST_F(InstallerWindowTest, StandaloneWithoutAFolderCanBeLeft) {
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  testing::SelectComboEntry(options(), W::MODE_BOX, Settings::MODE_STANDALONE);
  testing::PumpPendingMessages();
  EXPECT_FALSE(settings_->target().valid_install_path);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog(), W::ACCEPT_BUTTON)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options(), W::MODE_BOX)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options(), W::PATH_BOX)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog(), W::BACK_BUTTON)));
  EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"install_page_3_standalone_without_folder"));
  testing::SelectComboEntry(options(), W::MODE_BOX, Settings::MODE_CURRENT_USER);
  testing::PumpPendingMessages();
  EXPECT_EQ(Settings::MODE_CURRENT_USER, settings_->mode());
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog(), W::ACCEPT_BUTTON)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog(), W::BACK_BUTTON)));
  ClickButton(dialog(), W::BACK_BUTTON);
  EXPECT_EQ(W::PAGE_WELCOME, window_->page());
}

// The question a closed window asks goes when the run ends while it is open; the answer
// it never got cancels nothing.
TEST_F(InstallerWindowTest, QuestionClosesWithTheRun) {
  Open(false, false);
  window_->set_message_box_for_testing(InstallerWindow::MessageBoxFunction());
  static InstallerWindow* s_window = nullptr;
  static bool s_closed = false;
  static bool s_outlived = false;
  s_window = window_.get();
  s_closed = s_outlived = false;
  // Runs inside the box's loop: ends the run once, and answers "No" itself should the box
  // stay, so that the test ends either way.
  UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM data) -> BOOL {
      if (!IsWindowVisible(window) || !GetDlgItem(window, IDYES)) return TRUE;
      *reinterpret_cast<HWND*>(data) = window;
      return FALSE;
    }, reinterpret_cast<LPARAM>(&box));
    if (!box) return;
    if (s_closed) {
      s_outlived = true;
      KillTimer(nullptr, timer);
      PostMessageW(box, WM_COMMAND, IDNO, 0);
      return;
    }
    s_window->CloseMessageBox();
    s_closed = true;
  });
  ASSERT_NE(0u, timer);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(s_closed);
  EXPECT_FALSE(s_outlived);
  EXPECT_TRUE(delegate_.calls.empty());
  HWND left = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM data) -> BOOL {
    if (IsWindowVisible(window) && GetDlgItem(window, IDYES)) *reinterpret_cast<HWND*>(data) = window;
    return TRUE;
  }, reinterpret_cast<LPARAM>(&left));
  EXPECT_FALSE(left);
}

bool IsMirrored(HWND window);

// The mean brightness (0 to 1) of what |window| shows now.
double ShownBrightness(HWND window) {
  const std::vector<uint32_t> pixels = testing::ReadShownPixels(window);
  if (pixels.empty()) return 0;
  double sum = 0;
  for (uint32_t pixel : pixels)
    sum += ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
  return sum / (3.0 * 255.0 * static_cast<double>(pixels.size()));
}

// A window restored from the taskbar shows its page as before, drawn on a background of
// its real size, with the focus where the user left it and no text selected.
TEST_F(InstallerWindowTest, RestoredWindowIsRepaintedWithItsFocus) {
  Open(false, false);
  for (int page : {W::PAGE_WELCOME, W::PAGE_PROGRESS}) {
    SCOPED_TRACE(page);
    if (page == W::PAGE_PROGRESS) window_->ShowProgress(40, 100);
    SetForegroundWindow(dialog());
    HWND options_button = GetDlgItem(dialog(), W::OPTIONS_BUTTON);
    if (page == W::PAGE_WELCOME) SetFocus(options_button);
    RedrawWindow(dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    testing::PumpPendingMessages();
    const double before = ShownBrightness(dialog());
    ShowWindow(dialog(), SW_MINIMIZE);
    testing::PumpPendingMessages();
    ASSERT_TRUE(IsIconic(dialog()));
    ShowWindow(dialog(), SW_RESTORE);
    SetForegroundWindow(dialog());
    testing::PumpPendingMessages();
    UpdateWindow(dialog());
    const double after = ShownBrightness(dialog());
    EXPECT_GT(before, 0.5);
    EXPECT_NEAR(before, after, 0.05);
    EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"restored_page_" + std::to_wstring(page)));
    if (page != W::PAGE_WELCOME) continue;
    KeepActive();
    EXPECT_EQ(options_button, GetFocus()) << GetDlgCtrlID(GetFocus());
    CHARRANGE selected = {};
    SendDlgItemMessageW(dialog(), W::HEADLINE, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selected));
    EXPECT_EQ(selected.cpMin, selected.cpMax);
  }
}

// The focus the wizard gives back when it is activated or focused again goes only to a
// control the user can use on the page shown: never to a disabled one, nor to one of the
// page before.
TEST_F(InstallerWindowTest, FocusComesBackOnlyToAUsableControlOfThePageShown) {
  const auto usable = [this](HWND control) {
    return IsChild(dialog(), control) && IsWindowVisible(control) && IsWindowEnabled(control);
  };
  for (bool disable : {true, false}) {
    SCOPED_TRACE(disable ? "disabled" : "another page's");
    Open(false, false);
    SetForegroundWindow(dialog());
    HWND options_button = GetDlgItem(dialog(), W::OPTIONS_BUTTON);
    SetFocus(options_button);
    SendMessageW(dialog(), WM_ACTIVATE, WA_INACTIVE, 0);
    if (disable) {
      EnableWindow(options_button, FALSE);
    } else {
      window_->SetPage(W::PAGE_PROGRESS);
    }
    SetFocus(nullptr);
    SendMessageW(dialog(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(!GetFocus() || usable(GetFocus())) << GetDlgCtrlID(GetFocus());
    SetFocus(dialog());
    EXPECT_TRUE(usable(GetFocus())) << GetDlgCtrlID(GetFocus());
    window_.reset();
  }
}

// The terms are English: in a mirrored window their control stays unmirrored and reads
// from the left.
TEST_F(InstallerWindowTest, TermsReadFromTheLeftInRightToLeftLanguages) {
  Open(false, false);
  for (const wchar_t* code : {L"ar", L"he", L"fa", L"en-US"}) {
    SCOPED_TRACE(base::WideToUTF8(code));
    settings_->SetInstallLanguage(code);
    window_->SetPage(W::PAGE_TOS);
    EXPECT_EQ(code != std::wstring(L"en-US"), IsMirrored(dialog()));
    const LONG_PTR style = GetWindowLongPtrW(GetDlgItem(dialog(), W::TERMS_TEXT), GWL_EXSTYLE);
    EXPECT_FALSE(style & WS_EX_LAYOUTRTL);
    EXPECT_FALSE(style & WS_EX_RTLREADING);
    EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), std::wstring(L"language_") + code + L"_terms"));
    window_->SetPage(W::PAGE_WELCOME);
  }
}

// The open |list| of |box| lies under the box, in its mirrored place too.
void ExpectListUnderBox(HWND box, HWND list) {
  RECT box_rect, list_rect;
  GetWindowRect(box, &box_rect);
  GetWindowRect(list, &list_rect);
  EXPECT_NEAR(box_rect.bottom, list_rect.top, 3);
  EXPECT_NEAR(box_rect.left, list_rect.left, 3);
}

// The position of the scroll bar control |bar|; -1 when it cannot be read.
int ScrollBarPosition(HWND bar) {
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_POS;
  return GetScrollInfo(bar, SB_CTL, &info) ? info.nPos : -1;
}

// Every language shows the terms' scroll bar beside the text, within the page and at the
// text's height, usable while the text is longer than the box (the text's own scroll bar
// was drawn outside it in a mirrored window). Keys in the text move the bar with it; the
// bar's requests move the text.
TEST_F(InstallerWindowTest, TermsScrollBarInEveryLanguage) {
  Open(false, false);
  HWND text = GetDlgItem(dialog(), W::TERMS_TEXT);
  HWND bar = GetDlgItem(dialog(), W::TERMS_SCROLL_BAR);
  ASSERT_TRUE(text && bar);
  auto bar_position = [bar]() { return ScrollBarPosition(bar); };
  auto first_line = [text]() {
    return static_cast<int>(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0));
  };
  for (const std::wstring& code : LoadAvailableLanguages()) {
    SCOPED_TRACE(base::WideToUTF8(code));
    settings_->SetInstallLanguage(code);
    window_->SetPage(W::PAGE_TOS);
    testing::PumpPendingMessages();
    ASSERT_TRUE(IsWindowVisible(bar));
    EXPECT_TRUE(IsWindowEnabled(bar));
    RECT text_rect, bar_rect, client;
    GetWindowRect(text, &text_rect);
    GetWindowRect(bar, &bar_rect);
    GetClientRect(dialog(), &client);
    MapWindowPoints(dialog(), nullptr, reinterpret_cast<POINT*>(&client), 2);
    if (client.left > client.right) std::swap(client.left, client.right);
    EXPECT_EQ(text_rect.top, bar_rect.top);
    EXPECT_EQ(text_rect.bottom, bar_rect.bottom);
    EXPECT_EQ(IsMirrored(dialog()) ? text_rect.left : text_rect.right,
              IsMirrored(dialog()) ? bar_rect.right : bar_rect.left);
    EXPECT_GE(bar_rect.right - bar_rect.left, GetSystemMetrics(SM_CXVSCROLL));
    EXPECT_TRUE(bar_rect.left >= client.left && bar_rect.right <= client.right);
    // The text has no scroll bar of its own, which would be drawn elsewhere.
    EXPECT_FALSE(GetWindowLongPtrW(text, GWL_STYLE) & WS_VSCROLL);
    EXPECT_EQ(0, first_line());
    SetFocus(text);
    SendMessageW(text, WM_KEYDOWN, VK_NEXT, 1);
    EXPECT_GT(first_line(), 0);
    EXPECT_EQ(first_line(), bar_position());
    SendMessageW(dialog(), WM_VSCROLL, SB_BOTTOM, reinterpret_cast<LPARAM>(bar));
    const int last = static_cast<int>(SendMessageW(text, EM_GETLINECOUNT, 0, 0)) - 1;
    // The last line shows: the character at its start has a place in the box.
    const LRESULT end = SendMessageW(text, EM_POSFROMCHAR,
                                     static_cast<WPARAM>(SendMessageW(text, EM_LINEINDEX, last, 0)), 0);
    RECT box;
    SendMessageW(text, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&box));
    EXPECT_LT(static_cast<short>(HIWORD(end)), box.bottom);
    EXPECT_EQ(first_line(), bar_position());
    if (code == L"en-US" || code == L"ar" || code == L"he" || code == L"fa") {
      EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"language_" + code + L"_terms_end"));
    }
    SendMessageW(dialog(), WM_VSCROLL, SB_LINEUP, reinterpret_cast<LPARAM>(bar));
    SendMessageW(dialog(), WM_VSCROLL, SB_TOP, reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(0, first_line());
    EXPECT_EQ(0, bar_position());
    window_->SetPage(W::PAGE_WELCOME);
  }
}

// The terms' scroll bar is usable only while the text is longer than its box: a text
// that fits leaves nothing to scroll, and the bar shows so. The wheel over the text moves
// the bar with it, as the keys do.
TEST_F(InstallerWindowTest, TermsScrollBarOnlyForTextLongerThanTheBox) {
  Open(false, false);
  window_->SetPage(W::PAGE_TOS);
  HWND text = GetDlgItem(dialog(), W::TERMS_TEXT);
  HWND bar = GetDlgItem(dialog(), W::TERMS_SCROLL_BAR);
  ASSERT_TRUE(text && bar);
  auto bar_position = [bar]() { return ScrollBarPosition(bar); };
  const int length = GetWindowTextLengthW(text);
  ASSERT_GT(length, 0);
  std::wstring terms(static_cast<size_t>(length) + 1, L'\0');
  terms.resize(static_cast<size_t>(GetWindowTextW(text, &terms[0], length + 1)));
  ASSERT_TRUE(IsWindowEnabled(bar));
  SendMessageW(text, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
  const int first = static_cast<int>(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0));
  EXPECT_GT(first, 0);
  EXPECT_EQ(first, bar_position());
  // A single line fits.
  SetWindowTextW(text, L"Terms");
  EXPECT_FALSE(IsWindowEnabled(bar));
  EXPECT_EQ(0, bar_position());
  SetWindowTextW(text, terms.c_str());
  EXPECT_TRUE(IsWindowEnabled(bar));
}

// The keyboard reaches the terms: Tab from ACCEPT comes to the agreement line, which
// shows its link selected in every language; Enter or Space there opens the terms page,
// whose text Tab reaches and the keys scroll.
// Enter presses the focused button of the options panel as it presses one of the page:
// the dialog manager hands it to the window, not to the panel the button belongs to.
TEST_F(InstallerWindowTest, EnterPressesTheFocusedButtonOfTheOptions) {
  Open(false, false);
  window_->SetPage(W::PAGE_OPTIONS);
  static HWND s_wizard = nullptr;
  static bool s_browser_seen = false;
  s_wizard = dialog();
  s_browser_seen = false;
  // Runs inside the browser's loop: notes it and closes it by its Cancel.
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM) -> BOOL {
      if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != s_wizard) return TRUE;
      s_browser_seen = true;
      PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    }, 0);
  });
  HWND change = GetDlgItem(options(), W::CHANGE_FOLDER_BUTTON);
  // As Tab brings it there: the dialog manager makes the focused button the default one.
  ASSERT_TRUE(FocusOn(W::CHANGE_FOLDER_BUTTON));
  MSG down = testing::MakeKeyDown(change, VK_RETURN);
  IsDialogMessageW(dialog(), &down);
  testing::PumpPendingMessages();
  KillTimer(nullptr, timer);
  EXPECT_TRUE(s_browser_seen);
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  EXPECT_TRUE(delegate_.calls.empty());
}

TEST_F(InstallerWindowTest, KeyboardReachesTheTerms) {
  Open(false, false);
  HWND agreement = GetDlgItem(dialog(), W::TERMS_AGREEMENT);
  HWND text = GetDlgItem(dialog(), W::TERMS_TEXT);
  auto press = [this](WPARAM key) {
    KeepActive();
    MSG down = testing::MakeKeyDown(GetFocus(), key);
    IsDialogMessageW(dialog(), &down);
    testing::PumpPendingMessages();
    KeepActive();
  };
  auto selected_text = [agreement]() {
    CHARRANGE selected = {};
    SendMessageW(agreement, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selected));
    std::wstring shown(static_cast<size_t>(std::max<LONG>(selected.cpMax - selected.cpMin, 0)) + 1,
                       L'\0');
    TEXTRANGEW range = {selected, &shown[0]};
    shown.resize(static_cast<size_t>(
        SendMessageW(agreement, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range))));
    return shown;
  };
  for (const std::wstring& code : LoadAvailableLanguages()) {
    SCOPED_TRACE(base::WideToUTF8(code));
    settings_->SetInstallLanguage(code);
    ASSERT_EQ(W::PAGE_WELCOME, window_->page());
    // Other test programs' windows may have taken the activation meanwhile.
    SetForegroundWindow(dialog());
    SetFocus(GetDlgItem(dialog(), W::ACCEPT_BUTTON));
    press(VK_TAB);
    ASSERT_EQ(agreement, GetFocus());
    std::vector<RichEditLink> links;
    PlainTextOfLinks(ParseAnchors(GetLocalizedString(37005)), &links);
    ASSERT_FALSE(links.empty());
    EXPECT_EQ(links.front().label, selected_text());
    // Tab goes on from the agreement to OPTIONS, the link's selection going with the focus.
    press(VK_TAB);
    EXPECT_EQ(GetDlgItem(dialog(), W::OPTIONS_BUTTON), GetFocus());
    EXPECT_EQ(L"", selected_text());
    if (code != L"en-US" && code != L"ar" && code != L"he" && code != L"fa") continue;
    SetFocus(agreement);
    // A held key's repeat coming to the link follows nothing.
    MSG repeat = testing::MakeKeyDown(agreement, VK_RETURN);
    repeat.lParam |= 1 << 30;
    IsDialogMessageW(dialog(), &repeat);
    ASSERT_EQ(W::PAGE_WELCOME, window_->page());
    if (code == L"en-US" || code == L"ar") {
      EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"language_" + code + L"_welcome_link_focused"));
    }
    press(VK_RETURN);
    ASSERT_EQ(W::PAGE_TOS, window_->page());
    EXPECT_TRUE(delegate_.calls.empty());
    std::string action;
    EXPECT_TRUE(PageNode(PageSequence().size() - 2)->GetString("navigation_action", &action));
    EXPECT_EQ("TOS", action);
    // Tab reaches the text at its top, a selection made there before cleared.
    SendMessageW(text, EM_SETSEL, 0, 5);
    for (int i = 0; i < 3 && GetFocus() != text; ++i) press(VK_TAB);
    ASSERT_EQ(text, GetFocus());
    EXPECT_EQ(0, SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0));
    DWORD start = 1, end = 0;
    SendMessageW(text, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end);
    press(VK_NEXT);
    EXPECT_GT(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    SendMessageW(text, EM_LINESCROLL, 0, -1000);
    window_->SetPage(W::PAGE_WELCOME);
  }
  // Space follows the link as Enter does, as it presses a focused button.
  settings_->SetInstallLanguage(L"en-US");
  SetForegroundWindow(dialog());
  SetFocus(agreement);
  press(VK_SPACE);
  EXPECT_EQ(W::PAGE_TOS, window_->page());
  EXPECT_TRUE(delegate_.calls.empty());
}

// The key table's clock of pages, boxes and lists: the time of the message handed on
// last, as the run loop's clock would read.
DWORD g_key_clock = 0;

DWORD KeyClock() { return g_key_clock; }

// What closes over the page before the row's presses.
enum class Closer {
  kQuestion,    // Escape, the question answered No at once
  kBrowser,     // the folder browser, closed by its Cancel
  kListKey,     // the list of |control| opened by key, moved by Down, closed by |closing|
  kListLetter,  // a letter typed into the open language list (Wine's closes at it), then
                // |closing| meant for the list
  kEntryClick,  // a click on the entry of the open language list that lies over |control|
  kClickedThenQuestion,  // a click on |control| (it acts), then kQuestion
};

// What the user does after the close; |key| is the press that acts once.
enum class Then {
  kTwice,           // 40 ms after and just short of the double-click time: dropped; at
                    // the double-click time: acts
  kQueued,          // queued before the close was noted: dropped; after the time: acts
  kTab,             // Tab, then |key| within the double-click time: acts
  kArrowMoved,      // Down moves the focus, then |key| within the time: acts
  kArrowStayed,     // Down in the closed box, then |key| within the time: dropped; after: acts
  kLetterStayed,    // a letter that types nowhere, then |key| within the time: dropped; after:
                    // acts
  kClickElsewhere,  // a click into the folder edit, then |key| within the time: acts
  kTyped,           // a letter into the folder edit, then |key| within the time: acts
  kHeld,            // held from 40 ms after past the double-click time, let go where the
                    // wizard does not see it: nothing; held again: acts, repeats too
  kAtOnce,          // 40 ms after: acts (the close was the user's own move)
  kSecondClick,     // the second click of the double-click: dropped; one after the time: acts
  kReopened,        // the list opened again, Down, |key| within the time: picks in the list
  kQuestionInHold,  // Escape within the time asks; the question's Yes takes |key| at once
  kClickAgain,      // a click where the one before the close was, within the time: acts
};

// What the press that acts does once: nothing more, Accept (Uninstall, Retry), the
// question's Yes, page |what| shown, the settings' flag |what| toggled, a blank typed.
enum class Effect { kNothing, kAccepts, kCancels, kShows, kToggles, kTypes };

enum class KeyAct { kClosedThen, kHeldAcross, kHeldOnBox, kBrowseList, kDoubleClickOptions,
                    kDoubleClickNo, kDoubleClickCancel };

struct KeyRow {
  const char* name;
  // The uninstallation's wizard for its own page, else the installation's.
  W::Page page;
  KeyAct act;
  Closer closer;
  // Focused before the close (0: the page's own focus), or the box whose list closes.
  int control;
  Then then;
  WPARAM key;
  Effect effect;
  int what;
  // Closes the list (kListKey, kBrowseList); held with |key| (kHeldAcross: VK_MENU, Alt).
  WPARAM closing;
};

constexpr KeyRow Closed(const char* name, W::Page page, Closer closer, int control, Then then,
                        WPARAM key, Effect effect, int what = 0, WPARAM closing = VK_RETURN) {
  return {name, page, KeyAct::kClosedThen, closer, control, then, key, effect, what, closing};
}

constexpr KeyRow Acted(const char* name, W::Page page, KeyAct act, WPARAM key, Effect effect,
                       int control = 0, WPARAM closing = 0, int what = 0) {
  return {name, page, act, Closer::kQuestion, control, Then::kTwice, key, effect, what, closing};
}

using C = Closer;
using T = Then;
using E = Effect;
const int kStats = Settings::ENABLE_VELUM_STATS;

const KeyRow kKeyRows[] = {
    // A second press of the answer to the question (or to the folder browser) lands on
    // the control the focus goes back to.
    Closed("welcome: No, Enter", W::PAGE_WELCOME, C::kQuestion, 0, T::kTwice, VK_RETURN, E::kAccepts),
    Closed("welcome: No, Space", W::PAGE_WELCOME, C::kQuestion, 0, T::kTwice, VK_SPACE, E::kAccepts),
    Closed("options: No, Enter", W::PAGE_OPTIONS, C::kQuestion, 0, T::kTwice, VK_RETURN, E::kAccepts),
    Closed("options: No, Space", W::PAGE_OPTIONS, C::kQuestion, 0, T::kTwice, VK_SPACE, E::kAccepts),
    Closed("error: No, Enter", W::PAGE_ERROR, C::kQuestion, 0, T::kTwice, VK_RETURN, E::kAccepts),
    Closed("error: No, Space", W::PAGE_ERROR, C::kQuestion, 0, T::kTwice, VK_SPACE, E::kAccepts),
    Closed("uninstall: No, Enter", W::PAGE_UNINSTALL, C::kQuestion, 0, T::kTwice, VK_RETURN, E::kAccepts),
    Closed("uninstall: No, Space", W::PAGE_UNINSTALL, C::kQuestion, 0, T::kTwice, VK_SPACE, E::kAccepts),
    Closed("uninstall: No, Space on the delete-data box", W::PAGE_UNINSTALL, C::kQuestion,
           W::DELETE_PROFILE_BOX, T::kTwice, VK_SPACE, E::kToggles, Settings::DELETE_PROFILE),
    Closed("options: No, Space on the usage-data box", W::PAGE_OPTIONS, C::kQuestion,
           W::SHARE_STATS_BOX, T::kTwice, VK_SPACE, E::kToggles, kStats),
    Closed("options: No, Space in the folder edit", W::PAGE_OPTIONS, C::kQuestion, W::PATH_BOX,
           T::kTwice, VK_SPACE, E::kTypes),
    Closed("welcome: No, Space on Options", W::PAGE_WELCOME, C::kQuestion, W::OPTIONS_BUTTON,
           T::kTwice, VK_SPACE, E::kShows, W::PAGE_OPTIONS),
    Closed("welcome: No, Space on the terms link", W::PAGE_WELCOME, C::kQuestion,
           W::TERMS_AGREEMENT, T::kTwice, VK_SPACE, E::kShows, W::PAGE_TOS),
    Closed("terms: No, Space on Back", W::PAGE_TOS, C::kQuestion, W::BACK_BUTTON, T::kTwice,
           VK_SPACE, E::kShows, W::PAGE_WELCOME),
    Closed("options: No, Space held in the folder edit", W::PAGE_OPTIONS, C::kQuestion,
           W::PATH_BOX, T::kHeld, VK_SPACE, E::kTypes),
    Closed("options: No, a letter, Space on the usage-data box", W::PAGE_OPTIONS, C::kQuestion,
           W::SHARE_STATS_BOX, T::kLetterStayed, VK_SPACE, E::kToggles, kStats),
    Closed("options: No, Down to the usage-data box, Space", W::PAGE_OPTIONS, C::kQuestion,
           W::IMPORT_DATA_BOX, T::kArrowMoved, VK_SPACE, E::kToggles, kStats),
    Closed("options: folder browser, Enter", W::PAGE_OPTIONS, C::kBrowser, W::ACCEPT_BUTTON,
           T::kTwice, VK_RETURN, E::kAccepts),
    // A list that closed leaves the focus on its box, where the dialog manager hands Enter
    // on to Accept; a click on an entry lying over another control closes it too.
    Closed("language list: Enter, Enter", W::PAGE_OPTIONS, C::kListKey, W::LANGUAGE_BOX,
           T::kTwice, VK_RETURN, E::kAccepts),
    Closed("folder list: Enter, Enter", W::PAGE_OPTIONS, C::kListKey, W::PATH_BOX, T::kTwice,
           VK_RETURN, E::kAccepts),
    Closed("language list: Enter, Enter queued before the close", W::PAGE_OPTIONS, C::kListKey,
           W::LANGUAGE_BOX, T::kQueued, VK_RETURN, E::kAccepts),
    Closed("language list: a letter, Enter, Enter, Enter", W::PAGE_OPTIONS, C::kListLetter,
           W::LANGUAGE_BOX, T::kTwice, VK_RETURN, E::kAccepts),
    Closed("language list: Enter, Down in the box, Enter", W::PAGE_OPTIONS, C::kListKey,
           W::LANGUAGE_BOX, T::kArrowStayed, VK_RETURN, E::kAccepts),
    Closed("mode list: Enter, Tab, Space", W::PAGE_OPTIONS, C::kListKey, W::MODE_BOX, T::kTab,
           VK_SPACE, E::kTypes),
    Closed("mode list: Tab out of it, Space", W::PAGE_OPTIONS, C::kListKey, W::MODE_BOX,
           T::kAtOnce, VK_SPACE, E::kTypes, 0, VK_TAB),
    Closed("mode list: Enter, a click into the folder edit, Space", W::PAGE_OPTIONS,
           C::kListKey, W::MODE_BOX, T::kClickElsewhere, VK_SPACE, E::kTypes),
    Closed("folder list: Escape, a letter, Space", W::PAGE_OPTIONS, C::kListKey, W::PATH_BOX,
           T::kTyped, VK_SPACE, E::kTypes, 0, VK_ESCAPE),
    Closed("language list: Enter, opened again, Down, Enter", W::PAGE_OPTIONS, C::kListKey,
           W::LANGUAGE_BOX, T::kReopened, VK_RETURN, E::kNothing),
    Closed("mode list: Enter, Escape, Space on Yes", W::PAGE_OPTIONS, C::kListKey, W::MODE_BOX,
           T::kQuestionInHold, VK_SPACE, E::kCancels),
    Closed("options: a click on the usage-data box, No, a click on it again", W::PAGE_OPTIONS,
           C::kClickedThenQuestion, W::SHARE_STATS_BOX, T::kClickAgain, 0, E::kToggles, kStats),
    Closed("double-click on a language over Accept", W::PAGE_OPTIONS, C::kEntryClick,
           W::ACCEPT_BUTTON, T::kSecondClick, 0, E::kAccepts),
    Closed("double-click on a language over the usage-data box", W::PAGE_OPTIONS,
           C::kEntryClick, W::SHARE_STATS_BOX, T::kSecondClick, 0, E::kToggles, kStats),
    // Held across a page that comes back, as system keys or as characters.
    Acted("error: Alt+R held", W::PAGE_ERROR, KeyAct::kHeldAcross, 'R', E::kAccepts, 0, VK_MENU),
    Acted("error: R held", W::PAGE_ERROR, KeyAct::kHeldAcross, 'R', E::kAccepts),
    Acted("error: Alt+R held, its characters", W::PAGE_ERROR, KeyAct::kHeldAcross, 'R',
          E::kAccepts, 0, VK_MENU, 1),
    Acted("options: Alt+Down held on the mode box", W::PAGE_OPTIONS, KeyAct::kHeldOnBox, VK_DOWN,
          E::kNothing, W::MODE_BOX, VK_MENU),
    Acted("welcome: Alt+O held", W::PAGE_WELCOME, KeyAct::kHeldAcross, 'O', E::kNothing, 0, VK_MENU),
    Acted("language list: Down across Arabic to Bulgarian, Escape", W::PAGE_OPTIONS,
          KeyAct::kBrowseList, 0, E::kNothing, W::LANGUAGE_BOX, VK_ESCAPE, 3),
    Acted("mode list: Down, Escape", W::PAGE_OPTIONS, KeyAct::kBrowseList, 0, E::kNothing,
          W::MODE_BOX, VK_ESCAPE),
    Acted("mode list: Down, Enter", W::PAGE_OPTIONS, KeyAct::kBrowseList, 0, E::kNothing,
          W::MODE_BOX, VK_RETURN),
    Acted("path list: Down, Escape", W::PAGE_OPTIONS, KeyAct::kBrowseList, 0, E::kNothing,
          W::PATH_BOX, VK_ESCAPE),
    Acted("path list: Down, Enter", W::PAGE_OPTIONS, KeyAct::kBrowseList, 0, E::kNothing,
          W::PATH_BOX, VK_RETURN),
    Acted("double-click on Options", W::PAGE_WELCOME, KeyAct::kDoubleClickOptions, 0, E::kNothing),
    Acted("double-click on No", W::PAGE_OPTIONS, KeyAct::kDoubleClickNo, 0, E::kNothing),
    Acted("double-click on Cancel", W::PAGE_UNINSTALL, KeyAct::kDoubleClickCancel, 0, E::kNothing),
};

// What a press may change: the installations started and the cancels, the pages shown and
// the one shown last, the settings' choices and language, the folder box's text.
struct Seen {
  std::vector<std::string> calls;
  size_t pages = 0;
  W::Page page = W::PAGE_NONE;
  std::vector<bool> flags;
  std::wstring language;
  bool mirrored = false;
  std::wstring path;
  bool operator==(const Seen& other) const {
    return calls == other.calls && pages == other.pages && page == other.page &&
           flags == other.flags && language == other.language && mirrored == other.mirrored &&
           path == other.path;
  }
};

void PrintTo(const Seen& seen, std::ostream* out) {
  *out << "calls {";
  for (const std::string& call : seen.calls) *out << " " << call;
  *out << " }, " << seen.pages << " pages, page " << seen.page << ", flags ";
  for (bool flag : seen.flags) *out << flag;
  *out << ", " << base::WideToUTF8(seen.language) << (seen.mirrored ? " mirrored" : "") << ", folder \"" << base::WideToUTF8(seen.path)
       << "\"";
}

Seen InstallerWindowTest::Look() {
  Seen seen;
  seen.calls = delegate_.calls;
  seen.pages = PageSequence().size();
  seen.page = window_->page();
  for (int i = 0; i < Settings::FLAG_COUNT; ++i) seen.flags.push_back(settings_->flag(i));
  seen.language = settings_->install_language();
  seen.mirrored = IsMirrored(dialog());
  seen.path = GetControlText(options(), W::PATH_BOX);
  return seen;
}

Seen InstallerWindowTest::Expected(const KeyRow& row, const std::wstring& typed) {
  Seen seen = Look();
  switch (row.effect) {
    case E::kNothing:
      break;
    case E::kAccepts:
      seen.calls.push_back("accept");
      break;
    case E::kCancels:
      seen.calls.push_back("cancel");
      break;
    case E::kShows:
      ++seen.pages;
      seen.page = static_cast<W::Page>(row.what);
      break;
    case E::kToggles:
      seen.flags[static_cast<size_t>(row.what)] = !seen.flags[static_cast<size_t>(row.what)];
      // The usage-data box stands for both kinds of statistics.
      if (row.what == kStats) seen.flags[Settings::ENABLE_INSTALLER_STATS] = seen.flags[kStats];
      break;
    case E::kTypes: {
      // In place of the folder edit's selection, or at its caret.
      DWORD start = 0, end = 0;
      SendMessageW(Control(W::PATH_BOX), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
      seen.path.replace(start, end - start, typed);
      break;
    }
  }
  return seen;
}

void InstallerWindowTest::Send(HWND to, UINT kind, WPARAM code, LPARAM data, DWORD time,
                               POINT at) {
  MSG message = {to ? to : GetFocus(), kind, code, data, time, at};
  ASSERT_TRUE(message.hwnd);
  g_key_clock = time;
  if (dispatcher_.Dispatch(message)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  RunPostedMessages(&dispatcher_);
}

// A key's first WM_KEYDOWN data: its scan code goes with it, as TranslateMessage needs.
LPARAM KeyData(WPARAM code) {
  return 1 | static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(code), MAPVK_VK_TO_VSC)) << 16;
}

void InstallerWindowTest::Press(WPARAM code, DWORD time) {
  const LPARAM data = KeyData(code);
  Send(nullptr, WM_KEYDOWN, code, data, time);
  Send(nullptr, WM_KEYUP, code, data | (1 << 30) | (1u << 31), time + 60);
}

void InstallerWindowTest::Click(HWND on, DWORD time, POINT at) {
  POINT client = at;
  ScreenToClient(on, &client);
  Send(on, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(client.x, client.y), time, at);
  Send(on, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y), time + 80, at);
}

HWND InstallerWindowTest::Control(int id) {
  HWND control = GetDlgItem(dialog(), id);
  if (!control) control = GetDlgItem(options(), id);
  // The folder box's keys and clicks go to its edit.
  return id == W::PATH_BOX ? GetWindow(control, GW_CHILD) : control;
}

void InstallerWindowTest::KeepActive() {
  for (int attempt = 0; attempt < 10 && GetForegroundWindow() != dialog(); ++attempt) {
    SetForegroundWindow(dialog());
    testing::PumpPendingMessages();
  }
}

bool InstallerWindowTest::FocusOn(int id) {
  HWND control = Control(id);
  // Another program's window may take the activation, and the focus with it: tried again.
  for (int attempt = 0; attempt < 10 && GetFocus() != control; ++attempt) {
    SetForegroundWindow(dialog());
    if (id == W::PATH_BOX) {
      SetFocus(control);
    } else {
      // Reached as by Tab: a push button with the focus is the default one.
      SendMessageW(dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
    RunPostedMessages(&dispatcher_);
  }
  // Clicked into: the caret at the end of the folder.
  const LPARAM end = GetWindowTextLengthW(control);
  if (id == W::PATH_BOX) SendMessageW(control, EM_SETSEL, static_cast<WPARAM>(end), end);
  return GetFocus() == control;
}

bool InstallerWindowTest::OpenListByKey(int id, DWORD time) {
  HWND box = GetDlgItem(options(), id);
  // The focus made certain before each try: an activation lost closes the list too.
  for (int attempt = 0; attempt < 10 && !SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0); ++attempt) {
    if (!FocusOn(id)) continue;
    if (id == W::PATH_BOX)
      Send(nullptr, WM_KEYDOWN, VK_F4, KeyData(VK_F4), time);
    else
      Send(nullptr, WM_SYSKEYDOWN, VK_DOWN, 1 | (1 << 29), time);
  }
  return SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) != 0;
}

HWND InstallerWindowTest::ControlAt(POINT at) {
  HWND window = dialog();
  for (;;) {
    POINT client = at;
    ScreenToClient(window, &client);
    HWND child = ChildWindowFromPointEx(window, client, CWP_SKIPINVISIBLE);
    if (!child || child == window) return window;
    window = child;
  }
}

void InstallerWindowTest::Close(const KeyRow& row, DWORD* closed_at, POINT* at) {
  const DWORD start = g_key_clock;
  *closed_at = start;
  HWND box = GetDlgItem(options(), row.control);
  switch (row.closer) {
    case C::kQuestion:
      if (row.control) {
        ASSERT_TRUE(FocusOn(row.control));
      }
      Press(VK_ESCAPE, start);
      ASSERT_EQ(1u, boxes_.size());
      return;
    case C::kClickedThenQuestion: {
      RECT rect;
      GetWindowRect(Control(row.control), &rect);
      *at = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
      Click(Control(row.control), start, *at);
      *closed_at = start + 100;
      Press(VK_ESCAPE, *closed_at);
      ASSERT_EQ(1u, boxes_.size());
      return;
    }
    case C::kBrowser: {
      static HWND s_wizard = nullptr;
      s_wizard = dialog();
      // Runs inside the browser's loop.
      const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM) -> BOOL {
          if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == s_wizard)
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
          return TRUE;
        }, 0);
      });
      ClickButton(options(), W::CHANGE_FOLDER_BUTTON);
      KillTimer(nullptr, timer);
      ASSERT_TRUE(FocusOn(row.control));
      return;
    }
    case C::kListKey: {
      SetCursorPos(0, 0);  // an open list follows a pointer resting over it
      const Seen opened = Look();
      ASSERT_TRUE(OpenListByKey(row.control, start));
      Send(nullptr, WM_KEYDOWN, VK_DOWN, KeyData(VK_DOWN), start + 100);
      *closed_at = start + 200;
      Send(nullptr, WM_KEYDOWN, row.closing, KeyData(row.closing), *closed_at);
      ASSERT_FALSE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
      // Closed without a choice (Escape, the focus leaving), it puts back what it changed.
      if (row.closing != VK_RETURN) {
        EXPECT_EQ(opened, Look());
      }
      return;
    }
    case C::kListLetter:
      ASSERT_TRUE(OpenListByKey(row.control, start));
      Send(nullptr, WM_CHAR, GetLocalizedStringForLanguageCode(L"de", 37051)[0], 1, start + 100);
      // Wine's list is closed now, Windows' still open.
      *closed_at = start + 200;
      Send(nullptr, WM_KEYDOWN, row.closing, KeyData(row.closing), *closed_at);
      ASSERT_FALSE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
      ASSERT_TRUE(delegate_.calls.empty());
      return;
    case C::kEntryClick: {
      SetCursorPos(0, 0);
      ASSERT_TRUE(OpenListByKey(W::LANGUAGE_BOX, start));
      HWND list = OpenListOf(GetDlgItem(options(), W::LANGUAGE_BOX));
      ASSERT_TRUE(list);
      RECT shown, under, both;
      GetWindowRect(list, &shown);
      GetWindowRect(Control(row.control), &under);
      ASSERT_TRUE(IntersectRect(&both, &shown, &under)) << "the list lies beside the control";
      *at = {(both.left + both.right) / 2, (both.top + both.bottom) / 2};
      Click(list, start + 100, *at);
      *closed_at = start + 180;
      ASSERT_FALSE(OpenListOf(GetDlgItem(options(), W::LANGUAGE_BOX)));
      return;
    }
  }
}

void InstallerWindowTest::ClosedThen(const KeyRow& row) {
  const DWORD double_click = GetDoubleClickTime();
  DWORD t = 0;
  POINT at = {};
  Close(row, &t, &at);
  if (HasFatalFailure()) return;
  const Seen closed = Look();
  // The press that acts, and what it does once.
  auto acts = [&](const std::function<void()>& act, const std::wstring& typed = L" ") {
    const Seen want = Expected(row, typed);
    act();
    EXPECT_EQ(want, Look());
  };
  const LPARAM data = KeyData(row.key);
  switch (row.then) {
    case T::kTwice:
      // Each looked at: a check box pressed twice would show as it was.
      for (DWORD after : {DWORD{40}, double_click - 1}) {
        Press(row.key, t + after);
        EXPECT_EQ(closed, Look()) << after << " ms after";
      }
      return acts([&] { Press(row.key, t + double_click); });
    case T::kQueued:
      Press(row.key, t - 10);
      EXPECT_EQ(closed, Look());
      return acts([&] { Press(row.key, t + double_click); });
    case T::kTab:
      Press(VK_TAB, t + 40);
      return acts([&] { Press(row.key, t + 120); });
    case T::kArrowMoved:
      Press(VK_DOWN, t + 40);
      EXPECT_NE(Control(row.control), GetFocus());
      return acts([&] { Press(row.key, t + 120); });
    case T::kArrowStayed:
    case T::kLetterStayed: {
      Press(row.then == T::kArrowStayed ? VK_DOWN : 'X', t + 40);
      const Seen moved = Look();
      Press(row.key, t + 120);
      EXPECT_EQ(moved, Look());
      return acts([&] { Press(row.key, t + double_click); });
    }
    case T::kClickElsewhere: {
      HWND edit = Control(W::PATH_BOX);
      RECT rect;
      GetWindowRect(edit, &rect);
      Click(edit, t + 40, POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
      KeepActive();
      ASSERT_EQ(edit, GetFocus());
      return acts([&] { Press(row.key, t + 160); });
    }
    case T::kTyped:
      return acts([&] {
        Press('X', t + 40);
        Press(row.key, t + 120);
      }, L"x ");
    case T::kHeld: {
      auto held = [&](DWORD from, int repeats) {
        Send(nullptr, WM_KEYDOWN, row.key, data, from);
        for (int i = 1; i <= repeats; ++i)
          Send(nullptr, WM_KEYDOWN, row.key, data | (1 << 30), from + i * double_click);
      };
      held(t + 40, 3);
      EXPECT_EQ(closed, Look());
      return acts([&] {
        held(t + 5 * double_click, 2);
        Send(nullptr, WM_KEYUP, row.key, data | (1 << 30) | (1u << 31), t + 8 * double_click);
      }, L"   ");
    }
    case T::kAtOnce:
      return acts([&] { Press(row.key, t + 40); });
    case T::kClickAgain:
      return acts([&] { Click(Control(row.control), t + 100, at); });
    case T::kSecondClick: {
      HWND under = ControlAt(at);
      ASSERT_EQ(Control(row.control), under);
      Click(under, t + 170, at);
      EXPECT_EQ(closed, Look());
      return acts([&] { Click(under, t + double_click + 20, at); });
    }
    case T::kReopened: {
      ASSERT_TRUE(OpenListByKey(row.control, t + 40));
      Send(nullptr, WM_KEYDOWN, VK_DOWN, KeyData(VK_DOWN), t + 60);
      const Seen moved = Look();
      Press(row.key, t + 80);
      EXPECT_FALSE(SendMessageW(GetDlgItem(options(), row.control), CB_GETDROPPEDSTATE, 0, 0));
      EXPECT_EQ(moved, Look());
      return;
    }
    case T::kQuestionInHold: {
      window_->set_message_box_for_testing(InstallerWindow::MessageBoxFunction());
      ShownBox shown;
      shown.key_on_yes = row.key;
      shown.key_at = t + 60;
      g_shown_box = &shown;
      const UINT_PTR timer = SetTimer(nullptr, 0, 20, LookForBox);
      acts([&] { Press(VK_ESCAPE, t + 40); });
      KillTimer(nullptr, timer);
      g_shown_box = nullptr;
      return;
    }
  }
}

// A key held across a page that comes back (the error page after a retry, the welcome
// page after Back) acts once: its repeats, as system keys or as characters, would press
// the mnemonic's button on the page again.
void InstallerWindowTest::HeldAcross(const KeyRow& row) {
  const DWORD double_click = GetDoubleClickTime();
  const DWORD start = g_key_clock;
  const bool alt = row.closing == VK_MENU;
  const UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
  const LPARAM data = KeyData(row.key) | (alt ? 1 << 29 : 0);
  const size_t pages = PageSequence().size();
  Send(nullptr, down, row.key, data, start);
  EXPECT_EQ(row.page == W::PAGE_ERROR ? 1u : 0u, delegate_.calls.size());
  EXPECT_EQ(pages + (row.page == W::PAGE_ERROR ? 0 : 1), PageSequence().size());
  window_->SetPage(W::PAGE_PROGRESS);
  window_->SetPage(row.page);
  // Or their characters alone (row.what 1), as a loop that translated them hands them on.
  const UINT character = alt ? WM_SYSCHAR : WM_CHAR;
  const WPARAM letter = static_cast<WPARAM>(towlower(static_cast<wint_t>(row.key)));
  for (DWORD i = 1; i < 4; ++i) {
    if (row.what == 1)
      Send(nullptr, character, letter, data | (1 << 30), start + i * double_click);
    else
      Send(nullptr, down, row.key, data | (1 << 30), start + i * double_click);
  }
  Send(nullptr, alt ? WM_SYSKEYUP : WM_KEYUP, row.key, data | (1 << 30) | (1u << 31),
       start + 4 * double_click);
}

// Alt+Down held on a box opens its list once: each repeat would close or open it again.
void InstallerWindowTest::HeldOnBox(const KeyRow& row) {
  const DWORD start = g_key_clock;
  SetCursorPos(0, 0);  // an open list follows a pointer resting over it
  ASSERT_TRUE(FocusOn(row.control));
  const LPARAM data = 1 | (1 << 29);
  Send(nullptr, WM_SYSKEYDOWN, row.key, data, start);
  for (DWORD i = 1; i < 4; ++i) Send(nullptr, WM_SYSKEYDOWN, row.key, data | (1 << 30), start + i * 40);
  Send(nullptr, WM_SYSKEYUP, row.key, data | (1 << 30) | (1u << 31), start + 200);
  EXPECT_TRUE(SendMessageW(GetDlgItem(options(), row.control), CB_GETDROPPEDSTATE, 0, 0));
  Send(nullptr, WM_KEYDOWN, VK_ESCAPE, KeyData(VK_ESCAPE), start + 300);
  EXPECT_TRUE(boxes_.empty());
}

// The language, mode or folder list opened by key (a folder typed first) and moved by Down
// (|what| times, at least once), each entry applied and counted at once: Escape puts back
// what the settings had when the user opened it, the typed text too, also after a move
// across a language that mirrors the window; Enter keeps the entry.
void InstallerWindowTest::BrowseList(const KeyRow& row) {
  const DWORD start = g_key_clock;
  SetCursorPos(0, 0);  // an open list follows a pointer resting over it
  HWND box = GetDlgItem(options(), row.control);
  const std::wstring typed = scratch_.path().Append(L"Typed Velum").value();
  if (row.control == W::PATH_BOX) testing::TypeComboText(options(), row.control, typed);
  const std::wstring folder = settings_->install_folder().value();
  const Seen before = Look();
  ASSERT_TRUE(OpenListByKey(row.control, start));
  const int downs = std::max(row.what, 1);
  for (int i = 0; i < downs; ++i) Send(nullptr, WM_KEYDOWN, VK_DOWN, KeyData(VK_DOWN), start + 100 + i);
  const char* counter = row.control == W::LANGUAGE_BOX ? "changed_language"
                        : row.control == W::PATH_BOX   ? "changed_install_path"
                                                       : "changed_install_mode";
  EXPECT_EQ(downs, Counter(counter));
  const Seen moved = Look();
  EXPECT_FALSE(before == moved);
  Send(nullptr, WM_KEYDOWN, row.closing, KeyData(row.closing), start + 200);
  EXPECT_FALSE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
  // A standalone mode passed over clears choices of its own (the default browser).
  EXPECT_EQ(row.closing == VK_ESCAPE ? before : moved, Look());
  if (row.closing == VK_ESCAPE) {
    EXPECT_EQ(folder, settings_->install_folder().value());
  }
  EXPECT_TRUE(boxes_.empty());
}

// The second click of a double-click on Options lands on Back, which took its place: at
// the double-click rectangle's edge and just short of its time it does nothing; at that
// time, or just outside the rectangle, a click acts.
void InstallerWindowTest::DoubleClickOptions() {
  const DWORD start = g_key_clock;
  const DWORD double_click = GetDoubleClickTime();
  HWND options_button = GetDlgItem(dialog(), W::OPTIONS_BUTTON);
  HWND back = GetDlgItem(dialog(), W::BACK_BUTTON);
  RECT rect;
  GetWindowRect(options_button, &rect);
  const POINT at = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  // The rectangle is centred on the first click.
  const POINT edge = {at.x + GetSystemMetrics(SM_CXDOUBLECLK) / 2,
                      at.y + GetSystemMetrics(SM_CYDOUBLECLK) / 2};
  Click(options_button, start, at);
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  EXPECT_EQ(back, ControlAt(at));
  Click(back, start + double_click - 1, edge);
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  Click(back, start + double_click, at);
  EXPECT_EQ(W::PAGE_WELCOME, window_->page());
  Click(options_button, start + double_click + 1, POINT{edge.x + 1, at.y});
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  Click(back, start + double_click + 2, POINT{at.x, edge.y + 1});
}

// The second click of a double-click on No of the question asked on the options page
// lands on the usage-data box under it.
void InstallerWindowTest::DoubleClickNo() {
  window_->set_message_box_for_testing(InstallerWindow::MessageBoxFunction());
  HWND share = GetDlgItem(options(), W::SHARE_STATS_BOX);
  const bool shared = settings_->flag(Settings::ENABLE_VELUM_STATS);
  RECT rect;
  GetWindowRect(share, &rect);
  ShownBox shown;
  shown.click = true;
  shown.pointer = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  g_shown_box = &shown;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, LookForBox);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  KillTimer(nullptr, timer);
  g_shown_box = nullptr;
  ASSERT_TRUE(shown.clicked_at);
  Click(share, shown.clicked_at + 150, shown.pointer);
  EXPECT_EQ(shared, settings_->flag(Settings::ENABLE_VELUM_STATS));
  EXPECT_EQ(0, Counter("changed_enable_stats"));
  Click(share, shown.clicked_at + GetDoubleClickTime() + 100, shown.pointer);  // a click of its own
  EXPECT_NE(shared, settings_->flag(Settings::ENABLE_VELUM_STATS));
}

// The second click of a double-click on Cancel lands in the question it opened, on Yes.
void InstallerWindowTest::DoubleClickCancel() {
  window_->set_message_box_for_testing(InstallerWindow::MessageBoxFunction());
  HWND cancel = GetDlgItem(dialog(), W::CANCEL_BUTTON);
  RECT rect;
  GetWindowRect(cancel, &rect);
  const POINT at = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  // Long enough for the box's timer to click within it on a loaded machine too.
  struct KeepDoubleClickTime {
    UINT was = GetDoubleClickTime();
    ~KeepDoubleClickTime() { SetDoubleClickTime(was); }
  } keep;
  SetDoubleClickTime(5000);
  ShownBox shown;
  shown.click_yes_first = true;
  shown.pointer = at;
  g_shown_box = &shown;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, LookForBox);
  Click(cancel, GetTickCount(), at);
  KillTimer(nullptr, timer);
  g_shown_box = nullptr;
  EXPECT_TRUE(shown.answered);
}

void InstallerWindowTest::RunKeyRow(const KeyRow& row) {
  window_.reset();
  Open(row.page == W::PAGE_UNINSTALL, false);
  dispatcher_.SetActiveDialog(dialog());
  SetForegroundWindow(dialog());
  // The mnemonics of the English texts.
  settings_->SetInstallLanguage(L"en-US");
  g_key_clock += 100000;
  window_->SetPage(W::PAGE_PROGRESS);
  window_->SetPage(row.page);
  g_key_clock += 10 * GetDoubleClickTime();
  delegate_.calls.clear();
  boxes_.clear();
  switch (row.act) {
    case KeyAct::kClosedThen:
      // Judges what it saw itself.
      return ClosedThen(row);
    case KeyAct::kHeldAcross:
      HeldAcross(row);
      break;
    case KeyAct::kHeldOnBox:
      HeldOnBox(row);
      break;
    case KeyAct::kBrowseList:
      BrowseList(row);
      break;
    case KeyAct::kDoubleClickOptions:
      DoubleClickOptions();
      break;
    case KeyAct::kDoubleClickNo:
      DoubleClickNo();
      break;
    case KeyAct::kDoubleClickCancel:
      DoubleClickCancel();
      break;
  }
  EXPECT_EQ(row.page, window_->page());
  EXPECT_EQ(row.effect == E::kAccepts ? 1u : 0u, delegate_.calls.size());
}

void InstallerWindowTest::PostKey(HWND to, WPARAM code, bool down, bool repeat) {
  PostMessageW(to ? to : GetFocus(), down ? WM_KEYDOWN : WM_KEYUP, code,
               1 | (repeat || !down ? 1 << 30 : 0) | (down ? 0 : 1u << 31));
}

void InstallerWindowTest::Hold(HWND to, WPARAM code) {
  PostKey(to, code, true, false);
  RunPostedMessages(&dispatcher_);
  for (int i = 0; i < 4; ++i) PostKey(nullptr, code, i < 3, true);
  RunPostedMessages(&dispatcher_);
}

// Held, or pressed twice with the second press queued before the page the first opened
// shows or coming 40 ms after, Enter or Space on the terms link, Options and Back follow
// them once and install nothing; on a page just shown, Enter on a link or on a button
// moved to acts at once; a held Escape asks once.
void InstallerWindowTest::PressesOnLinksAndButtonsActOnce() {
  Open(false, false);
  dispatcher_.SetActiveDialog(dialog());
  SetForegroundWindow(dialog());
  HWND accept = GetDlgItem(dialog(), W::ACCEPT_BUTTON);
  const int kControls[] = {W::TERMS_AGREEMENT, W::OPTIONS_BUTTON, W::BACK_BUTTON};
  const W::Page kNext[] = {W::PAGE_TOS, W::PAGE_OPTIONS, W::PAGE_WELCOME};
  for (int i = 0; i < 36; ++i) {
    const WPARAM code = i & 1 ? VK_SPACE : VK_RETURN;
    const int how = i / 2 % 3;  // held, twice queued, twice after the page showed
    const int row = i / 6 % 3;
    SCOPED_TRACE(::testing::Message()
                 << (i < 18 ? "en-US " : "ar ") << kControls[row] << " key " << code << " " << how);
    settings_->SetInstallLanguage(i < 18 ? L"en-US" : L"ar");
    window_->SetPage(W::PAGE_WELCOME);
    window_->SetPage(kNext[row] == W::PAGE_WELCOME ? W::PAGE_TOS : W::PAGE_WELCOME);
    // Reached as by Tab: a button with the focus is the default one.
    HWND control = GetDlgItem(dialog(), kControls[row]);
    SendMessageW(dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    const size_t pages = PageSequence().size();
    const DWORD before = GetTickCount();
    if (how == 0) Hold(control, code);
    // Else the second press waits in the queue, for where the focus goes, as the first acts.
    for (int k = 0; k < (how == 1 ? 4 : 2) && how; ++k)
      PostKey(k < 2 ? control : accept, code, k % 2 == 0, false);
    RunPostedMessages(&dispatcher_);
    if (how == 2) Press(code, before + 40);
    EXPECT_EQ(kNext[row], window_->page());
    EXPECT_EQ(pages + 1, PageSequence().size());
    EXPECT_TRUE(delegate_.calls.empty());
  }
  for (int row = 0; row < 2; ++row) {
    window_->SetPage(W::PAGE_TOS);
    window_->SetPage(W::PAGE_WELCOME);
    SendMessageW(dialog(), WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetDlgItem(dialog(), kControls[row])), TRUE);
    Press(VK_RETURN, GetTickCount());
    EXPECT_EQ(kNext[row], window_->page()) << row;
  }
  // So does Enter in an open list there, which picks.
  HWND language = GetDlgItem(options(), W::LANGUAGE_BOX);
  SetFocus(language);
  SendMessageW(language, CB_SHOWDROPDOWN, TRUE, 0);
  Press(VK_RETURN, GetTickCount());
  EXPECT_FALSE(SendMessageW(language, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_TRUE(delegate_.calls.empty());
  // Escape pressed after Enter on Options, queued as the options showed, was meant for the
  // page Options left: it asks nothing.
  window_->SetPage(W::PAGE_WELCOME);
  HWND options_button = GetDlgItem(dialog(), W::OPTIONS_BUTTON);
  SendMessageW(dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(options_button), TRUE);
  for (WPARAM code : {VK_RETURN, VK_ESCAPE}) {
    PostKey(options_button, code, true, false);
    PostKey(options_button, code, false, false);
  }
  RunPostedMessages(&dispatcher_);
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  EXPECT_TRUE(boxes_.empty());
  // A disabled Accept does nothing, also when its click comes as a message.
  EnableWindow(accept, FALSE);
  SendMessageW(dialog(), WM_COMMAND, MAKEWPARAM(W::ACCEPT_BUTTON, BN_CLICKED),
               reinterpret_cast<LPARAM>(accept));
  EnableWindow(accept, TRUE);
  SetFocus(accept);
  // Space held onto Accept past the double-click time: its repeats never push it.
  Send(accept, WM_KEYDOWN, VK_SPACE, 1 | (1 << 30), GetTickCount() + GetDoubleClickTime());
  Send(accept, WM_KEYUP, VK_SPACE, 1 | (1 << 30) | (1u << 31), GetTickCount() + GetDoubleClickTime());
  EXPECT_TRUE(delegate_.calls.empty());
  Hold(accept, VK_ESCAPE);
  EXPECT_EQ(1u, boxes_.size());
}

// On each page of both wizards, Enter presses the page's own button (none on the progress
// page), named so in the statistics, only when the press began the double-click time
// after the page showed.
void InstallerWindowTest::EnterWaitsOnEveryPage() {
  HWND path = Control(W::PATH_BOX);
  // The installation's pages, then the uninstallation's.
  const struct {
    W::Page page;
    const char* action;
  } kPages[] = {{W::PAGE_WELCOME, "ACCEPT"}, {W::PAGE_TOS, "ACCEPT"},
                {W::PAGE_OPTIONS, "ACCEPT"}, {W::PAGE_PROGRESS, ""},
                {W::PAGE_ERROR, "RETRY"},    {W::PAGE_UNINSTALL, "UNINSTALL"},
                {W::PAGE_PROGRESS, ""},      {W::PAGE_ERROR, "RETRY"}};
  for (const auto& entry : kPages) {
    SCOPED_TRACE(::testing::Message() << "row " << &entry - kPages);
    const DWORD before = GetTickCount();
    if (entry.page == W::PAGE_UNINSTALL) {
      window_.reset();
      Open(true, false);
      dispatcher_.SetActiveDialog(dialog());
    }
    delegate_.calls.clear();
    window_->SetPage(entry.page);
    // The folder box, clicked into, hands Enter on to Accept.
    if (entry.page == W::PAGE_OPTIONS) SetFocus(path);
    // Held since before; pressed before the page showed (handed on late), 40 ms after, or
    // just short of the double-click time after.
    for (int i = 0; i < 4; ++i) PostKey(nullptr, VK_RETURN, i < 3, true);
    RunPostedMessages(&dispatcher_);
    for (DWORD at : {before - 1, before + 40, before + GetDoubleClickTime() - 1})
      Press(VK_RETURN, at);
    EXPECT_TRUE(delegate_.calls.empty());
    Press(VK_RETURN, GetTickCount() + GetDoubleClickTime());
    std::string action;
    static_cast<void>(LastPageNode()->GetString("navigation_action", &action));
    EXPECT_EQ(entry.action, action);
    EXPECT_EQ(*entry.action ? 1u : 0u, delegate_.calls.size());
    // Space held in the folder box types blanks, as in any text.
    if (entry.page != W::PAGE_OPTIONS) continue;
    const size_t length = GetControlText(options(), W::PATH_BOX).size();
    Hold(path, VK_SPACE);
    EXPECT_EQ(length + 4, GetControlText(options(), W::PATH_BOX).size());
  }
}

// A key held (its repeats set bit 30) or pressed twice acts once, on the page it was
// pressed on; a press or a click that begins less than the double-click time after a page
// showed, or after a box or a list over it closed, acts on nothing there the user may not
// have seen yet, while one after that time acts once (the table above).
TEST_F(InstallerWindowTest, KeyActsOnceOnThePageItWasPressedOn) {
  PressesOnLinksAndButtonsActOnce();
  EnterWaitsOnEveryPage();
  // The rows read the times of pages, boxes and lists from a clock of their own; each
  // starts on its page shown long before.
  SetKeyClockForTesting(KeyClock);
  for (const KeyRow& row : kKeyRows) {
    SCOPED_TRACE(row.name);
    RunKeyRow(row);
  }
}

// The language list, opened and moved, applies each entry it passes; closed without a
// choice (Escape, or a click elsewhere) it shows its first entry again, and the wizard
// and the settings follow it.
TEST_F(InstallerWindowTest, LanguageListClosedWithoutAChoiceAgreesWithTheWizard) {
  for (bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "escape" : "click elsewhere");
    HWND box = OpenAtLanguageBox();
    // From an entry followed by languages read from the left: no mirroring closes the list.
    const std::vector<std::wstring> languages = LoadAvailableLanguages();
    auto language_at = [&](LRESULT index) {
      return languages[static_cast<size_t>(SendMessageW(box, CB_GETITEMDATA, index, 0))];
    };
    LRESULT start = 0;
    for (LRESULT i = 0; i + 4 < SendMessageW(box, CB_GETCOUNT, 0, 0) && start == 0; ++i) {
      bool left_to_right = true;
      for (LRESULT next = i; next <= i + 4; ++next) {
        const std::wstring code = language_at(next);
        left_to_right = left_to_right && code != L"ar" && code != L"he" && code != L"fa";
      }
      if (left_to_right && language_at(i) != L"en-US") start = i;
    }
    settings_->SetInstallLanguage(language_at(start));
    const std::wstring first = settings_->install_language();
    // Opened by a click: the list then holds the mouse.
    RECT client;
    GetClientRect(box, &client);
    const LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageW(box, WM_LBUTTONUP, 0, middle);
    ASSERT_TRUE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
    for (int i = 0; i < 3; ++i) {
      SendMessageW(box, WM_KEYDOWN, VK_DOWN, 1);
      testing::PumpPendingMessages();
    }
    EXPECT_NE(first, settings_->install_language());
    if (escape) {
      SendMessageW(box, WM_KEYDOWN, VK_ESCAPE, 1);
    } else {
      // The click on Back reaches the list, which holds the mouse, and closes it.
      HWND list = GetCapture();
      ASSERT_TRUE(list);
      RECT back;
      GetWindowRect(GetDlgItem(dialog(), W::BACK_BUTTON), &back);
      POINT at = {(back.left + back.right) / 2, (back.top + back.bottom) / 2};
      ScreenToClient(list, &at);
      SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
      SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    }
    testing::PumpPendingMessages();
    EXPECT_FALSE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
    const LRESULT shown = SendMessageW(box, CB_GETCURSEL, 0, 0);
    ASSERT_GE(shown, 0);
    EXPECT_EQ(language_at(shown), settings_->install_language());
    EXPECT_EQ(GetLocalizedStringForLanguageCode(language_at(shown), 37009),
              GetControlText(dialog(), W::BACK_BUTTON));
    ClickButton(dialog(), W::BACK_BUTTON);
    EXPECT_EQ(W::PAGE_WELCOME, window_->page());
    window_.reset();
  }
}

// The drop-down list of |box| while it is open (null when closed).
HWND OpenListOf(HWND box) {
  struct Search {
    HWND box;
    HWND list;
  } search = {box, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (_wcsicmp(name, L"ComboLBox") != 0 || !IsWindowVisible(window)) return TRUE;
        search->list = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) ? search.list : nullptr;
}

// A language change that mirrors the window, or undoes the mirroring, keeps the open list
// open: closed for the re-layout, it opens again in its new place, where a click picks
// the entry it shows. An Enter or Escape meant for it that comes before it has opened
// again acts on it alone, as it would on the list opened again: no installation, no
// question.
TEST_F(InstallerWindowTest, OpenListStaysOpenAcrossMirroring) {
  // An open list follows the pointer over it: the pointer rests outside the window.
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  const std::vector<std::wstring> languages = LoadAvailableLanguages();
  auto shown = [&]() {
    const LRESULT index = SendMessageW(box, CB_GETCURSEL, 0, 0);
    return index < 0 ? std::wstring()
                     : languages[static_cast<size_t>(SendMessageW(box, CB_GETITEMDATA, index, 0))];
  };
  // The first entries: English (United States), English (United Kingdom), Arabic.
  settings_->SetInstallLanguage(L"en-US");
  ASSERT_EQ(L"en-US", shown());
  SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  for (int i = 0; i < 2; ++i) {
    SendMessageW(box, WM_KEYDOWN, VK_DOWN, 1);
    testing::PumpPendingMessages();
  }
  EXPECT_EQ(L"ar", settings_->install_language());
  EXPECT_EQ(L"ar", shown());
  ASSERT_TRUE(IsMirrored(dialog()));
  HWND list = OpenListOf(box);
  ASSERT_TRUE(list);
  ExpectListUnderBox(box, list);
  // A click on the entry below Arabic picks it (Bulgarian, read from the left).
  const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
  const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
  const LRESULT below = SendMessageW(box, CB_GETCURSEL, 0, 0) + 1;
  const std::wstring picked =
      languages[static_cast<size_t>(SendMessageW(box, CB_GETITEMDATA, below, 0))];
  RECT client;
  GetClientRect(list, &client);
  const LPARAM at =
      MAKELPARAM(client.right / 2, static_cast<int>((below - top) * height + height / 2));
  SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(list, WM_LBUTTONUP, 0, at);
  testing::PumpPendingMessages();
  EXPECT_EQ(picked, settings_->install_language());
  EXPECT_EQ(picked, shown());
  EXPECT_FALSE(IsMirrored(dialog()));
  EXPECT_FALSE(OpenListOf(box));
  // The keys come before the list has opened again, and act as they would after: Enter
  // keeps Arabic, Escape puts back what the list showed when the user opened it.
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    SCOPED_TRACE(key);
    SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageW(box, WM_KEYDOWN, VK_UP, 1);
    EXPECT_TRUE(IsMirrored(dialog()));
    MSG down = testing::MakeKeyDown(box, key);
    IsDialogMessageW(dialog(), &down);
    testing::PumpPendingMessages();
    EXPECT_FALSE(OpenListOf(box));
    EXPECT_TRUE(delegate_.calls.empty());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
    if (key == VK_ESCAPE) {
      EXPECT_EQ(picked, settings_->install_language());
      EXPECT_EQ(picked, shown());
      EXPECT_FALSE(IsMirrored(dialog()));
      continue;
    }
    EXPECT_EQ(L"ar", settings_->install_language());
    SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageW(box, WM_KEYDOWN, VK_DOWN, 1);
    testing::PumpPendingMessages();
    EXPECT_EQ(picked, settings_->install_language());
    EXPECT_FALSE(IsMirrored(dialog()));
    EXPECT_TRUE(OpenListOf(box));
    SendMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
  }
  // Enter in a list the user closed is the dialog's.
  MSG enter = testing::MakeKeyDown(box, VK_RETURN);
  IsDialogMessageW(dialog(), &enter);
  testing::PumpPendingMessages();
  EXPECT_EQ(std::vector<std::string>{"accept"}, delegate_.calls);
}

// The list the window opens again after mirroring may come to lie under a resting
// pointer; Wine then moves its selection to the entry there. The user's choice stays
// until the pointer moves. The moves are the test's own: Wine's for the real pointer,
// which another program on the display may have left anywhere, stay queued.
TEST_F(InstallerWindowTest, ReopenedListKeepsTheChoiceUnderARestingPointer) {
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  settings_->SetInstallLanguage(L"en-GB");
  const LRESULT chosen = SendMessageW(box, CB_GETCURSEL, 0, 0) + 1;  // Arabic
  SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(box, WM_KEYDOWN, VK_DOWN, 1);
  RunPostedMessages();
  ASSERT_TRUE(IsMirrored(dialog()));
  HWND list = OpenListOf(box);
  ASSERT_TRUE(list);
  ASSERT_EQ(chosen, SendMessageW(box, CB_GETCURSEL, 0, 0));
  const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
  RECT client;
  GetClientRect(list, &client);
  const int x = client.right / 2;
  // A move for a pointer resting outside the list may come first.
  SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(x, client.bottom + 40));
  EXPECT_EQ(chosen, SendMessageW(box, CB_GETCURSEL, 0, 0));
  // The moves Wine makes for the pointer resting over the tenth entry.
  const LPARAM rest = MAKELPARAM(x, static_cast<int>(9 * height + height / 2));
  for (int i = 0; i < 2; ++i) {
    SendMessageW(list, WM_MOUSEMOVE, 0, rest);
    EXPECT_EQ(chosen, SendMessageW(box, CB_GETCURSEL, 0, 0));
  }
  // Moved, the pointer points again.
  SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(x, static_cast<int>(8 * height + height / 2)));
  EXPECT_EQ(SendMessageW(list, LB_GETTOPINDEX, 0, 0) + 8, SendMessageW(box, CB_GETCURSEL, 0, 0));
}

// Keys that reach the language list behind the window's closing of it for a re-layout
// (posted ones: the keyboard's wait for its opening again) are the list's: Up, Up and
// Escape from Arabic put Arabic back, mirrored, and the list goes.
TEST_F(InstallerWindowTest, KeysBehindARelayoutReachTheListOpenedAgain) {
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  settings_->SetInstallLanguage(L"ar");
  RunPostedMessages();
  ASSERT_TRUE(IsMirrored(dialog()));
  SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  RunPostedMessages();
  ASSERT_TRUE(OpenListOf(box));
  for (WPARAM key : {VK_UP, VK_UP, VK_ESCAPE}) PostMessageW(box, WM_KEYDOWN, key, 1);
  RunPostedMessages();
  EXPECT_EQ(L"ar", settings_->install_language());
  EXPECT_TRUE(IsMirrored(dialog()));
  EXPECT_FALSE(OpenListOf(box));
}

// Escape in the open language list puts back the language it showed when the user opened
// it, whatever entry Wine's list took from the pointer over it: Catalan in the list opened
// in English, Greek in the one the window opened again in Arabic after a Down (English
// again, unmirrored, the list closed). The mode box, likewise, goes on showing the mode
// that applies.
TEST_F(InstallerWindowTest, EscapeKeepsTheLanguageThePointerDidNotChoose) {
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  const std::vector<std::wstring> languages = LoadAvailableLanguages();
  // The pointer comes to rest over |entry| of |combo|'s open list, and Wine's list takes
  // it; then Escape.
  auto rest_and_escape = [](HWND combo, LRESULT entry) {
    HWND list = OpenListOf(combo);
    const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    const LRESULT y = (entry - SendMessageW(list, LB_GETTOPINDEX, 0, 0)) * height;
    for (LRESULT at : {y + 1, y + height / 2})
      SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(8, at));
    EXPECT_EQ(entry, SendMessageW(combo, CB_GETCURSEL, 0, 0));
    SendMessageW(combo, WM_KEYDOWN, VK_ESCAPE, 1);
    RunPostedMessages();
    EXPECT_FALSE(OpenListOf(combo));
  };
  for (bool reopened : {false, true}) {
    settings_->SetInstallLanguage(L"en-GB");
    SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    if (reopened) SendMessageW(box, WM_KEYDOWN, VK_DOWN, 1);
    RunPostedMessages();
    ASSERT_EQ(reopened ? L"ar" : L"en-GB", settings_->install_language());
    rest_and_escape(box, std::find(languages.begin(), languages.end(), reopened ? L"el" : L"ca") -
                             languages.begin());
    EXPECT_EQ(L"en-GB", settings_->install_language());
    EXPECT_EQ(L"en-GB", languages[SendMessageW(box, CB_GETITEMDATA,
                                               SendMessageW(box, CB_GETCURSEL, 0, 0), 0)]);
    EXPECT_FALSE(IsMirrored(dialog()));
  }
  // For the current user, not standalone: also when Down applied the standalone mode and
  // the pointer rests over it, so that Wine's box keeps it at Escape.
  HWND mode = GetDlgItem(options(), W::MODE_BOX);
  SetFocus(mode);
  SendMessageW(mode, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(mode, WM_KEYDOWN, VK_DOWN, 1);
  ASSERT_TRUE(settings_->flag(Settings::COPY_ONLY));
  rest_and_escape(mode, 2);
  EXPECT_FALSE(settings_->flag(Settings::COPY_ONLY));
  EXPECT_EQ(1, SendMessageW(mode, CB_GETCURSEL, 0, 0));
}

// The wizard may take the language of an installation it finds while the user has the
// list open. The window mirrors, and the list, closed for it, opens again in its new place;
// an Enter meant for it that comes before acts on it alone.
TEST_F(InstallerWindowTest, ListOpenWhileTheLanguageChangesElsewhereStaysWithTheUser) {
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  settings_->SetInstallLanguage(L"en-US");
  SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  settings_->SetInstallLanguage(L"ar");
  testing::PumpPendingMessages();
  ASSERT_TRUE(IsMirrored(dialog()));
  HWND list = OpenListOf(box);
  ASSERT_TRUE(list);
  ExpectListUnderBox(box, list);
  SendMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
  ASSERT_FALSE(OpenListOf(box));
  // Back from the right: the Enter comes before the list has opened again.
  SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
  settings_->SetInstallLanguage(L"en-US");
  EXPECT_FALSE(IsMirrored(dialog()));
  MSG enter = testing::MakeKeyDown(box, VK_RETURN);
  IsDialogMessageW(dialog(), &enter);
  testing::PumpPendingMessages();
  EXPECT_TRUE(delegate_.calls.empty());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
  EXPECT_EQ(L"en-US", settings_->install_language());
  // The user's own Enter in the closed list is the dialog's.
  enter = testing::MakeKeyDown(box, VK_RETURN);
  IsDialogMessageW(dialog(), &enter);
  testing::PumpPendingMessages();
  EXPECT_EQ(std::vector<std::string>{"accept"}, delegate_.calls);
}

// A letter typed into the open list may close it (Wine's does): the Enter or Escape the
// user then presses for the list acts on it alone, into and out of a right-to-left
// language. A second Enter is the dialog's.
TEST_F(InstallerWindowTest, KeysMeantForAListClosedByALetterStayWithIt) {
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  RECT client;
  GetClientRect(box, &client);
  const LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
  // Opened by a click, then by Alt+Down, as a user opens it. The button comes up for the
  // open list, which holds the mouse from then on.
  auto open = [&](bool by_mouse) {
    if (by_mouse) {
      SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, middle);
      HWND list = OpenListOf(box);
      POINT at = {client.right / 2, client.bottom / 2};
      if (list) MapWindowPoints(box, list, &at, 1);
      SendMessageW(list ? list : box, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    } else {
      SendMessageW(box, WM_SYSKEYDOWN, VK_DOWN, 1 | (1 << 29));
    }
    testing::PumpPendingMessages();
  };
  bool by_mouse = false;
  for (const wchar_t* code : {L"he", L"en-US", L"fa", L"de", L"ar", L"en-US"}) {
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
      by_mouse = !by_mouse;
      SCOPED_TRACE(base::WideToUTF8(code) + " " + std::to_string(key) + (by_mouse ? " mouse" : " keys"));
      open(by_mouse);
      ASSERT_TRUE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
      // Picked by its first letter, as the user types it.
      const std::wstring name = GetLocalizedStringForLanguageCode(code, 37051);
      for (int i = 0; i < 60 && settings_->install_language() != code; ++i) {
        SendMessageW(box, WM_CHAR, name[0], 1);
        testing::PumpPendingMessages();
        if (!SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) && settings_->install_language() != code) open(by_mouse);
      }
      ASSERT_EQ(code, settings_->install_language());
      // Wine's list is closed now; Windows' still open.
      MSG down = testing::MakeKeyDown(box, key);
      IsDialogMessageW(dialog(), &down);
      testing::PumpPendingMessages();
      EXPECT_FALSE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
      EXPECT_TRUE(delegate_.calls.empty());
      EXPECT_TRUE(boxes_.empty());
      EXPECT_EQ(W::PAGE_OPTIONS, window_->page());
    }
  }
  MSG enter = testing::MakeKeyDown(box, VK_RETURN);
  IsDialogMessageW(dialog(), &enter);
  testing::PumpPendingMessages();
  EXPECT_EQ(std::vector<std::string>{"accept"}, delegate_.calls);
}

// A list a letter closed, which the user then leaves (the focus going elsewhere and
// coming back), has no key waiting for it any more: Enter there is the dialog's.
TEST_F(InstallerWindowTest, EnterAfterLeavingAListClosedByALetterIsTheDialogs) {
  SetCursorPos(0, 0);
  HWND box = OpenAtLanguageBox();
  settings_->SetInstallLanguage(L"en-US");
  SendMessageW(box, WM_SYSKEYDOWN, VK_DOWN, 1 | (1 << 29));
  testing::PumpPendingMessages();
  ASSERT_TRUE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
  SendMessageW(box, WM_CHAR, GetLocalizedStringForLanguageCode(L"de", 37051)[0], 1);
  testing::PumpPendingMessages();
  ASSERT_NE(L"en-US", settings_->install_language());
  SetFocus(GetDlgItem(dialog(), W::ACCEPT_BUTTON));
  SetFocus(box);
  MSG enter = testing::MakeKeyDown(box, VK_RETURN);
  IsDialogMessageW(dialog(), &enter);
  testing::PumpPendingMessages();
  EXPECT_EQ(std::vector<std::string>{"accept"}, delegate_.calls);
}

// The headline shows the product's name in black within the red welcome: where the text
// puts a space beside the name, the picture shows one (Wine lost the space after the name
// in a right-to-left line where the name stood inside the sentence).
TEST_F(InstallerWindowTest, HeadlineKeepsTheSpaceBesideTheName) {
  Open(false, false);
  for (const std::wstring& code : LoadAvailableLanguages()) {
    SCOPED_TRACE(base::WideToUTF8(code));
    settings_->SetInstallLanguage(code);
    const std::wstring product = GetLocalizedString(37023);
    const std::wstring headline = GetLocalizedStringWithArg(37022, product);
    const size_t at = headline.find(product);
    ASSERT_NE(std::wstring::npos, at);
    const bool spaced = (at > 0 && headline[at - 1] == L' ') ||
                        (at + product.size() < headline.size() && headline[at + product.size()] == L' ');
    if (!spaced) continue;
    const std::unique_ptr<testing::Canvas> picture = testing::PrintWindowPicture(dialog());
    ASSERT_TRUE(picture);
    RECT window, edit;
    GetWindowRect(dialog(), &window);
    GetWindowRect(GetDlgItem(dialog(), W::HEADLINE), &edit);
    // Columns holding black ink (the name) and red ink (the welcome).
    std::vector<int> black, red;
    for (LONG x = edit.left; x < edit.right; ++x) {
      bool is_black = false, is_red = false;
      for (LONG y = edit.top; y < edit.bottom; ++y) {
        const uint32_t pixel = picture->bits()[(y - window.top) * picture->width() + (x - window.left)];
        const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
        is_black = is_black || (r < 90 && g < 90 && b < 90);
        is_red = is_red || (r > 180 && g < 110 && b < 110);
      }
      if (is_black) black.push_back(x - edit.left);
      if (is_red) red.push_back(x - edit.left);
    }
    ASSERT_FALSE(black.empty());
    ASSERT_FALSE(red.empty());
    int gap = 1 << 20;
    for (int b : black) {
      for (int r : red) gap = std::min(gap, std::abs(b - r));
    }
    // A space of the headline's font; the letters' own edges add to it in the picture.
    SIZE space = {};
    {
      base::ScopedGetDC dc(dialog());
      base::ScopedFont font(CreateFontW(-MulDiv(22, GetDeviceCaps(dc.dc(), LOGPIXELSY), 72), 0, 0,
                                        0, FW_BLACK, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                        ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
      base::ScopedSelectObject selected(dc.dc(), font.Get());
      GetTextExtentPoint32W(dc.dc(), L" ", 1, &space);
    }
    EXPECT_GE(gap, space.cx * 3 / 4) << "a space is " << space.cx << "px";
  }
}

// Enter in a closed list is the dialog's, pressing the default button; in an open list
// it only picks.
TEST_F(InstallerWindowTest, EnterInAListPicksOnlyWhileItIsOpen) {
  for (int id : {W::LANGUAGE_BOX, W::MODE_BOX}) {
    SCOPED_TRACE(id);
    Open(false, false);
    window_->SetPage(W::PAGE_OPTIONS);
    HWND box = GetDlgItem(options(), id);
    SetForegroundWindow(dialog());
    SetFocus(box);
    SendMessageW(box, CB_SHOWDROPDOWN, TRUE, 0);
    KeepActive();
    MSG enter = testing::MakeKeyDown(GetFocus(), VK_RETURN);
    IsDialogMessageW(dialog(), &enter);
    testing::PumpPendingMessages();
    EXPECT_FALSE(SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_TRUE(delegate_.calls.empty());
    KeepActive();
    enter = testing::MakeKeyDown(GetFocus(), VK_RETURN);
    IsDialogMessageW(dialog(), &enter);
    testing::PumpPendingMessages();
    EXPECT_EQ(std::vector<std::string>{"accept"}, delegate_.calls);
    delegate_.calls.clear();
    window_.reset();
  }
}

// The question reads from the right, aligned right, in a right-to-left language.
TEST_F(InstallerWindowTest, QuestionIsMirroredInRightToLeftLanguages) {
  Open(false, false);
  for (const wchar_t* code : {L"en-US", L"ar", L"fa", L"de"}) {
    settings_->SetInstallLanguage(code);
    SendMessageW(dialog(), WM_CLOSE, 0, 0);
    const UINT rtl = MB_RTLREADING | MB_RIGHT;
    EXPECT_EQ(code == std::wstring(L"ar") || code == std::wstring(L"fa") ? rtl : 0u,
              box_types_.back() & rtl) << base::WideToUTF8(code);
  }
}

// How |text| laid out in |control|'s own font overflows the control's client area,
// |inset| pixels narrower: the pixels it sticks out (0 when it fits). A multi-line text
// wraps at words and must fit the height; any other stays on one line.
int TextOverflow(HWND control, std::wstring text, bool multiline, int inset) {
  // Links show their labels only.
  for (size_t open = text.find(L"<a "); open != std::wstring::npos; open = text.find(L"<a ")) {
    size_t close = text.find(L'>', open);
    if (close == std::wstring::npos) break;
    text.erase(open, close + 1 - open);
  }
  for (size_t end = text.find(L"</a>"); end != std::wstring::npos; end = text.find(L"</a>"))
    text.erase(end, 4);
  RECT client;
  GetClientRect(control, &client);
  const int width = client.right - inset;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT needed = {0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
            DT_CALCRECT | (multiline ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return std::max<int>({0, static_cast<int>(needed.right - width),
                        multiline ? static_cast<int>(needed.bottom - client.bottom) : 0});
}

// The characters of |text| that |control|'s font has no glyph for: they are drawn as
// boxes. Wine's rich edit and its complex-script text (Thai, Devanagari) take glyphs from
// that font alone, without font linking, so the font itself is asked.
std::wstring MissingGlyphs(HWND control, const std::wstring& text) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  std::vector<WORD> glyphs(text.size() + 1);
  DWORD done = GDI_ERROR;
  {
    base::ScopedGetDC dc(control);
    base::ScopedSelectObject selected(dc.dc(), font);
    done = GetGlyphIndicesW(dc.dc(), text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                            GGI_MARK_NONEXISTING_GLYPHS);
  }
  std::wstring missing;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    // Line ends and the invisible format characters have no glyphs anywhere.
    if (c < 0x20 || (c >= 0x200B && c <= 0x200F)) continue;
    if (done == GDI_ERROR || glyphs[i] == 0xFFFF) missing += c;
  }
  return missing;
}

std::vector<std::wstring> ComboEntries(HWND box) {
  std::vector<std::wstring> entries;
  for (LRESULT i = 0; i < SendMessageW(box, CB_GETCOUNT, 0, 0); ++i) {
    std::wstring entry(static_cast<size_t>(SendMessageW(box, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
    SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&entry[0]));
    entry.resize(wcslen(entry.c_str()));
    entries.push_back(entry);
  }
  return entries;
}

// Which of the shown |buttons| overlap each other or leave the dialog's client area:
// empty when none.
std::string ButtonsOverlap(HWND dialog, const std::vector<int>& buttons) {
  RECT client;
  GetClientRect(dialog, &client);
  std::vector<std::pair<int, RECT>> shown;
  for (int id : buttons) {
    if (!IsControlShown(dialog, id)) continue;
    RECT rect;
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    // Mirrored client coordinates run from the right.
    if (rect.left > rect.right) std::swap(rect.left, rect.right);
    if (rect.left < 0 || rect.right > client.right) return std::to_string(id) + " outside";
    for (const auto& other : shown) {
      RECT common;
      if (IntersectRect(&common, &rect, &other.second))
        return std::to_string(id) + " over " + std::to_string(other.first);
    }
    shown.push_back({id, rect});
  }
  return std::string();
}

// Whether the '&' of |text| sits between two letters of a script whose letters join
// (Arabic, Persian): the underline then splits the word and shows as a loose '_'.
bool MnemonicInsideJoinedWord(const std::wstring& text) {
  const auto joins = [](wchar_t c) { return c >= 0x0620 && c <= 0x06FF; };
  for (size_t at = text.find(L'&'); at != std::wstring::npos; at = text.find(L'&', at + 2)) {
    if (at + 1 < text.size() && text[at + 1] == L'&') continue;
    if (at > 0 && at + 1 < text.size() && joins(text[at - 1]) && joins(text[at + 1])) return true;
  }
  return false;
}

bool IsMirrored(HWND window) {
  return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
}

// Every text of both dialogs, in every UI language, fits the control that shows it, in
// that control's font; right-to-left languages get a mirrored window.
TEST_F(InstallerWindowTest, EveryTranslatedTextFitsItsControl) {
  enum Kind { LINE, LINES, BUTTON, CHECK_BOX, CHECK_BOX_LINES, COMBO };
  // What a control's frame takes from its width, in pixels: button edges, the box of a
  // check box, the arrow of a combo box.
  const int kInsets[] = {0, 0, 8, 20, 20, GetSystemMetrics(SM_CXVSCROLL) + 8};
  struct Text {
    int control;
    Kind kind;
    std::vector<int> strings;  // empty: the text the control shows
  };
  const Text kInstallTexts[] = {
      {W::OPTIONS_BUTTON, BUTTON, {}},
      {W::BACK_BUTTON, BUTTON, {}},
      {W::ACCEPT_BUTTON, BUTTON, {37007, 37008}},
      {W::RETRY_BUTTON, BUTTON, {}},
      {W::FULL_PACKAGE_BUTTON, BUTTON, {}},
      {W::HEADLINE, LINE, {}},
      {W::TERMS_AGREEMENT, LINES, {}},
      {W::THANK_YOU, LINE, {}},
      {W::INSTALL_FAILED_TITLE, LINE, {}},
      {W::PROGRESS_TEXT, LINES, {37025, 37026, 37027, 37028, 37053, 37054, 37055, 37057, 37058,
                                 37059, 37060, 37061, 37062, 37064}},
      {W::LANGUAGE_LABEL, LINE, {}},
      {W::MODE_LABEL, LINE, {}},
      {W::PATH_LABEL, LINE, {}},
      {W::CHANGE_FOLDER_BUTTON, BUTTON, {}},
      {W::INVALID_PATH_WARNING, LINES, {}},
      {W::DEFAULT_BROWSER_BOX, CHECK_BOX, {}},
      {W::IMPORT_DATA_BOX, CHECK_BOX, {}},
      {W::SHARE_STATS_BOX, CHECK_BOX, {}},
      {W::MODE_BOX, COMBO, {}},
      {W::LANGUAGE_BOX, COMBO, {}},
  };
  const Text kUninstallTexts[] = {
      {W::UNINSTALL_QUESTION, LINES, {}},   {W::DELETE_PROFILE_BOX, CHECK_BOX_LINES, {}},
      {W::UNINSTALL_BUTTON, BUTTON, {}},    {W::CANCEL_BUTTON, BUTTON, {}},
      {W::UNINSTALL_FAILED_TITLE, LINE, {}}, {W::PROGRESS_TEXT, LINES, {37029, 37056, 37063}},
  };
  // A long Windows user name in the texts that carry one.
  const std::wstring kUser = L"Administrator";
  std::vector<std::string> overflows;
  for (bool uninstall : {false, true}) {
    Open(uninstall, false);
    for (const std::wstring& code : LoadAvailableLanguages()) {
      settings_->SetInstallLanguage(code);
      const std::string language = base::WideToUTF8(code);
      const bool rtl = code == L"ar" || code == L"he" || code == L"fa";
      EXPECT_EQ(rtl, IsMirrored(dialog())) << language;
      EXPECT_EQ(rtl, IsMirrored(options())) << language;
      EXPECT_EQ(rtl, IsMirrored(GetDlgItem(dialog(), W::BACK_BUTTON))) << language;
      const Text* begin = uninstall ? std::begin(kUninstallTexts) : std::begin(kInstallTexts);
      const Text* end = uninstall ? std::end(kUninstallTexts) : std::end(kInstallTexts);
      for (const Text* text = begin; text != end; ++text) {
        HWND control = GetDlgItem(dialog(), text->control);
        if (!control) control = GetDlgItem(options(), text->control);
        std::vector<std::wstring> shown;
        for (int id : text->strings) {
          shown.push_back(id == 37057 || id == 37064 ? GetLocalizedStringWithArg(id, L"Get full")
                                                     : GetLocalizedStringWithArg(id, kUser));
        }
        if (text->control == W::TERMS_AGREEMENT)
          shown.push_back(GetLocalizedStringWithArg(37005, GetLocalizedString(37008)));
        else if (text->control == W::HEADLINE)
          shown.push_back(GetLocalizedStringWithArg(37022, GetLocalizedString(37023)));
        else if (text->kind == COMBO)
          shown = ComboEntries(control);
        else if (shown.empty())
          shown.push_back(GetControlText(GetParent(control), text->control));
        for (const std::wstring& one : shown) {
          if (MnemonicInsideJoinedWord(one))
            overflows.push_back(language + " " + std::to_string(text->control) +
                                " has its mnemonic inside a joined word: " + base::WideToUTF8(one));
          std::vector<RichEditLink> unused;
          const std::wstring boxes = MissingGlyphs(control, PlainTextOfLinks(ParseAnchors(one), &unused));
          if (!boxes.empty()) {
            overflows.push_back(language + " " + std::to_string(text->control) + " shows " +
                                std::to_string(boxes.size()) + " characters as boxes: " +
                                base::WideToUTF8(boxes));
          }
          int overflow = TextOverflow(control, one, text->kind == LINES || text->kind == CHECK_BOX_LINES,
                                      kInsets[text->kind]);
          if (overflow > 0) {
            overflows.push_back(language + " " + std::to_string(text->control) + " by " +
                                std::to_string(overflow) + "px: " + base::WideToUTF8(one));
          }
        }
      }
      if (!uninstall) {
        // The whole agreement sentence, its link's words read back from the control.
        std::vector<RichEditLink> links;
        const std::wstring sentence = PlainTextOfLinks(
            ParseAnchors(GetLocalizedStringWithArg(37005, GetControlText(dialog(), W::ACCEPT_BUTTON))),
            &links);
        const std::wstring shown = GetControlText(dialog(), W::TERMS_AGREEMENT);
        if (links.empty() || !AreLinksShown(GetDlgItem(dialog(), W::TERMS_AGREEMENT), links) ||
            shown.compare(0, sentence.find(links.front().label),
                          sentence.substr(0, sentence.find(links.front().label))) != 0) {
          overflows.push_back(language + " agreement reads: " + base::WideToUTF8(shown));
        }
        // The error page's buttons, the full installer offered: apart, inside the window.
        window_->ShowError(GetLocalizedString(37055), true, "");
        const std::string overlap = ButtonsOverlap(
            dialog(), {W::BACK_BUTTON, W::RETRY_BUTTON, W::FULL_PACKAGE_BUTTON});
        if (!overlap.empty()) overflows.push_back(language + " error page: " + overlap);
        RECT full, retry;
        GetWindowRect(GetDlgItem(dialog(), W::FULL_PACKAGE_BUTTON), &full);
        GetWindowRect(GetDlgItem(dialog(), W::RETRY_BUTTON), &retry);
        if (full.bottom - full.top != retry.bottom - retry.top) {
          overflows.push_back(language + " full-installer button is " +
                              std::to_string(full.bottom - full.top) + "px tall, Retry " +
                              std::to_string(retry.bottom - retry.top) + "px");
        }
        if (code == L"de" || code == L"ar") {
          EXPECT_TRUE(testing::SaveWindowScreenshot(dialog(), L"language_" + code + L"_error"));
        }
        window_->SetPage(W::PAGE_WELCOME);
      }
      const std::wstring kShown[] = {L"en-US", L"de", L"hu", L"ar", L"he", L"fa", L"ja",
                                     L"zh-CN", L"ko", L"el", L"th", L"hi"};
      if (!uninstall && std::find(std::begin(kShown), std::end(kShown), code) != std::end(kShown)) {
        for (int page : {W::PAGE_WELCOME, W::PAGE_OPTIONS}) {
          window_->SetPage(static_cast<W::Page>(page));
          EXPECT_TRUE(testing::SaveWindowScreenshot(
              dialog(), L"language_" + code + (page == W::PAGE_OPTIONS ? L"_options" : L"_welcome")));
        }
        window_->SetPage(W::PAGE_WELCOME);
      }
    }
    window_.reset();
  }
  for (const std::string& overflow : overflows) ADD_FAILURE() << overflow;
}

}  // namespace
}  // namespace installer
