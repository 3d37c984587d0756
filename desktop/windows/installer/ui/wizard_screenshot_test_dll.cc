// Loaded into an installer's UI thread by the wizard driver's message hook: saves a
// screenshot of a window of that thread, drawn by the window itself, when the driver
// asks. A window can only be drawn into a picture by its own process.
//
// The driver puts the picture's name into the mapping "Local\VelumWizardScreenshot",
// posts the registered message "VelumWizardScreenshot" to the window and waits for the
// event "Local\VelumWizardScreenshotDone"; the mapping then holds the result.
#include <windows.h>

#include <string>

#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"
#include "desktop/windows/installer/ui/wizard_screenshot_request.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK WizardScreenshotHook(int code, WPARAM wparam,
                                                                      LPARAM lparam) {
  MSG* message = reinterpret_cast<MSG*>(lparam);
  static const UINT kRequest = RegisterWindowMessageW(installer::testing::kScreenshotMessage);
  if (code == HC_ACTION && wparam == PM_REMOVE && message->message == kRequest) {
    {
      base::ScopedHandle mapping(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE,
                                                  installer::testing::kScreenshotMapping));
      base::ScopedMappedView view(
          mapping.IsValid() ? MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                            sizeof(installer::testing::ScreenshotRequest))
                            : nullptr);
      if (view.IsValid()) {
        auto* request = static_cast<installer::testing::ScreenshotRequest*>(view.Get());
        request->name[ARRAYSIZE(request->name) - 1] = L'\0';
        request->saved = installer::testing::SaveWindowScreenshot(message->hwnd, request->name);
      }
    }  // the view and the mapping go before the driver is told
    base::ScopedHandle done(
        OpenEventW(EVENT_MODIFY_STATE, FALSE, installer::testing::kScreenshotDone));
    if (done.IsValid()) SetEvent(done.Get());
    // Not the window's message.
    message->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
