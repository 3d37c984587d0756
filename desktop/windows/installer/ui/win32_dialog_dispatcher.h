// The process-wide dispatcher the UI run loop is given: each queued message is first
// offered to IsDialogMessageW of the active modeless dialog, so that Tab, Enter, Escape
// and mnemonics work in the installer's dialogs. Dialogs register on activation.
//
//   case WM_ACTIVATE:
//     if (LOWORD(wparam) == WA_INACTIVE)
//       Win32DialogDispatcher::GetInstance()->UnsetActiveDialog(dialog);
//     else
//       Win32DialogDispatcher::GetInstance()->SetActiveDialog(dialog);
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_

#include <windows.h>

#include <stdint.h>

#include "base/message_loop/message_pump_dispatcher.h"

namespace installer {

class Win32DialogDispatcher : public base::MessagePumpDispatcher {
 public:
  // One per process, made on first use and deleted by the exit-callback stack.
  static Win32DialogDispatcher* GetInstance();

  Win32DialogDispatcher() = default;
  Win32DialogDispatcher(const Win32DialogDispatcher&) = delete;
  Win32DialogDispatcher& operator=(const Win32DialogDispatcher&) = delete;
  ~Win32DialogDispatcher() override = default;

  // Handled when the active dialog consumed the message, or when it repeats a held key
  // that presses or follows, would press a page's default button before the page could be
  // seen, or is the second click on what a click brought up (dropped); otherwise the pump
  // translates and dispatches it.
  uint32_t Dispatch(const MSG& message) override;

  void SetActiveDialog(HWND dialog);
  // Keeps another dialog that became active in between.
  void UnsetActiveDialog(HWND dialog);

  HWND active_dialog() const { return active_dialog_; }

 private:
  HWND active_dialog_ = nullptr;
};

// What a dialog procedure does with WM_ACTIVATE: registers or unregisters |dialog|.
void TrackDialogActivation(HWND dialog, WPARAM activate_wparam);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
