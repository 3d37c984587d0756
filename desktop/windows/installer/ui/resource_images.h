// Images of the host executable's resources ("PNG", "JPG") as bitmaps for the installer
// window.
//
//   HBITMAP logo = LoadBitmapFromResource(MAKEINTRESOURCEW(140), L"PNG");
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGES_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGES_H_

#include <windows.h>
#include <objidl.h>

namespace installer {

// A stream over a copy of the resource in movable global memory, which the stream owns;
// null when the resource is missing.
IStream* LoadResourceStream(const wchar_t* name, const wchar_t* type);

// The decoded image (32 bits, alpha kept, background colour 0); null when the resource
// is missing or not an image. The caller deletes the bitmap.
HBITMAP LoadBitmapFromResource(const wchar_t* name, const wchar_t* type);

// AlphaBlend with source-over, constant alpha 255 and the source's per-pixel alpha.
bool AlphaBlendBitmap(HDC destination, int x, int y, int width, int height, HDC source,
                      int source_x, int source_y, int source_width, int source_height);

// The window icon of the host (icon 1), big and small; the icons replaced are destroyed.
void SetHostWindowIcon(HWND window);

// Takes the window's big and small icons away and destroys them: a window does not
// destroy its icons itself.
void DestroyWindowIcons(HWND window);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGES_H_
