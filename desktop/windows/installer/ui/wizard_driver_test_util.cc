#include "desktop/windows/installer/ui/wizard_driver_test_util.h"

#include <stdint.h>
#include <stdio.h>

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "base/win/scoped_generic.h"

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
  // This code's own module: a test program, or the driver's hook in an installer.
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ScreenshotFolder), &module);
  wchar_t exe[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(module, exe, MAX_PATH);
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

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

HWND KeyTargetOf(DWORD thread) {
  HWND focus = FocusOf(thread);
  HWND root = focus ? GetAncestor(focus, GA_ROOT) : nullptr;
  return root && IsWindowVisible(root) && IsWindowEnabled(root) ? focus : nullptr;
}

Canvas::Canvas(int width, int height)
    : width_(width),
      height_(height),
      dc_(CreateCompatibleDC(nullptr)),
      bitmap_(MakeSection(width, height, &bits_)),
      selected_(dc_.Get(), bitmap_.Get()) {}

Canvas::~Canvas() = default;

HBITMAP Canvas::MakeSection(int width, int height, uint32_t** bits) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(bits),
                          nullptr, 0);
}

namespace {

// The client area's offset in the window, in unmirrored pixels.
POINT ClientOffset(HWND window, const RECT& window_rect) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  POINT offset = {origin.x - window_rect.left, origin.y - window_rect.top};
  // A mirrored window's client origin is its right edge.
  if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL)
    offset.x = origin.x - client.right - window_rect.left;
  return offset;
}

// Draws |window| (its frame, its client area, then its visible children bottom to top)
// into |target| at its place relative to |frame|, clipped to |clip| (target pixels).
void PrintInto(HWND window, HDC target, const RECT& frame, const RECT& clip) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;
  const bool mirrored = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
  const int x = rect.left - frame.left, y = rect.top - frame.top;
  RECT own_clip = {x, y, x + width, y + height};
  IntersectRect(&own_clip, &own_clip, &clip);
  Canvas whole(width, height);
  if (!whole.valid()) return;
  // What the window leaves unpainted (a transparent control, or edges it skips when
  // printed) shows what lies under it, as on the screen.
  BitBlt(whole.dc(), 0, 0, width, height, target, x, y, SRCCOPY);
  SendMessageW(window, WM_PRINT, reinterpret_cast<WPARAM>(whole.dc()), PRF_NONCLIENT);
  RECT client;
  GetClientRect(window, &client);
  const POINT offset = ClientOffset(window, rect);
  if (client.right > 0 && client.bottom > 0) {
    // Each client area is drawn on its own, in its own layout: a mirrored control draws
    // from its right edge.
    Canvas inside(client.right, client.bottom);
    if (inside.valid()) {
      BitBlt(inside.dc(), 0, 0, client.right, client.bottom, whole.dc(), offset.x, offset.y,
             SRCCOPY);
      if (mirrored) SetLayout(inside.dc(), LAYOUT_RTL);
      SendMessageW(window, WM_PRINT, reinterpret_cast<WPARAM>(inside.dc()),
                   PRF_CLIENT | PRF_ERASEBKGND);
      // Wine's scroll bar control prints nothing; it paints into a DC it is given.
      wchar_t class_name[16] = {};
      GetClassNameW(window, class_name, 16);
      if (_wcsicmp(class_name, L"ScrollBar") == 0)
        SendMessageW(window, WM_PAINT, reinterpret_cast<WPARAM>(inside.dc()), 0);
      SetLayout(inside.dc(), 0);
      BitBlt(whole.dc(), offset.x, offset.y, client.right, client.bottom, inside.dc(), 0, 0,
             SRCCOPY);
    }
  }
  {
    // The DC keeps its own copy of the region.
    base::ScopedGdiObject<HRGN> region(CreateRectRgnIndirect(&own_clip));
    SelectClipRgn(target, region.Get());
  }
  BitBlt(target, x, y, width, height, whole.dc(), 0, 0, SRCCOPY);
  SelectClipRgn(target, nullptr);
  RECT children_clip = {x + offset.x, y + offset.y, x + offset.x + client.right,
                        y + offset.y + client.bottom};
  IntersectRect(&children_clip, &children_clip, &own_clip);
  for (HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST); child;
       child = GetWindow(child, GW_HWNDPREV)) {
    if (IsWindowVisible(child)) PrintInto(child, target, frame, children_clip);
  }
}

}  // namespace

std::unique_ptr<Canvas> PrintWindowPicture(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  PumpPendingMessages();
  RECT rect;
  if (!GetWindowRect(window, &rect)) return nullptr;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return nullptr;
  // Drawn by the window itself, so that no other window, nor another test's desktop,
  // can cover it.
  auto canvas = std::make_unique<Canvas>(width, height);
  if (!canvas->valid()) return nullptr;
  PatBlt(canvas->dc(), 0, 0, width, height, BLACKNESS);
  const RECT all = {0, 0, width, height};
  PrintInto(window, canvas->dc(), rect, all);
  GdiFlush();
  return canvas;
}

bool SaveWindowScreenshot(HWND window, const std::wstring& name) {
  const std::unique_ptr<Canvas> picture = PrintWindowPicture(window);
  if (!picture) return false;
  const Canvas& canvas = *picture;

  bool saved = false;
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    CLSID encoder;
    if (GetPngEncoder(&encoder)) {
      Gdiplus::Bitmap image(canvas.bitmap(), nullptr);
      std::wstring path = ScreenshotFolder() + L"\\" + name + L".png";
      saved = image.Save(path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
  }
  if (!saved) return false;
  // A picture of one colour shows nothing of the window.
  const uint32_t* bits = canvas.bits();
  const uint32_t first = bits[0] & 0xFFFFFF;
  for (size_t i = 1; i < canvas.size(); ++i) {
    if ((bits[i] & 0xFFFFFF) != first) return true;
  }
  wprintf(L"screenshot %ls is a single colour (%06x)\n", name.c_str(), first);
  return false;
}

std::vector<uint32_t> ReadShownPixels(HWND control) {
  std::vector<uint32_t> pixels;
  RECT client;
  if (!GetClientRect(control, &client) || client.right <= 0 || client.bottom <= 0) return pixels;
  Canvas canvas(client.right, client.bottom);
  {
    base::ScopedGetDC shown(control);
    if (!canvas.valid() || !shown.IsValid()) return pixels;
    BitBlt(canvas.dc(), 0, 0, client.right, client.bottom, shown.dc(), 0, 0, SRCCOPY);
  }
  GdiFlush();
  for (size_t i = 0; i < canvas.size(); ++i) pixels.push_back(canvas.bits()[i] & 0xFFFFFF);
  return pixels;
}

}  // namespace testing
}  // namespace installer
