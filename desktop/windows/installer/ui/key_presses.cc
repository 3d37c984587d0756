#include "desktop/windows/installer/ui/key_presses.h"

namespace installer {

namespace {

const LPARAM kPreviousKeyStateDown = 1 << 30;
// A queue never holds more keys than this unless a program floods it.
const int kMostKeysTypedAhead = 1024;

// Space types a blank into an editable text; everywhere else it presses or follows.
bool TypesText(HWND target) {
  if (!target) return false;
  const LRESULT code = SendMessageW(target, WM_GETDLGCODE, VK_SPACE, 0);
  return (code & DLGC_HASSETSEL) && !(GetWindowLongPtrW(target, GWL_STYLE) & ES_READONLY);
}

}  // namespace

bool IsKeyRepeat(LPARAM key_data) { return (key_data & kPreviousKeyStateDown) != 0; }

bool IsRepeatOfActingKey(const MSG& message) {
  if (message.message != WM_KEYDOWN || !IsKeyRepeat(message.lParam)) return false;
  switch (message.wParam) {
    case VK_RETURN:
    case VK_ESCAPE:
      return true;
    case VK_SPACE:
      return !TypesText(message.hwnd);
  }
  return false;
}

void DiscardKeysTypedAhead() {
  MSG message;
  // Only keys: no sent message runs in the middle of showing a page.
  for (int i = 0; i < kMostKeysTypedAhead &&
                  PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST,
                               PM_REMOVE | PM_QS_INPUT | PM_QS_POSTMESSAGE);
       ++i) {
  }
}

}  // namespace installer
