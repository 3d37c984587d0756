#include "desktop/windows/installer/ui/list_keys.h"

#include <commctrl.h>
#include <windowsx.h>

#include "base/logging.h"
#include "desktop/windows/installer/ui/key_presses.h"

namespace installer {

namespace {

const UINT_PTR kListKeysSubclassId = 0x7e1b;
// Asks the box to open its list again after a re-layout.
const UINT kReopenList = WM_APP + 0x7e1;

bool IsListKey(WPARAM key) { return key == VK_RETURN || key == VK_ESCAPE; }

bool IsDropped(HWND box) { return DefSubclassProc(box, CB_GETDROPPEDSTATE, 0, 0) != 0; }

// Marks a list that closed under the user: a key meant for it may still come.
const wchar_t kClosedUnderUser[] = L"VelumListClosedUnderUser";
// Marks a box while it opens its list again after a re-layout.
const wchar_t kReopening[] = L"VelumListReopening";
// Marks a box whose list the window closed for a re-layout and has yet to open again.
const wchar_t kReopenPending[] = L"VelumListReopenPending";

bool ClosedUnderUser(HWND box) { return GetPropW(box, kClosedUnderUser) != nullptr; }

void SetClosedUnderUser(HWND box, bool closed) {
  if (closed)
    SetPropW(box, kClosedUnderUser, reinterpret_cast<HANDLE>(1));
  else
    RemovePropW(box, kClosedUnderUser);
}

// Whether |message|, having closed the open list, did so under the user: a typed
// character or a moving key (Wine closes the list at a letter), or the window's own
// re-layout. The user's own ways of closing it are the closing keys, the mouse and the
// focus leaving.
bool ClosesUnderUser(UINT message, WPARAM wparam) {
  if (message == WM_CHAR || message == CB_SHOWDROPDOWN) return true;
  return message == WM_KEYDOWN && !IsListKey(wparam) && wparam != VK_F4;
}

// A list the window opened again may come to lie under a resting pointer, which Wine's
// list takes for the user pointing at an entry. It keeps the entry the user chose until
// the pointer moves.
const UINT_PTR kReopenedListSubclassId = 0x7e1c;
const wchar_t kReopened[] = L"VelumListReopened";
const wchar_t kRestingAt[] = L"VelumListRestingAt";

void ForgetReopen(HWND list) {
  RemovePropW(list, kReopened);
  RemovePropW(list, kRestingAt);
}

LRESULT CALLBACK ReopenedListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                  UINT_PTR id, DWORD_PTR) {
  if (message == WM_NCDESTROY) {
    ForgetReopen(list);
    RemoveWindowSubclass(list, ReopenedListProc, id);
  } else if (message == WM_MOUSEMOVE && GetPropW(list, kReopened)) {
    POINT at = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    RECT client;
    // A pointer outside points at no entry: Wine's moves for a pointer resting there
    // are neither the rest over the list nor the user's move.
    if (!GetClientRect(list, &client) || !PtInRect(&client, at))
      return DefSubclassProc(list, message, wparam, lparam);
    ClientToScreen(list, &at);
    // Never null: a point is kept beside the flag bit.
    HANDLE point = reinterpret_cast<HANDLE>((static_cast<ULONG_PTR>(at.x & 0xFFFF) << 16 |
                                             static_cast<ULONG_PTR>(at.y & 0xFFFF)) << 1 | 1);
    HANDLE rest = GetPropW(list, kRestingAt);
    if (!rest) SetPropW(list, kRestingAt, point);
    if (!rest || rest == point) return 0;
    ForgetReopen(list);
  } else if (message == WM_WINDOWPOSCHANGED &&
             (reinterpret_cast<const WINDOWPOS*>(lparam)->flags & SWP_HIDEWINDOW)) {
    ForgetReopen(list);
  }
  return DefSubclassProc(list, message, wparam, lparam);
}

HWND ListOf(HWND box) {
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  return GetComboBoxInfo(box, &info) ? info.hwndList : nullptr;
}

// Opens the list the window closed for a re-layout again, where the user left it open.
void ReopenAfterRelayout(HWND box) {
  RemovePropW(box, kReopenPending);
  if (IsDropped(box) || !ClosedUnderUser(box) || GetFocus() != box || !IsWindowVisible(box) ||
      !IsWindowEnabled(box)) {
    return;
  }
  SetPropW(box, kReopening, reinterpret_cast<HANDLE>(1));
  DefSubclassProc(box, CB_SHOWDROPDOWN, TRUE, 0);
  RemovePropW(box, kReopening);
  HWND list = ListOf(box);
  if (list && IsDropped(box)) {
    RemovePropW(list, kRestingAt);
    SetPropW(list, kReopened, reinterpret_cast<HANDLE>(1));
  }
}

LRESULT CALLBACK ListKeysProc(HWND box, UINT message, WPARAM wparam, LPARAM lparam,
                              UINT_PTR id, DWORD_PTR) {
  if (message == WM_NCDESTROY) {
    SetClosedUnderUser(box, false);
    RemovePropW(box, kReopenPending);
    RemoveWindowSubclass(box, ListKeysProc, id);
  }
  // A key that came before the list the window closed for a re-layout was open again (a
  // key posted behind the close, not the keyboard's, whose keys wait for the opening) was
  // meant for the list: it opens first.
  if (message == WM_KEYDOWN && GetPropW(box, kReopenPending)) ReopenAfterRelayout(box);
  const bool dropped = IsDropped(box);
  switch (message) {
    case WM_GETDLGCODE: {
      LRESULT code = DefSubclassProc(box, message, wparam, lparam);
      const MSG* key = reinterpret_cast<const MSG*>(lparam);
      if (key && key->message == WM_KEYDOWN && IsListKey(key->wParam) &&
          (dropped || ClosedUnderUser(box))) {
        code |= DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_KEYDOWN:
      // The list this key was meant for has gone already: the key closes it for the user.
      if (!dropped && IsListKey(wparam) && ClosedUnderUser(box)) {
        SetClosedUnderUser(box, false);
        NoteListClosed(box);
        return 0;
      }
      break;
    case WM_CHAR:
      // The character of such a key, which a closed list would search for.
      if (!dropped && (wparam == L'\r' || wparam == 0x1B)) return 0;
      break;
    case WM_KILLFOCUS:
    case WM_LBUTTONDOWN:
      SetClosedUnderUser(box, false);
      break;
    case kReopenList:
      if (GetPropW(box, kReopenPending)) ReopenAfterRelayout(box);
      return 0;
  }
  const LRESULT result = DefSubclassProc(box, message, wparam, lparam);
  if (IsDropped(box))
    SetClosedUnderUser(box, false);
  else if (dropped && ClosesUnderUser(message, wparam))
    SetClosedUnderUser(box, true);
  return result;
}

}  // namespace

void KeepListKeys(HWND box) {
  if (!SetWindowSubclass(box, ListKeysProc, kListKeysSubclassId, 0))
    PLOG(ERROR) << "Subclassing the list box failed.";
  HWND list = ListOf(box);
  if (!list || !SetWindowSubclass(list, ReopenedListProc, kReopenedListSubclassId, 0))
    PLOG(ERROR) << "Subclassing the open list failed.";
}

bool CloseListForRelayout(HWND box) {
  if (!SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0)) return false;
  SendMessageW(box, CB_SHOWDROPDOWN, FALSE, 0);
  SetPropW(box, kReopenPending, reinterpret_cast<HANDLE>(1));
  if (!PostMessageW(box, kReopenList, 0, 0)) PLOG(WARNING) << "Could not reopen the list";
  return true;
}

bool IsListReopening(HWND box) { return GetPropW(box, kReopening) != nullptr; }

}  // namespace installer
