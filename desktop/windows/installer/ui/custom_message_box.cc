#include "desktop/windows/installer/ui/custom_message_box.h"

#include <richedit.h>

#include "base/logging.h"
#include "base/win/wrapped_window_proc.h"
#include "desktop/windows/installer/ui/resource_images.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

const int kDialogTemplate = IDD_MESSAGE_BOX;
const COLORREF kTextColor = RGB(100, 0, 0);
const COLORREF kLinkColor = 0x686868;

}  // namespace

CustomMessageBox::~CustomMessageBox() {
  if (!dialog_.IsValid()) return;
  LOG(INFO) << "Destroying custom message box";
  // The parent first, so that activation can go back to it.
  if (parent_) EnableWindow(parent_, TRUE);
  SetWindowLongPtrW(dialog_.Get(), GWLP_USERDATA, 0);
  Win32DialogDispatcher::GetInstance()->UnsetActiveDialog(dialog_.Get());
  // Here, not with the members: the icons it shows go after it.
  dialog_.Reset();
}

bool CustomMessageBox::Show(HWND parent, int title_id, const std::wstring& text, int accept_id,
                            int cancel_id, const Callback& callback) {
  InitRichEdit();
  LOG(INFO) << "Displaying custom message box";
  HWND dialog = CreateDialogParamW(GetResourceModule(), MAKEINTRESOURCEW(kDialogTemplate), parent,
                                   DialogProc, reinterpret_cast<LPARAM>(this));
  if (!dialog) {
    PLOG(ERROR) << "Failed to display custom message box";
    return false;
  }
  dialog_.Reset(dialog);
  callback_ = callback;
  parent_ = parent;
  if (parent_) EnableWindow(parent_, FALSE);

  icons_ = SetHostWindowIcon(dialog);
  SetWindowTextW(dialog, GetLocalizedString(title_id).c_str());

  HWND text_control = GetDlgItem(dialog, TEXT);
  LRESULT mask = SendMessageW(text_control, EM_GETEVENTMASK, 0, 0);
  SendMessageW(text_control, EM_SETEVENTMASK, 0, mask | ENM_LINK);
  SetRichEditColor(text_control, kTextColor);
  HideCaretSubclass(text_control);
  SetRichEditTextWithLinks(text_control, text, kLinkColor);

  HWND accept = GetDlgItem(dialog, ACCEPT_BUTTON);
  HWND cancel = GetDlgItem(dialog, CANCEL_BUTTON);
  if (accept_id) {
    SetWindowTextW(accept, GetLocalizedString(accept_id).c_str());
    SendMessageW(dialog, DM_SETDEFID, ACCEPT_BUTTON, 0);
  } else {
    ShowWindow(accept, SW_HIDE);
    SendMessageW(accept, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageW(cancel, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    SendMessageW(dialog, DM_SETDEFID, CANCEL_BUTTON, 0);
  }
  SetWindowTextW(cancel, GetLocalizedString(cancel_id).c_str());
  ShowWindow(dialog, SW_SHOW);
  // A hidden accept button cannot take the focus; the default one then has it.
  SetFocus(accept_id ? accept : cancel);
  return true;
}

void CustomMessageBox::Report(int result) {
  if (!callback_.is_null()) callback_.Run(result);
}

// static
INT_PTR CALLBACK CustomMessageBox::DialogProc(HWND dialog, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    return FALSE;
  }
  CustomMessageBox* self =
      reinterpret_cast<CustomMessageBox*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (!self) return FALSE;
  switch (message) {
    case WM_ACTIVATE:
      TrackDialogActivation(dialog, wparam);
      return FALSE;
    case WM_CLOSE:
      self->Report(RESULT_CLOSED);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED) return FALSE;
      if (LOWORD(wparam) == ACCEPT_BUTTON) {
        self->Report(RESULT_ACCEPT);
        return TRUE;
      }
      if (LOWORD(wparam) == CANCEL_BUTTON) {
        self->Report(RESULT_CANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_NOTIFY:
      if (IsLinkClick(reinterpret_cast<const NMHDR*>(lparam))) {
        self->Report(RESULT_LINK);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace installer
