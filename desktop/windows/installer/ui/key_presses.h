// A key that presses a button or follows a link acts once per press, and on the page the
// user saw when pressing it. A held key sends its WM_KEYDOWN again and again (bit 30 of
// lParam set) to whatever has the focus by then, which after a page change is the new
// page's Accept; keys queued while a page was not yet shown were meant for the one before.
//
//   if (IsRepeatOfActingKey(message)) return;   // before IsDialogMessageW
//   DiscardKeysTypedAhead();                    // as a page is shown
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_KEY_PRESSES_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_KEY_PRESSES_H_

#include <windows.h>

namespace installer {

// Whether a WM_KEYDOWN's |key_data| (its lParam) is the auto-repeat of a held key.
[[nodiscard]] bool IsKeyRepeat(LPARAM key_data);

// Whether |message| repeats a held Enter, Escape or Space that would press, follow or ask
// again: every repeat of Enter and Escape, and of Space unless it types into a text the
// user can edit.
[[nodiscard]] bool IsRepeatOfActingKey(const MSG& message);

// Drops the key messages queued for this thread: pressed before the page now shown was.
void DiscardKeysTypedAhead();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_KEY_PRESSES_H_
