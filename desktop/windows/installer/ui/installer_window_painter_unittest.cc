#include "desktop/windows/installer/ui/installer_window_painter.h"

#include <stdint.h>

#include <algorithm>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"

namespace installer {
namespace {

// Where nothing was drawn.
const uint32_t kUntouched = 0x00FF00FF;
// Around the drawn area in every surface: what lands there was drawn outside it.
const int kMargin = 12;

// The GDI objects this process holds. Wine does not count them (GetGuiResources answers
// 0) but takes a handle's table index alone, so there the table is walked.
int CountGdiObjects() {
  const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted != 0) return static_cast<int>(counted);
  int live = 0;
  for (ULONG_PTR index = 1; index <= 0xFFFF; ++index)
    live += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0;
  return live;
}

// A canvas filled with kUntouched, drawn into with the origin moved by kMargin, so that
// a drawing's stray pixels on any side show.
class Surface {
 public:
  Surface(int width, int height) : canvas_(width + 2 * kMargin, height + 2 * kMargin) {
    if (!canvas_.valid()) return;
    const RECT all = {0, 0, canvas_.width(), canvas_.height()};
    base::ScopedBrush untouched(CreateSolidBrush(RGB(0xFF, 0, 0xFF)));
    FillRect(canvas_.dc(), &all, untouched.Get());
    SetViewportOrgEx(canvas_.dc(), kMargin, kMargin, nullptr);
  }

  bool valid() const { return canvas_.valid(); }
  HDC dc() const { return canvas_.dc(); }
  // The pixel at |x|, |y| of the drawing (the margin left out), RGB only.
  uint32_t At(int x, int y) const {
    GdiFlush();
    return Pixel(x, y);
  }
  // Drawn pixels outside the |width| x |height| drawing.
  int DrawnOutside(int width, int height) const {
    GdiFlush();
    int count = 0;
    for (int y = -kMargin; y < canvas_.height() - kMargin; ++y) {
      for (int x = -kMargin; x < canvas_.width() - kMargin; ++x) {
        const bool inside = x >= 0 && y >= 0 && x < width && y < height;
        if (!inside && Pixel(x, y) != kUntouched) ++count;
      }
    }
    return count;
  }
  // The bounds of the drawn pixels.
  RECT DrawnBounds() const {
    GdiFlush();
    RECT bounds = {canvas_.width(), canvas_.height(), -kMargin - 1, -kMargin - 1};
    for (int y = -kMargin; y < canvas_.height() - kMargin; ++y) {
      for (int x = -kMargin; x < canvas_.width() - kMargin; ++x) {
        if (Pixel(x, y) == kUntouched) continue;
        bounds = {std::min<LONG>(bounds.left, x), std::min<LONG>(bounds.top, y),
                  std::max<LONG>(bounds.right, x + 1), std::max<LONG>(bounds.bottom, y + 1)};
      }
    }
    return bounds;
  }

 private:
  uint32_t Pixel(int x, int y) const {
    return canvas_.bits()[(y + kMargin) * canvas_.width() + x + kMargin] & 0xFFFFFF;
  }

  testing::Canvas canvas_;
};

// The main dialog's client area and its logo control at the DPIs the window is shown
// at (the logo image is 96 x 96, its badge 32 x 32), left to right and mirrored.
const struct Layout {
  int dpi;
  bool right_to_left;
  SIZE client;
  RECT logo;
} kLayouts[] = {
    {96, false, {664, 424}, {276, 33, 388, 137}},
    {120, false, {830, 530}, {345, 41, 485, 171}},
    {144, false, {996, 636}, {414, 49, 582, 205}},
    {192, false, {1328, 848}, {552, 66, 776, 274}},
    // A control off the middle, so that a mirrored place differs from the other.
    {96, true, {664, 424}, {100, 33, 212, 137}},
    {144, true, {996, 636}, {150, 49, 318, 205}},
};

void PrintTo(const Layout& layout, std::ostream* out) {
  *out << layout.dpi << " dpi" << (layout.right_to_left ? ", mirrored" : "");
}

class InstallerWindowPainterTest : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    const Layout& layout = GetParam();
    RECT frame = {0, 0, layout.client.cx, layout.client.cy};
    ASSERT_TRUE(AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0));
    dialog_.Reset(CreateWindowExW(layout.right_to_left ? WS_EX_LAYOUTRTL : 0, L"Static", L"",
                                  WS_POPUP, 0, 0, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(dialog_.IsValid());
    logo_ = CreateWindowExW(0, L"Static", L"", WS_CHILD | SS_OWNERDRAW, layout.logo.left,
                            layout.logo.top, Width(layout.logo), Height(layout.logo), dialog_.Get(),
                            nullptr, nullptr, nullptr);
    ASSERT_TRUE(logo_);
    painter_.Init(dialog_.Get(), layout.dpi);
    painter_.RebuildBackground(nullptr);
    ASSERT_TRUE(painter_.has_background());
  }

  static int Width(const RECT& rect) { return rect.right - rect.left; }
  static int Height(const RECT& rect) { return rect.bottom - rect.top; }

  // The logo control's WM_DRAWITEM into |surface|.
  void DrawLogo(const Surface& surface, bool with_badge, bool keep_background) {
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_STATIC;
    item.hwndItem = logo_;
    item.hDC = surface.dc();
    item.rcItem = {0, 0, Width(GetParam().logo), Height(GetParam().logo)};
    painter_.DrawLogo(item, with_badge, keep_background);
  }

  base::ScopedWindow dialog_;
  HWND logo_ = nullptr;
  InstallerWindowPainter painter_;
};

// The background covers the client area and nothing beyond it, and is the image, not a
// plain fill.
TEST_P(InstallerWindowPainterTest, BackgroundFillsTheClientArea) {
  const SIZE client = GetParam().client;
  const RECT client_rect = {0, 0, client.cx, client.cy};
  Surface surface(client.cx, client.cy);
  ASSERT_TRUE(surface.valid());
  painter_.EraseBackground(surface.dc());
  EXPECT_EQ(0, surface.DrawnOutside(client.cx, client.cy));
  const RECT bounds = surface.DrawnBounds();
  EXPECT_TRUE(EqualRect(&bounds, &client_rect));
  EXPECT_NE(surface.At(client.cx / 2, 0), surface.At(client.cx / 2, client.cy - 1));
}

// The logo lands centred in its control, the badge at its lower right only when asked,
// and neither leaves the control; under them, the background where the control is.
TEST_P(InstallerWindowPainterTest, LogoAndBadgeStayInTheirControl) {
  const RECT& logo = GetParam().logo;
  const int width = Width(logo);
  const int height = Height(logo);
  Surface plain(width, height);
  Surface badged(width, height);
  ASSERT_TRUE(plain.valid() && badged.valid());
  DrawLogo(plain, false, true);
  DrawLogo(badged, true, true);
  EXPECT_EQ(0, plain.DrawnOutside(width, height));
  EXPECT_EQ(0, badged.DrawnOutside(width, height));
  // The logo's circle (88 pixels across at 96 dpi) is centred in its image, and grows
  // with the DPI as the control does; so does the badge (30 pixels at 96 dpi).
  const RECT image = plain.DrawnBounds();
  EXPECT_NEAR(width - image.right, image.left, 2) << "centred across";
  EXPECT_NEAR(height - image.bottom, image.top, 2) << "centred down";
  const int dpi = GetParam().dpi;
  EXPECT_NEAR(88 * dpi / 96, image.right - image.left, 3);
  EXPECT_NEAR(88 * dpi / 96, image.bottom - image.top, 3);
  const RECT with_badge = badged.DrawnBounds();
  EXPECT_GT(with_badge.right, image.right - 2);
  EXPECT_GT(with_badge.bottom, image.bottom - 2);
  int badge_pixels = 0;
  int badge_right = 0, badge_bottom = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (plain.At(x, y) == badged.At(x, y)) continue;
      ++badge_pixels;
      badge_right = std::max(badge_right, x + 1);
      badge_bottom = std::max(badge_bottom, y + 1);
      EXPECT_TRUE(x >= width / 2 && y >= height / 2) << x << "," << y;
    }
  }
  // The badge's disc covers about 700 pixels at 96 dpi.
  EXPECT_GT(badge_pixels, 500 * dpi * dpi / (96 * 96));
  // It hangs 10 pixels at 96 dpi beyond the logo's image (96 pixels at 96 dpi, centred),
  // as far as the control allows: in the window's controls, it reaches their corner at
  // every DPI.
  EXPECT_NEAR(std::min(width, (width + dpi) / 2 + 10 * dpi / 96), badge_right, 1);
  EXPECT_NEAR(std::min(height, (height + dpi) / 2 + 10 * dpi / 96), badge_bottom, 1);

  Surface page(GetParam().client.cx, GetParam().client.cy);
  Surface over_background(width, height);
  ASSERT_TRUE(page.valid() && over_background.valid());
  painter_.EraseBackground(page.dc());
  DrawLogo(over_background, false, false);
  EXPECT_EQ(0, over_background.DrawnOutside(width, height));
  for (POINT corner : {POINT{0, 0}, POINT{width - 1, 0}, POINT{0, height - 1},
                       POINT{width - 1, height - 1}}) {
    EXPECT_EQ(page.At(logo.left + corner.x, logo.top + corner.y),
              over_background.At(corner.x, corner.y))
        << corner.x << "," << corner.y;
  }
}

// Painting again and again, as a window does all day, holds no more GDI objects than
// before.
TEST_P(InstallerWindowPainterTest, PaintingLeaksNoGdiObjects) {
  const SIZE client = GetParam().client;
  Surface surface(client.cx, client.cy);
  ASSERT_TRUE(surface.valid());
  HWND label = CreateWindowExW(0, L"Static", L"label", WS_CHILD, 10, 10, 100, 20, dialog_.Get(),
                               nullptr, nullptr, nullptr);
  ASSERT_TRUE(label);
  auto paint = [&]() {
    painter_.RebuildBackground(label);
    painter_.EraseBackground(surface.dc());
    DrawLogo(surface, true, false);
    for (UINT message : {WM_CTLCOLORSTATIC, WM_CTLCOLORBTN, WM_CTLCOLORDLG}) {
      for (bool options_page : {false, true})
        painter_.OnControlColor(surface.dc(), label, false, options_page, message);
    }
  };
  paint();
  const int before = CountGdiObjects();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 100; ++i) paint();
  EXPECT_EQ(before, CountGdiObjects());
}

INSTANTIATE_TEST_SUITE_P(Dpi, InstallerWindowPainterTest, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return std::to_string(info.param.dpi) +
                                  (info.param.right_to_left ? "_mirrored" : "");
                         });

}  // namespace
}  // namespace installer
