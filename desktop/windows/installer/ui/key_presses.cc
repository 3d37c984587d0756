#include "desktop/windows/installer/ui/key_presses.h"

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

// A character types into an editable text; everywhere else Space presses or follows, and
// another character presses the button whose mnemonic it is.
bool TypesText(HWND target) {
  if (!target) return false;
  const LRESULT code = SendMessageW(target, WM_GETDLGCODE, VK_SPACE, 0);
  return (code & DLGC_HASSETSEL) && !(GetWindowLongPtrW(target, GWL_STYLE) & ES_READONLY);
}

// The box's own loop offers its messages to the dialog manager through this filter: a key
// held since before the box opened (Enter on Cancel) would answer it with its default, Yes.
LRESULT CALLBACK FilterBoxMessages(int code, WPARAM wparam, LPARAM lparam) {
  if (code == MSGF_DIALOGBOX && IsRepeatOfActingKey(*reinterpret_cast<const MSG*>(lparam)))
    return 1;
  return CallNextHookEx(nullptr, code, wparam, lparam);
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

void NotePageShown(HWND dialog) {
  MSG message;
  // Only keys: no sent message runs in the middle of showing a page.
  for (int i = 0; i < kMostKeysTypedAhead &&
                  PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST,
                               PM_REMOVE | PM_QS_INPUT | PM_QS_POSTMESSAGE);
       ++i) {
  }
  g_page_dialog = dialog;
  g_page_shown_at = Now();
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

ModalBoxKeys::ModalBoxKeys(HWND dialog)
    : dialog_(dialog),
      filter_(SetWindowsHookExW(WH_MSGFILTER, FilterBoxMessages, nullptr, GetCurrentThreadId())) {}

ModalBoxKeys::~ModalBoxKeys() {
  filter_.Reset();
  // Whatever closed the box (an answer, the run ending), the focus goes back to the page,
  // where a second press of the answer's key would land on the default button.
  NotePageShown(dialog_);
}

void SetKeyClockForTesting(DWORD (*clock)()) { g_clock = clock; }

}  // namespace installer
