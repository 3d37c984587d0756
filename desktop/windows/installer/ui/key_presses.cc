#include "desktop/windows/installer/ui/key_presses.h"

#include <cstdlib>

namespace installer {

namespace {

const LPARAM kPreviousKeyStateDown = 1 << 30;
// A queue never holds more keys than this unless a program floods it.
const int kMostKeysTypedAhead = 1024;

// The dialog that showed a page last on this thread, and when (GetTickCount's clock, the
// one of the messages' times).
thread_local HWND g_page_dialog = nullptr;
thread_local DWORD g_page_shown_at = 0;
DWORD (*g_clock)() = nullptr;

DWORD Now() { return g_clock ? g_clock() : GetTickCount(); }

// The page of the innermost modal box shown on this thread.
thread_local ModalBoxKeys::Owner* g_box_owner = nullptr;

// A left-button press: its time and where the pointer was (the message's own).
struct Press {
  bool noted = false;
  DWORD time = 0;
  POINT at = {};
};
// The last press the loops passed on, and whether the last key or button was it; the
// press that brought up what is shown now (a page, a box, a page behind a closed box);
// and whether the press under way is dropped, its release with it.
thread_local Press g_last_press;
thread_local bool g_last_input_was_click = false;
thread_local Press g_acting_press;
thread_local bool g_dropping_click = false;
// Whether the key under way moves the focus as the user means it to (Tab): a list it
// closes as the focus leaves is not one the user has yet to look past.
thread_local bool g_moving_focus = false;

// After a box or an open list over the page closed: the window, when (the clock of
// pages), the box whose list it was, and the focus an arrow key was pressed at (the user
// moved on once the focus has left it). No window: none closed since the user moved on.
struct Settle {
  HWND root = nullptr;
  DWORD closed_at = 0;
  HWND list_box = nullptr;
  HWND arrow_at = nullptr;
};
thread_local Settle g_settle;
// The key of a press dropped whole (0: none): its repeats and release follow.
thread_local WPARAM g_dropped_key = 0;

bool IsLeftPress(UINT message) {
  return message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK ||
         message == WM_NCLBUTTONDOWN || message == WM_NCLBUTTONDBLCLK;
}

bool IsLeftRelease(UINT message) { return message == WM_LBUTTONUP || message == WM_NCLBUTTONUP; }

// The press that closed or opened a box or changed the page, if the last input was one.
void NoteClickActed() {
  if (g_last_input_was_click) g_acting_press = g_last_press;
}

// Whether |message| is (or ends) a second click on what the acting press brought up: a
// press within the double-click time and rectangle of it, as the system counts a
// double-click.
bool IsSecondClick(const MSG& message) {
  if (IsLeftRelease(message.message)) {
    const bool dropped = g_dropping_click;
    g_dropping_click = false;
    return dropped;
  }
  if (!IsLeftPress(message.message)) return false;
  // Signed: the messages' clock wraps.
  const LONG since = static_cast<LONG>(message.time - g_acting_press.time);
  g_dropping_click = g_acting_press.noted && since < static_cast<LONG>(GetDoubleClickTime()) &&
                     2 * std::abs(message.pt.x - g_acting_press.at.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
                     2 * std::abs(message.pt.y - g_acting_press.at.y) <= GetSystemMetrics(SM_CYDOUBLECLK);
  return g_dropping_click;
}

bool IsArrowKey(WPARAM key) {
  return key == VK_LEFT || key == VK_UP || key == VK_RIGHT || key == VK_DOWN;
}

// The user's own moves end the wait after a close: a click elsewhere (a second click is
// dropped before), Tab, an arrow key once the focus has moved, a character typed into the
// edit of the box whose list closed.
void NoteMoveOn(const MSG& message) {
  const bool typed = message.message == WM_CHAR && message.wParam >= L' ' && g_settle.list_box &&
                     GetParent(message.hwnd) == g_settle.list_box;
  const bool tab = message.message == WM_KEYDOWN && message.wParam == VK_TAB;
  if (IsLeftPress(message.message) || typed || tab) {
    g_settle = Settle();
  } else if (message.message == WM_KEYDOWN && IsArrowKey(message.wParam) && g_settle.root &&
             !g_settle.arrow_at) {
    g_settle.arrow_at = message.hwnd;
  }
}

void NoteInput(const MSG& message) {
  NoteMoveOn(message);
  if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)
    g_moving_focus = message.wParam == VK_TAB;
  if (IsLeftPress(message.message)) {
    g_last_press = {true, message.time, message.pt};
    g_last_input_was_click = true;
    g_moving_focus = false;
  } else if ((message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
             (message.message >= WM_RBUTTONDOWN && message.message <= WM_MOUSELAST)) {
    g_last_input_was_click = false;
  }
}

// Whether |message| goes to a box (or its edit) whose list takes it: an open list, or one
// that closed under the user's key and keeps the key meant for it.
bool IsListKey(const MSG& message) {
  for (HWND window : {message.hwnd, GetParent(message.hwnd)}) {
    wchar_t name[16] = {};
    if (!window || !GetClassNameW(window, name, 16) || _wcsicmp(name, L"ComboBox") != 0) continue;
    return SendMessageW(window, CB_GETDROPPEDSTATE, 0, 0) ||
           (SendMessageW(window, WM_GETDLGCODE, message.wParam,
                         reinterpret_cast<LPARAM>(&message)) & DLGC_WANTMESSAGE);
  }
  return false;
}

// Whether |message| is, or goes with, an Enter or Space press on the window's controls
// less than the double-click time after a box or a list over them closed.
bool IsPressBeforeCloseSeen(const MSG& message) {
  const bool down = message.message == WM_KEYDOWN;
  // The rest of a press dropped whole: its repeats, and its release, which ends it.
  if (g_dropped_key && message.wParam == g_dropped_key &&
      (message.message == WM_KEYUP || (down && IsKeyRepeat(message.lParam)))) {
    if (!down) g_dropped_key = 0;
    return true;
  }
  // A new press (its release may have gone to another window).
  if (down) g_dropped_key = 0;
  if (!down || (message.wParam != VK_RETURN && message.wParam != VK_SPACE)) return false;
  if (g_settle.arrow_at && GetFocus() != g_settle.arrow_at) g_settle = Settle();
  if (!g_settle.root || !message.hwnd || GetAncestor(message.hwnd, GA_ROOT) != g_settle.root)
    return false;
  // Signed: a press queued before the close was noted counts too.
  const LONG since = static_cast<LONG>(message.time - g_settle.closed_at);
  if (since >= static_cast<LONG>(GetDoubleClickTime()) || IsListKey(message)) return false;
  g_dropped_key = message.wParam;
  return true;
}

// Something over |root|'s page closed (a box, or the list of |list_box|): from now on.
void NoteClosed(HWND root, HWND list_box) {
  g_settle = {root, Now(), list_box, nullptr};
}

// A character types into an editable text; everywhere else Space presses or follows, and
// another character presses the button whose mnemonic it is.
bool TypesText(HWND target) {
  if (!target) return false;
  const LRESULT code = SendMessageW(target, WM_GETDLGCODE, VK_SPACE, 0);
  return (code & DLGC_HASSETSEL) && !(GetWindowLongPtrW(target, GWL_STYLE) & ES_READONLY);
}

// The box's own loop offers its messages to the dialog manager through this filter: a key
// held since before the box opened (Enter on Cancel) would answer it with its default, Yes,
// and the second click of the one that opened it would land on what lies under it.
LRESULT CALLBACK FilterBoxMessages(int code, WPARAM wparam, LPARAM lparam) {
  if (code == MSGF_DIALOGBOX && ShouldDropInput(*reinterpret_cast<const MSG*>(lparam)))
    return 1;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// The box gives the activation back to the page it belongs to as it closes (after it has
// hidden), and only then does the page take the keyboard focus.
LRESULT CALLBACK NoteOwnerActivated(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && g_box_owner && !g_box_owner->activated &&
      reinterpret_cast<HWND>(wparam) == g_box_owner->root) {
    g_box_owner->activated = true;
    // The queued keys' own clock.
    g_box_owner->activated_at = GetTickCount();
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Drops the key messages queued for this thread, all of them or those pressed before
// |before|. Each queue (posted, input) keeps its order: the first is looked at, then taken.
void DropQueuedKeys(bool all, DWORD before) {
  MSG message;
  for (UINT queue : {PM_QS_POSTMESSAGE, PM_QS_INPUT}) {
    // Signed: the messages' clock wraps.
    for (int i = 0; i < kMostKeysTypedAhead &&
                    PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE | queue) &&
                    (all || static_cast<LONG>(message.time - before) < 0);
         ++i) {
      static_cast<void>(PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE | queue));
    }
  }
}

}  // namespace

bool IsKeyRepeat(LPARAM key_data) { return (key_data & kPreviousKeyStateDown) != 0; }

bool IsRepeatOfActingKey(const MSG& message) {
  if (!IsKeyRepeat(message.lParam)) return false;
  switch (message.message) {
    case WM_SYSKEYDOWN:
    case WM_SYSCHAR:
      // Alt and a mnemonic presses its button, Alt+F4 asks, Alt+Down opens a list.
      return true;
    case WM_CHAR:
      // A character where no text takes it is a mnemonic too.
      return !TypesText(message.hwnd);
    case WM_KEYDOWN:
      break;
    default:
      return false;
  }
  switch (message.wParam) {
    case VK_RETURN:
    case VK_ESCAPE:
      return true;
    case VK_SPACE:
      return !TypesText(message.hwnd);
  }
  return false;
}

namespace {

void NotePageTime(HWND dialog) {
  g_page_dialog = dialog;
  g_page_shown_at = Now();
  NoteClickActed();
}

}  // namespace

void NotePageShown(HWND dialog) {
  // Only keys: no sent message runs in the middle of showing a page.
  DropQueuedKeys(true, 0);
  NotePageTime(dialog);
  // A page shown since waits only at its default button.
  g_settle = Settle();
}

void NoteListClosed(HWND box) {
  NoteClickActed();
  if (!g_moving_focus) NoteClosed(GetAncestor(box, GA_ROOT), box);
}

bool IsPressBeforePageSeen(const MSG& message) {
  if (message.message != WM_KEYDOWN || (message.wParam != VK_RETURN && message.wParam != VK_SPACE))
    return false;
  if (!g_page_dialog || !message.hwnd || GetAncestor(message.hwnd, GA_ROOT) != g_page_dialog)
    return false;
  // Signed: a press from before the page was shown is early too.
  const LONG since = static_cast<LONG>(message.time - g_page_shown_at);
  if (since >= static_cast<LONG>(GetDoubleClickTime())) return false;
  const LRESULT id = SendMessageW(g_page_dialog, DM_GETDEFID, 0, 0);
  HWND button = HIWORD(id) == DC_HASDEFID ? GetDlgItem(g_page_dialog, LOWORD(id)) : nullptr;
  if (!button) return false;
  if (message.hwnd == button) return true;
  if (message.wParam != VK_RETURN) return false;
  // As the dialog manager decides: Enter presses the default button unless the control
  // takes it itself (a link, an open list) or is a push button the user moved to.
  const LRESULT code = SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam,
                                    reinterpret_cast<LPARAM>(&message));
  return (code & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_DEFPUSHBUTTON)) == 0;
}

bool ShouldDropInput(const MSG& message) {
  if (IsRepeatOfActingKey(message) || IsPressBeforePageSeen(message) || IsSecondClick(message) ||
      IsPressBeforeCloseSeen(message)) {
    return true;
  }
  NoteInput(message);
  return false;
}

ModalBoxKeys::ModalBoxKeys(HWND dialog)
    : owner_{GetAncestor(dialog, GA_ROOT)},
      outer_owner_(g_box_owner),
      filter_(SetWindowsHookExW(WH_MSGFILTER, FilterBoxMessages, nullptr, GetCurrentThreadId())),
      activation_(SetWindowsHookExW(WH_CBT, NoteOwnerActivated, nullptr, GetCurrentThreadId())) {
  g_box_owner = &owner_;
  NoteClickActed();
}

ModalBoxKeys::~ModalBoxKeys() {
  filter_.Reset();
  activation_.Reset();
  g_box_owner = outer_owner_;
  // Keys queued before the page had the activation back were meant for the box; one
  // pressed on the page since is the page's (a box closed while the page was not
  // active: all were).
  DropQueuedKeys(!owner_.activated, owner_.activated_at);
  // Whatever closed the box (an answer, the run ending), the focus goes back to the page,
  // where a second press of the answer's key would land on the default button.
  NotePageTime(owner_.root);
  NoteClosed(owner_.root, nullptr);
}

void SetKeyClockForTesting(DWORD (*clock)()) { g_clock = clock; }

}  // namespace installer
