// A small modeless box (dialog 102 of the host): a localized title, a text whose anchors
// are links, and one or two buttons. The answer comes through a callback; the box never
// closes itself, its owner destroys it.
//
//   CustomMessageBox box;
//   box.Show(parent, 37000, text, 37001, 37002, base::Bind(&OnAnswer));
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_

#include <windows.h>

#include <string>

#include "base/callback.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/ui/host_dialog_ids.h"
#include "desktop/windows/installer/ui/resource_images.h"

namespace installer {

class CustomMessageBox {
 public:
  enum Result : int {
    RESULT_CLOSED = 0,
    RESULT_ACCEPT = 1,
    RESULT_CANCEL = 2,
    RESULT_LINK = 3,
  };
  // Control ids of the template (host_dialog_ids.h).
  enum Control : int {
    TEXT = IDC_BOX_TEXT,
    ACCEPT_BUTTON = IDC_BOX_ACCEPT_BUTTON,
    CANCEL_BUTTON = IDC_BOX_CANCEL_BUTTON,
  };

  typedef base::Callback<void(int)> Callback;

  CustomMessageBox() = default;
  CustomMessageBox(const CustomMessageBox&) = delete;
  CustomMessageBox& operator=(const CustomMessageBox&) = delete;
  // Closes the box and enables the parent again.
  ~CustomMessageBox();

  // With |accept_id| 0 only the cancel button is shown (and is the default). The parent
  // is disabled while the box is up. False when the box could not be made.
  [[nodiscard]] bool Show(HWND parent, int title_id, const std::wstring& text, int accept_id,
                          int cancel_id, const Callback& callback);

  HWND hwnd() const { return dialog_.Get(); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void Report(int result);

  base::ScopedWindow dialog_;
  HWND parent_ = nullptr;
  Callback callback_;
  // Destroyed after the dialog that shows them.
  WindowIcons icons_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_
