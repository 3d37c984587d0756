#include "desktop/windows/installer/ui/installer_window_painter.h"

#include <uxtheme.h>

#include <algorithm>

#include "base/logging.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/resource_images.h"

namespace installer {

namespace {

const COLORREF kWarningColor = RGB(255, 0, 0);
// The second warning of the options panel, which has no name of its own.
const int kSecondWarning = 1028;
// The pixels per inch the images are drawn for.
const int kBaseDpi = 96;

// The screen's pixels per inch, which the dialogs' own units follow.
int ScreenDpi() {
  base::ScopedGetDC screen(nullptr);
  const int dpi = screen.IsValid() ? GetDeviceCaps(screen.dc(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : kBaseDpi;
}

[[nodiscard]] base::ScopedFont MakeFont(int points, int dpi, int weight, const wchar_t* face,
                                        DWORD quality, DWORD pitch) {
  return base::ScopedFont(CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE,
                                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                      CLIP_DEFAULT_PRECIS, quality, pitch, face));
}

// The rectangle of |control| in |dialog|'s client coordinates.
RECT RectIn(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// A failed blend leaves the image out of this paint only: the next one tries again.
void Blend(HDC target, int x, int y, int width, int height, HDC source, int source_width,
           int source_height) {
  if (!AlphaBlendBitmap(target, x, y, width, height, source, 0, 0, source_width, source_height))
    LOG(WARNING) << "Blending an installer image failed";
}

// Stretches |image| over |client| of |target|, blending by its per-pixel alpha.
void BlendImage(HDC target, const RECT& client, HBITMAP image) {
  BITMAP info = {};
  GetObjectW(image, sizeof(info), &info);
  base::ScopedCreateDC source(CreateCompatibleDC(target));
  base::ScopedSelectObject selected(source.Get(), image);
  Blend(target, 0, 0, client.right, client.bottom, source.Get(), info.bmWidth, info.bmHeight);
}

// A brush of the part of |target| under |rect|.
[[nodiscard]] base::ScopedBrush CutBrush(HDC target, const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  base::ScopedCreateDC cut(CreateCompatibleDC(target));
  base::ScopedBitmap part(CreateCompatibleBitmap(target, width, height));
  if (!cut.IsValid() || !part.IsValid()) return base::ScopedBrush();
  {
    base::ScopedSelectObject selected(cut.Get(), part.Get());
    BitBlt(cut.Get(), 0, 0, width, height, target, rect.left, rect.top, SRCCOPY);
  }
  // The brush keeps its own copy of the pattern.
  return base::ScopedBrush(CreatePatternBrush(part.Get()));
}

}  // namespace

InstallerWindowPainter::InstallerWindowPainter()
    : white_brush_(CreateSolidBrush(RGB(255, 255, 255))) {}

InstallerWindowPainter::~InstallerWindowPainter() = default;

void InstallerWindowPainter::Init(HWND dialog, int dpi) {
  dialog_ = dialog;
  dpi_ = dpi > 0 ? dpi : ScreenDpi();
  logo_ = LoadBitmapFromResource(MAKEINTRESOURCEW(140), L"PNG");
  error_badge_ = LoadBitmapFromResource(MAKEINTRESOURCEW(141), L"PNG");
  background_image_ = LoadBitmapFromResource(MAKEINTRESOURCEW(139), L"JPG");
  normal_font_ = MakeFont(8, dpi_, 378, L"MS Shell Dlg", DEFAULT_QUALITY, DEFAULT_PITCH);
  bold_font_ = MakeFont(8, dpi_, FW_BOLD, L"MS Shell Dlg", ANTIALIASED_QUALITY, VARIABLE_PITCH);
  title_font_ = MakeFont(14, dpi_, FW_MEDIUM, L"MS Shell Dlg 2", ANTIALIASED_QUALITY, DEFAULT_PITCH);
  headline_font_ = MakeFont(22, dpi_, FW_BLACK, L"Segoe UI", ANTIALIASED_QUALITY, DEFAULT_PITCH);
}

void InstallerWindowPainter::RebuildBackground(HWND themed_box) {
  RECT client;
  GetClientRect(dialog_, &client);
  base::ScopedCreateDC target;
  base::ScopedBitmap bitmap;
  {
    base::ScopedGetDC screen(dialog_);
    if (!screen.IsValid()) return;
    target.Reset(CreateCompatibleDC(screen.dc()));
    bitmap.Reset(CreateCompatibleBitmap(screen.dc(), client.right, client.bottom));
  }
  if (!target.IsValid() || !bitmap.IsValid()) return;
  {
    base::ScopedSelectObject selected(target.Get(), bitmap.Get());
    FillRect(target.Get(), &client, GetSysColorBrush(COLOR_3DFACE));
    if (background_image_.IsValid()) BlendImage(target.Get(), client, background_image_.Get());
    brushes_.clear();
    // A box drawn by the theme gets the background behind it.
    if (themed_box && IsAppThemed()) {
      base::ScopedBrush brush = CutBrush(target.Get(), RectIn(dialog_, themed_box));
      if (brush.IsValid()) brushes_[themed_box] = std::move(brush);
    }
  }
  background_ = std::move(bitmap);
}

void InstallerWindowPainter::EraseBackground(HDC dc) const {
  RECT client;
  GetClientRect(dialog_, &client);
  base::ScopedCreateDC source(CreateCompatibleDC(dc));
  base::ScopedSelectObject selected(source.Get(), background_.Get());
  BitBlt(dc, 0, 0, client.right, client.bottom, source.Get(), 0, 0, SRCCOPY);
}

void InstallerWindowPainter::CopyBackgroundUnder(HDC dc, HWND control) const {
  const RECT rect = RectIn(dialog_, control);
  base::ScopedCreateDC source(CreateCompatibleDC(dc));
  if (!source.IsValid()) return;
  base::ScopedSelectObject selected(source.Get(), background_.Get());
  BitBlt(dc, 0, 0, rect.right - rect.left, rect.bottom - rect.top, source.Get(), rect.left,
         rect.top, SRCCOPY);
}

COLORREF InstallerWindowPainter::BackgroundColorUnder(HWND control) const {
  const COLORREF white = RGB(255, 255, 255);
  if (!background_.IsValid()) return white;
  const RECT rect = RectIn(dialog_, control);
  base::ScopedCreateDC source(CreateCompatibleDC(nullptr));
  if (!source.IsValid()) return white;
  base::ScopedSelectObject selected(source.Get(), background_.Get());
  const COLORREF color =
      GetPixel(source.Get(), (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return color == CLR_INVALID ? white : color;
}

void InstallerWindowPainter::DrawLogo(const DRAWITEMSTRUCT& item, bool with_badge,
                                      bool keep_background) const {
  if (background_.IsValid() && !keep_background) CopyBackgroundUnder(item.hDC, item.hwndItem);
  base::ScopedCreateDC source(CreateCompatibleDC(item.hDC));
  if (!source.IsValid()) return;
  const RECT& rect = item.rcItem;
  BITMAP logo = {};
  if (!logo_.IsValid() || !GetObjectW(logo_.Get(), sizeof(logo), &logo)) return;
  base::ScopedSelectObject selected(source.Get(), logo_.Get());
  // The images are drawn for 96 pixels per inch and grow with the controls around them.
  const int logo_width = Scaled(logo.bmWidth);
  const int logo_height = Scaled(logo.bmHeight);
  int x = rect.left + (rect.right - rect.left - logo_width) / 2;
  int y = rect.top + (rect.bottom - rect.top - logo_height) / 2;
  Blend(item.hDC, x, y, logo_width, logo_height, source.Get(), logo.bmWidth, logo.bmHeight);
  BITMAP badge = {};
  if (!with_badge || !error_badge_.IsValid() ||
      !GetObjectW(error_badge_.Get(), sizeof(badge), &badge)) {
    return;
  }
  base::ScopedSelectObject badge_selected(source.Get(), error_badge_.Get());
  const int badge_width = Scaled(badge.bmWidth);
  const int badge_height = Scaled(badge.bmHeight);
  // Kept inside the control, which clips it.
  int badge_x = std::min<int>(x + logo_width - badge_width + Scaled(10), rect.right - badge_width);
  int badge_y =
      std::min<int>(y + logo_height - badge_height + Scaled(10), rect.bottom - badge_height);
  Blend(item.hDC, badge_x, badge_y, badge_width, badge_height, source.Get(), badge.bmWidth,
        badge.bmHeight);
}

int InstallerWindowPainter::Scaled(int pixels) const { return MulDiv(pixels, dpi_, kBaseDpi); }

HBRUSH InstallerWindowPainter::OnControlColor(HDC dc, HWND control, bool options_panel,
                                              bool options_page, UINT message) const {
  if (message == WM_CTLCOLORDLG || message == WM_CTLCOLORBTN) return white_brush_.Get();
  if (message != WM_CTLCOLORSTATIC) return nullptr;
  int id = GetDlgCtrlID(control);
  if (!options_panel) {
    if (id == InstallerWindow::TERMS_TEXT) {
      // The scheme's own pair: in high contrast the text is light on dark.
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      return GetSysColorBrush(COLOR_WINDOW);
    }
    auto brush = brushes_.find(control);
    if (brush != brushes_.end()) return brush->second.Get();
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, id == InstallerWindow::INVALID_PATH_WARNING || id == kSecondWarning
                       ? kWarningColor
                       : RGB(0, 0, 0));
  // The options panel and the options page are plain white: a label filled white is
  // erased cleanly when its text changes, where a transparent one would keep the old text.
  if (options_panel || options_page) return white_brush_.Get();
  // The dialog clips its children, so what lies under a transparent control is the
  // background the control copies itself, not what the previous page left there.
  if (background_.IsValid()) CopyBackgroundUnder(dc, control);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

}  // namespace installer
