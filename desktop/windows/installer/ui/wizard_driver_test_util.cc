#include "desktop/windows/installer/ui/wizard_driver_test_util.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace installer {
namespace testing {

namespace {

struct DialogSearch {
  const std::wstring* title;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM data) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(data);
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  if (*search->title != text) return TRUE;
  search->found = window;
  return FALSE;
}

std::wstring ScreenshotFolder() {
  wchar_t exe[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder(exe, length);
  // <build>\bin\<test>.exe -> <build>\screenshots
  for (int i = 0; i < 2; ++i) {
    size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos) break;
    folder.resize(slash);
  }
  folder += L"\\screenshots";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

bool GetPngEncoder(CLSID* encoder) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || !size) return false;
  std::vector<BYTE> buffer(size);
  Gdiplus::ImageCodecInfo* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *encoder = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

void PumpPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

HWND FindDialogOfThisThread(const std::wstring& title) {
  DialogSearch search = {&title, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsControlShown(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::wstring GetControlText(HWND dialog, int id) {
  // The messages themselves: GetWindowText of another process's control reads only the
  // text the system keeps for it, which a rich edit leaves empty.
  HWND control = GetDlgItem(dialog, id);
  const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
  const LRESULT copied = SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                      reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
  return text;
}

int GetProgressPosition(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageW(dialog, id, PBM_GETPOS, 0, 0));
}

ProgressRecorder::ProgressRecorder(HWND dialog, int id) {
  HWND bar = GetDlgItem(dialog, id);
  if (bar && SetWindowSubclass(bar, &BarProc, 0, reinterpret_cast<DWORD_PTR>(this))) bar_ = bar;
}

ProgressRecorder::~ProgressRecorder() {
  if (bar_) RemoveWindowSubclass(bar_, &BarProc, 0);
}

// static
LRESULT CALLBACK ProgressRecorder::BarProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR, DWORD_PTR data) {
  ProgressRecorder* recorder = reinterpret_cast<ProgressRecorder*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(bar, &BarProc, 0);
    recorder->bar_ = nullptr;
    return DefSubclassProc(bar, message, wparam, lparam);
  }
  const LRESULT result = DefSubclassProc(bar, message, wparam, lparam);
  switch (message) {
    case PBM_SETPOS:
    case PBM_DELTAPOS:
    case PBM_STEPIT:
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      const int position = static_cast<int>(DefSubclassProc(bar, PBM_GETPOS, 0, 0));
      if (recorder->positions_.empty() || recorder->positions_.back() != position)
        recorder->positions_.push_back(position);
      break;
    }
  }
  return result;
}

void ClickButton(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }

void SelectComboEntry(HWND dialog, int id, int index) {
  SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void TypeComboText(HWND dialog, int id, const std::wstring& text) {
  SetDlgItemTextW(dialog, id, text.c_str());
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_EDITCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

LRESULT SendLinkClick(HWND dialog, int id, CHARRANGE range) {
  ENLINK link = {};
  link.nmhdr.hwndFrom = GetDlgItem(dialog, id);
  link.nmhdr.idFrom = static_cast<UINT_PTR>(id);
  link.nmhdr.code = EN_LINK;
  link.msg = WM_LBUTTONUP;
  link.chrg = range;
  return SendMessageW(dialog, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&link));
}

MSG MakeKeyDown(HWND focus, WPARAM key) {
  MSG message = {};
  message.hwnd = focus;
  message.message = WM_KEYDOWN;
  message.wParam = key;
  message.lParam = 1;
  return message;
}

bool SaveWindowScreenshot(HWND window, const std::wstring& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  PumpPendingMessages();
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  bool saved = false;
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    CLSID encoder;
    if (GetPngEncoder(&encoder)) {
      Gdiplus::Bitmap image(bitmap, nullptr);
      std::wstring path = ScreenshotFolder() + L"\\" + name + L".png";
      saved = image.Save(path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
  }
  DeleteObject(bitmap);
  return saved;
}

}  // namespace testing
}  // namespace installer
