// Keys a user presses for the open list of a drop-down list box (the wizard's language and
// mode boxes) act on that list alone. An open list takes Enter and Escape; but the list
// may close under the user's key: Wine's closes at a typed letter, and the window's own
// re-layout (mirroring for a right-to-left language) closes it. The Enter or Escape meant
// for it then has nothing left to do and is dropped, where the dialog would press its
// default button or ask to cancel. A list the user closed (Enter, Escape, Alt+Up, F4, a
// click, the focus leaving) leaves the keys to the dialog, whose run loop lets a press
// there wait as after any close (key_presses.h).
//
//   KeepListKeys(box);                  // once
//   CloseListForRelayout(box);          // before the window is laid out anew
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_LIST_KEYS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_LIST_KEYS_H_

#include <windows.h>

namespace installer {

// Keeps the keys meant for |box|'s list with the list, until |box| is destroyed.
void KeepListKeys(HWND box);

// Closes |box|'s open list, which would keep its place while the controls under it move,
// and opens it again in its new place once the messages queued now have been handled,
// unless the user has closed it meanwhile. False when the list was not open.
bool CloseListForRelayout(HWND box);

// Whether |box|'s list is being opened again after a re-layout: the list the user opened,
// not a new opening.
[[nodiscard]] bool IsListReopening(HWND box);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_LIST_KEYS_H_
