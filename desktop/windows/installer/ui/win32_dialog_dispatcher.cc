#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "desktop/windows/installer/ui/key_presses.h"

namespace installer {

namespace {

base::LazyInstance<Win32DialogDispatcher> g_dispatcher;

}  // namespace

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() { return g_dispatcher.Pointer(); }

uint32_t Win32DialogDispatcher::Dispatch(const MSG& message) {
  // A held key's repeats reach whatever has the focus by then, a new page's Accept too,
  // and so does a second press or click meant for the page or box before: dropped before
  // the dialog manager or the control could act on them.
  if (ShouldDropInput(message)) return POST_DISPATCH_NONE;
  if (active_dialog_ && IsDialogMessageW(active_dialog_, const_cast<MSG*>(&message)))
    return POST_DISPATCH_NONE;
  return POST_DISPATCH_PERFORM_DEFAULT;
}

void Win32DialogDispatcher::SetActiveDialog(HWND dialog) {
  VLOG(2) << "Switching to hwnd " << static_cast<const void*>(dialog);
  active_dialog_ = dialog;
}

void Win32DialogDispatcher::UnsetActiveDialog(HWND dialog) {
  VLOG(2) << "Switching away from hwnd " << static_cast<const void*>(dialog);
  if (active_dialog_ && active_dialog_ != dialog) {
    VLOG(2) << "Another hwnd was already selected";
    return;
  }
  active_dialog_ = nullptr;
}

void TrackDialogActivation(HWND dialog, WPARAM activate_wparam) {
  if (LOWORD(activate_wparam) == WA_INACTIVE)
    Win32DialogDispatcher::GetInstance()->UnsetActiveDialog(dialog);
  else
    Win32DialogDispatcher::GetInstance()->SetActiveDialog(dialog);
}

}  // namespace installer
