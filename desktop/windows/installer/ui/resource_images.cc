#include "desktop/windows/installer/ui/resource_images.h"

#include <algorithm>
#include <cstring>
#include <memory>

// GDI+'s C++ headers use min and max unqualified.
namespace Gdiplus {
using std::max;  // NOLINT(misc-unused-using-decls): used by the headers below
using std::min;  // NOLINT(misc-unused-using-decls)
}  // namespace Gdiplus
#include <gdiplus.h>

#include "base/logging.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

// GDI+ started for the life of the object.
class ScopedGdiplus {
 public:
  ScopedGdiplus() {
    Gdiplus::GdiplusStartupInput input;
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    if (!started_) LOG(ERROR) << "GdiplusStartup failed.";
  }
  ~ScopedGdiplus() {
    if (started_) Gdiplus::GdiplusShutdown(token_);
  }
  bool started() const { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

// The window returns the icon it showed before, which is ours only when we set it.
[[nodiscard]] base::ScopedIcon ReplaceIcon(HWND window, WPARAM which, int size_metric) {
  int size = GetSystemMetrics(size_metric);
  base::ScopedIcon icon(static_cast<HICON>(LoadImageW(
      GetResourceModule(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
  if (icon.IsValid())
    SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon.Get()));
  return icon;
}

}  // namespace

Microsoft::WRL::ComPtr<IStream> LoadResourceStream(const wchar_t* name, const wchar_t* type) {
  HMODULE module = GetResourceModule();
  HRSRC resource = FindResourceW(module, name, type);
  if (!resource) return nullptr;
  DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || !size) return nullptr;
  base::ScopedGlobalAlloc copy(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!copy.IsValid()) return nullptr;
  void* target = GlobalLock(copy.Get());
  if (!target) return nullptr;
  memcpy(target, data, size);
  GlobalUnlock(copy.Get());
  Microsoft::WRL::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(copy.Get(), TRUE, stream.GetAddressOf()))) return nullptr;
  // The stream frees the block when it is released.
  copy.Take();
  return stream;
}

base::ScopedBitmap LoadBitmapFromResource(const wchar_t* name, const wchar_t* type) {
  Microsoft::WRL::ComPtr<IStream> stream = LoadResourceStream(name, type);
  if (!stream) return base::ScopedBitmap();
  ScopedGdiplus gdiplus;
  if (!gdiplus.started()) return base::ScopedBitmap();
  HBITMAP result = nullptr;
  // Destroyed before GDI+ shuts down.
  std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream.Get()));
  if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok ||
      bitmap->GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), &result) != Gdiplus::Ok) {
    return base::ScopedBitmap();
  }
  return base::ScopedBitmap(result);
}

bool AlphaBlendBitmap(HDC destination, int x, int y, int width, int height, HDC source,
                      int source_x, int source_y, int source_width, int source_height) {
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  return AlphaBlend(destination, x, y, width, height, source, source_x, source_y, source_width,
                    source_height, blend) != FALSE;
}

WindowIcons SetHostWindowIcon(HWND window) {
  WindowIcons icons;
  icons.big = ReplaceIcon(window, ICON_BIG, SM_CXICON);
  icons.small = ReplaceIcon(window, ICON_SMALL, SM_CXSMICON);
  return icons;
}

}  // namespace installer
