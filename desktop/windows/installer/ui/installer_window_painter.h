// InstallerWindowPainter: the wizard's images, fonts and brushes, and what the main
// dialog draws with them: the background behind the pages, the logo with its error
// badge, and the colours of the static controls of both dialogs.
//
//   InstallerWindowPainter painter;
//   painter.Init(dialog);               // in WM_INITDIALOG
//   painter.RebuildBackground(box);     // moved, sized, theme or layout changed
//   painter.EraseBackground(dc);        // WM_ERASEBKGND
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_PAINTER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_PAINTER_H_

#include <windows.h>

#include <map>

#include "base/win/scoped_generic.h"

namespace installer {

class InstallerWindowPainter {
 public:
  InstallerWindowPainter();
  InstallerWindowPainter(const InstallerWindowPainter&) = delete;
  InstallerWindowPainter& operator=(const InstallerWindowPainter&) = delete;
  ~InstallerWindowPainter();

  // Loads the images and makes the fonts for |dialog|, the main dialog, at |dpi| pixels
  // per inch (0: the screen's).
  void Init(HWND dialog, int dpi = 0);

  HFONT bold_font() const { return bold_font_.Get(); }
  HFONT title_font() const { return title_font_.Get(); }
  HFONT headline_font() const { return headline_font_.Get(); }
  bool has_background() const { return background_.IsValid(); }

  // Draws the background for the dialog's client area; |themed_box|, a control the
  // theme draws, gets a brush cut out of it (null: none).
  void RebuildBackground(HWND themed_box);
  void EraseBackground(HDC dc) const;
  // Copies the background under |control| to its DC.
  void CopyBackgroundUnder(HDC dc, HWND control) const;
  // The background's colour at the middle of |control| (white without a background).
  [[nodiscard]] COLORREF BackgroundColorUnder(HWND control) const;
  // The logo centred in the control, the error badge at its lower right corner when
  // |with_badge|; over fresh background unless |keep_background|.
  void DrawLogo(const DRAWITEMSTRUCT& item, bool with_badge, bool keep_background) const;
  // The brush for a WM_CTLCOLOR* |message| of |control|, in the options panel or the
  // main dialog, which shows the options page or another page.
  HBRUSH OnControlColor(HDC dc, HWND control, bool options_panel, bool options_page,
                        UINT message) const;

 private:
  // |pixels| at 96 pixels per inch, at the painter's.
  [[nodiscard]] int Scaled(int pixels) const;

  HWND dialog_ = nullptr;
  int dpi_ = 96;
  base::ScopedBitmap logo_;
  base::ScopedBitmap error_badge_;
  base::ScopedBitmap background_image_;
  base::ScopedBitmap background_;
  base::ScopedFont normal_font_;
  base::ScopedFont bold_font_;
  base::ScopedFont title_font_;
  base::ScopedFont headline_font_;
  base::ScopedBrush white_brush_;
  // Controls drawn by the theme, with the background cut out for them.
  std::map<HWND, base::ScopedBrush> brushes_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_PAINTER_H_
