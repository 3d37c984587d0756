// Drives the installer's dialogs from a test on the same thread: reads what a user sees
// (control visibility, texts, progress), clicks, sends the link notification a rich edit
// would send, and saves screenshots for people to look at (never compared). Reading,
// clicking and screenshots work on another process's window too.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WIZARD_DRIVER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WIZARD_DRIVER_TEST_UTIL_H_

#include <windows.h>
#include <richedit.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/scoped_generic.h"

namespace installer {
namespace testing {

// A 32-bit top-down DIB section and a memory DC holding it.
class Canvas {
 public:
  Canvas(int width, int height);
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas();

  bool valid() const { return selected_.IsValid() && bits_ != nullptr; }
  HDC dc() const { return dc_.Get(); }
  HBITMAP bitmap() const { return bitmap_.Get(); }
  const uint32_t* bits() const { return bits_; }
  int width() const { return width_; }
  int height() const { return height_; }
  size_t size() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }

 private:
  static HBITMAP MakeSection(int width, int height, uint32_t** bits);

  int width_, height_;
  uint32_t* bits_ = nullptr;
  // In this order: the selection ends before the bitmap and the DC go.
  base::ScopedCreateDC dc_;
  base::ScopedBitmap bitmap_;
  base::ScopedSelectObject selected_;
};

// Runs the messages queued for this thread's windows.
void PumpPendingMessages();

// The top-level dialog of this thread whose title is |title|; null when none.
HWND FindDialogOfThisThread(const std::wstring& title);

// Whether the control itself is marked visible (its parents may be hidden).
bool IsControlShown(HWND dialog, int id);
std::wstring GetControlText(HWND dialog, int id);
int GetProgressPosition(HWND dialog, int id);

// Every position progress bar |id| of |dialog| takes from now on, as its own messages
// move it, until the recorder or the bar goes.
class ProgressRecorder {
 public:
  ProgressRecorder(HWND dialog, int id);
  ~ProgressRecorder();
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  // False when the bar could not be watched.
  bool active() const { return bar_ != nullptr; }
  const std::vector<int>& positions() const { return positions_; }

 private:
  static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam,
                                  UINT_PTR id, DWORD_PTR data);

  HWND bar_ = nullptr;
  std::vector<int> positions_;
};

// Clicks a visible, enabled button as the mouse would (BM_CLICK).
void ClickButton(HWND dialog, int id);
// Selects entry |index| of a combo box and tells the dialog as a user's choice would.
void SelectComboEntry(HWND dialog, int id, int index);
// Types |text| into a drop-down combo box's edit part.
void TypeComboText(HWND dialog, int id, const std::wstring& text);
// The WM_NOTIFY/EN_LINK a left click on characters |range| of rich edit |id| sends.
LRESULT SendLinkClick(HWND dialog, int id, CHARRANGE range);
// The key press of |key| as the run loop would hand it to the dialog dispatcher.
MSG MakeKeyDown(HWND focus, WPARAM key);
// The keyboard focus of |thread| (any process's); null when none.
HWND FocusOf(DWORD thread);
// The keyboard focus of |thread| when a posted key can reach it: the window holding it is
// shown and enabled. Null otherwise: an answered question box keeps the focus while hidden,
// until the window below takes it back, and a key posted to it goes with the box.
HWND KeyTargetOf(DWORD thread);

// |window| drawn by itself and its children, as a screenshot shows it (null on failure).
[[nodiscard]] std::unique_ptr<Canvas> PrintWindowPicture(HWND window);

// Saves |window| as "<screenshots folder>\|name|.png", drawn by the window and its
// children themselves (no other window can cover it); the folder is "screenshots" in the
// build folder (next to the test programs' folder). False also when the picture is of a
// single colour. Works on windows of this process only.
[[nodiscard]] bool SaveWindowScreenshot(HWND window, const std::wstring& name);

// The pixels |control| shows now (0x00RRGGBB, row by row), as painted so far: what a
// user sees, including what a repaint left behind.
std::vector<uint32_t> ReadShownPixels(HWND control);

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WIZARD_DRIVER_TEST_UTIL_H_
