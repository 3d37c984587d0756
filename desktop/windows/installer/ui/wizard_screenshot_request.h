// What the wizard driver and its screenshot hook (wizard_screenshot_test_dll.cc) share.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WIZARD_SCREENSHOT_REQUEST_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WIZARD_SCREENSHOT_REQUEST_H_

#include <windows.h>

namespace installer {
namespace testing {

const wchar_t kScreenshotMessage[] = L"VelumWizardScreenshot";
const wchar_t kScreenshotMapping[] = L"Local\\VelumWizardScreenshot";
const wchar_t kScreenshotDone[] = L"Local\\VelumWizardScreenshotDone";
const wchar_t kScreenshotHookDll[] = L"wizard_screenshot_test_dll.dll";
const char kScreenshotHookProc[] = "WizardScreenshotHook";

struct ScreenshotRequest {
  wchar_t name[MAX_PATH];
  BOOL saved;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WIZARD_SCREENSHOT_REQUEST_H_
