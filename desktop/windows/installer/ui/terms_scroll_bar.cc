#include "desktop/windows/installer/ui/terms_scroll_bar.h"

#include <commctrl.h>

#include <algorithm>

#include "base/logging.h"
#include "base/win/scoped_generic.h"

namespace installer {

namespace {

const UINT_PTR kFollowSubclassId = 0x7e1c;

// The lines |text| shows at once.
int VisibleLines(HWND text) {
  RECT shown = {};
  SendMessageW(text, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&shown));
  TEXTMETRICW metrics = {};
  base::ScopedGetDC dc(text);
  if (dc.IsValid()) {
    base::ScopedSelectObject font(
        dc.dc(), reinterpret_cast<HGDIOBJ>(SendMessageW(text, WM_GETFONT, 0, 0)));
    GetTextMetricsW(dc.dc(), &metrics);
  }
  return std::max<int>(1, (shown.bottom - shown.top) / std::max<int>(1, metrics.tmHeight));
}

// Shows where |text| stands: the bar's range is its lines, its page what it shows.
void Follow(HWND text, HWND bar) {
  const int lines = static_cast<int>(SendMessageW(text, EM_GETLINECOUNT, 0, 0));
  const int page = VisibleLines(text);
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMax = std::max(lines - 1, 0);
  info.nPage = static_cast<UINT>(page);
  info.nPos = static_cast<int>(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0));
  SCROLLINFO shown = {};
  shown.cbSize = sizeof(shown);
  shown.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  const bool same = GetScrollInfo(bar, SB_CTL, &shown) && shown.nMax == info.nMax &&
                    shown.nPage == info.nPage && shown.nPos == info.nPos;
  if (!same) SetScrollInfo(bar, SB_CTL, &info, TRUE);
  const bool needed = lines > page;
  if ((IsWindowEnabled(bar) != FALSE) != needed) EnableWindow(bar, needed);
}

// Whatever moved the text (a key, the wheel, a click, new text, a new size) has been
// handled when the message returns.
LRESULT CALLBACK FollowProc(HWND text, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                            DWORD_PTR bar) {
  // Following asks the text itself, through this procedure.
  static thread_local bool following = false;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(text, FollowProc, id);
  const LRESULT result = DefSubclassProc(text, message, wparam, lparam);
  // The dialog manager would select the whole text for Tab, which scrolls it to its end:
  // the reader stays where the text stands, the caret at its first line shown.
  if (message == WM_GETDLGCODE) return result & ~DLGC_HASSETSEL;
  if (message == WM_SETFOCUS) {
    const LRESULT first = SendMessageW(
        text, EM_LINEINDEX, static_cast<WPARAM>(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0)),
        0);
    SendMessageW(text, EM_SETSEL, static_cast<WPARAM>(first), first);
  }
  if (!following && message != WM_NCDESTROY && message != WM_PAINT &&
      IsWindow(reinterpret_cast<HWND>(bar))) {
    following = true;
    Follow(text, reinterpret_cast<HWND>(bar));
    following = false;
  }
  return result;
}

}  // namespace

void AttachTermsScrollBar(HWND text, HWND bar) {
  RECT rect;
  GetWindowRect(text, &rect);
  MapWindowPoints(nullptr, GetParent(text), reinterpret_cast<POINT*>(&rect), 2);
  const int width = GetSystemMetrics(SM_CXVSCROLL);
  SetWindowPos(text, nullptr, 0, 0, rect.right - rect.left - width, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(bar, nullptr, rect.right - width, rect.top, width, rect.bottom - rect.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  if (!SetWindowSubclass(text, FollowProc, kFollowSubclassId, reinterpret_cast<DWORD_PTR>(bar)))
    PLOG(ERROR) << "Subclassing the terms text failed.";
  Follow(text, bar);
}

void OnTermsScroll(HWND text, HWND bar, WPARAM request) {
  const int first = static_cast<int>(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0));
  const int lines = static_cast<int>(SendMessageW(text, EM_GETLINECOUNT, 0, 0));
  const int page = VisibleLines(text);
  int target = first;
  switch (LOWORD(request)) {
    case SB_LINEUP: target = first - 1; break;
    case SB_LINEDOWN: target = first + 1; break;
    case SB_PAGEUP: target = first - page; break;
    case SB_PAGEDOWN: target = first + page; break;
    case SB_TOP: target = 0; break;
    case SB_BOTTOM: target = lines; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO info = {};
      info.cbSize = sizeof(info);
      info.fMask = SIF_TRACKPOS;
      if (GetScrollInfo(bar, SB_CTL, &info)) target = info.nTrackPos;
      break;
    }
    default: return;
  }
  target = std::max(0, std::min(target, lines - page));
  if (target != first) SendMessageW(text, EM_LINESCROLL, 0, target - first);
  Follow(text, bar);
}

}  // namespace installer
