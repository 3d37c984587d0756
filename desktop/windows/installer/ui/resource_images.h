// Images of the host executable's resources ("PNG", "JPG") as bitmaps for the installer
// window, and the host's window icons.
//
//   base::ScopedBitmap logo = LoadBitmapFromResource(MAKEINTRESOURCEW(140), L"PNG");
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGES_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGES_H_

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include "base/win/scoped_generic.h"

namespace installer {

// A stream over a copy of the resource in movable global memory, which the stream owns;
// null when the resource is missing.
[[nodiscard]] Microsoft::WRL::ComPtr<IStream> LoadResourceStream(const wchar_t* name,
                                                                 const wchar_t* type);

// The decoded image (32 bits, alpha kept, background colour 0); empty when the resource
// is missing or not an image.
[[nodiscard]] base::ScopedBitmap LoadBitmapFromResource(const wchar_t* name, const wchar_t* type);

// AlphaBlend with source-over, constant alpha 255 and the source's per-pixel alpha.
[[nodiscard]] bool AlphaBlendBitmap(HDC destination, int x, int y, int width, int height,
                                    HDC source, int source_x, int source_y, int source_width,
                                    int source_height);

// The icons a window shows; a window does not destroy them, so its owner keeps them
// until the window is gone.
struct WindowIcons {
  base::ScopedIcon big;
  base::ScopedIcon small;
};

// Gives |window| the host's icon 1, big and small.
[[nodiscard]] WindowIcons SetHostWindowIcon(HWND window);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGES_H_
