// The terms text's scroll bar: a scroll bar control beside the read-only text, not the
// text's own window scroll bar. In a mirrored window the text stays unmirrored (the terms
// read from the left), and such a child's own scroll bar is laid out for the other side
// under Wine: an empty strip where it should be, the bar drawn outside the control. A
// control of the page is placed, mirrored and drawn as every other. Focus on the text
// (Tab, a click) leaves it where it stands, nothing selected.
//
//   AttachTermsScrollBar(text, bar);           // once, the bar's place beside the text
//   OnTermsScroll(text, bar, wparam);          // the dialog's WM_VSCROLL from the bar
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_TERMS_SCROLL_BAR_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_TERMS_SCROLL_BAR_H_

#include <windows.h>

namespace installer {

// Narrows |text| by the bar's width and puts |bar| in the room made at its trailing edge;
// from then on the bar follows the text's scrolling (keys, wheel, new text), enabled only
// while the text is longer than the box, and focus on the text scrolls it nowhere.
void AttachTermsScrollBar(HWND text, HWND bar);

// Scrolls |text| as the scroll bar's |request| (WM_VSCROLL's wparam) asks.
void OnTermsScroll(HWND text, HWND bar, WPARAM request);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_TERMS_SCROLL_BAR_H_
