// A key that presses a button or follows a link acts once per press, and on the page the
// user saw when pressing it. A held key sends its WM_KEYDOWN or WM_SYSKEYDOWN and their
// characters again and again (bit 30 of lParam set) to whatever has the focus by then,
// which after a page change is the new page's Accept or mnemonic; keys queued while a
// page was not yet shown were meant for the one before; and a second press soon after the
// page showed (a double Enter) was meant for it too.
// A modal box the wizard shows (a question, the folder browser) counts the same way: the
// second press of an answer was meant for the box, not for the page behind it. So does
// the mouse: the second click of a double-click would act on what the first brought up.
// Once a box or an open list over the page has closed, the focus is on a control the
// user has not looked at: Enter and Space act on none until they could have, or until the
// user moves on.
//
//   if (ShouldDropInput(message)) return;       // before IsDialogMessageW
//   NotePageShown(dialog);                      // as a page is shown
//   { ModalBoxKeys keys(dialog); MessageBoxW(dialog, ...); }
//   NoteListClosed(box);                        // at the box's CBN_CLOSEUP
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_KEY_PRESSES_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_KEY_PRESSES_H_

#include <windows.h>

#include "base/win/scoped_generic.h"

namespace installer {

// Whether a WM_KEYDOWN's |key_data| (its lParam) is the auto-repeat of a held key.
[[nodiscard]] bool IsKeyRepeat(LPARAM key_data);

// Whether |message| repeats a held key that would press, follow or ask again: every repeat
// of Enter, Escape and of a system key (Alt held) or its character, and of Space or
// another character unless it types into a text the user can edit.
[[nodiscard]] bool IsRepeatOfActingKey(const MSG& message);

// As |dialog| shows a page: drops the key messages queued for this thread (pressed before
// the page was shown) and notes the time, from which its default button (the page's own
// Accept) waits for a key press.
void NotePageShown(HWND dialog);

// Whether |message| is an Enter or Space that would press the default button of the
// dialog that showed a page last, begun (by its own time) less than the double-click time
// after the page was shown: the user could not have seen the page yet.
[[nodiscard]] bool IsPressBeforePageSeen(const MSG& message);

// As the open list of |box| closed under the user's key or click, or as the focus left
// it: the list no longer covers the page. Not for a list the window closes itself.
void NoteListClosed(HWND box);

// Whether the run loop (or a box's loop) drops |message| before the dialog manager: a
// repeat of an acting key, a press before the page was seen, or a left click (press and
// release) within the double-click time and rectangle of a press that opened or closed a
// box or a list, or changed the page; or an Enter or Space pressed on a control of the
// window (not in an open list) less than the double-click time after a box or a list over
// it closed, unless the user moved on since (Tab, an arrow key that moved the focus, a
// click elsewhere, a character typed into the edit of the box whose list closed). A press
// dropped goes whole: its repeats and its release. Notes what it passes on.
[[nodiscard]] bool ShouldDropInput(const MSG& message);

// For the life of a modal box that |dialog| shows: the box's own loop drops what the run
// loop's dispatcher drops; as the box closes, the page behind it counts as shown again,
// the keys queued before it had the activation back go with the box, and the presses
// after wait as after a list closed.
class ModalBoxKeys {
 public:
  explicit ModalBoxKeys(HWND dialog);
  ModalBoxKeys(const ModalBoxKeys&) = delete;
  ModalBoxKeys& operator=(const ModalBoxKeys&) = delete;
  ~ModalBoxKeys();

  // The box's page: its top-level window, and whether and when it took the activation
  // back as the box closed. Keys pressed since then were pressed on the page.
  struct Owner {
    HWND root = nullptr;
    bool activated = false;
    DWORD activated_at = 0;
  };

 private:
  Owner owner_;
  Owner* const outer_owner_;
  base::ScopedHook filter_;
  base::ScopedHook activation_;
};

// Tests: the clock the times of pages and boxes are read from (null: GetTickCount).
void SetKeyClockForTesting(DWORD (*clock)());

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_KEY_PRESSES_H_
