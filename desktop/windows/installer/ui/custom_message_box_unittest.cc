#include "desktop/windows/installer/ui/custom_message_box.h"

#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "desktop/windows/installer/ui/resource_images.h"
#include "desktop/windows/installer/ui/rich_edit_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace {

using testing::ClickButton;
using testing::IsControlShown;

class CustomMessageBoxTest : public ::testing::Test {
 public:
  void OnResult(int result) { results_.push_back(result); }

 protected:
  void SetUp() override {
    parent_ = CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(parent_);
  }
  void TearDown() override {
    box_.reset();
    DestroyWindow(parent_);
    testing::PumpPendingMessages();
  }

  // A box whose answers are collected in results_.
  void Show(int accept_id) {
    box_.reset(new CustomMessageBox);
    ASSERT_TRUE(box_->Show(parent_, 37000,
                           L"The installer is damaged. <a href=\"help\">Get help</a>", accept_id,
                           37002, base::Bind(&CustomMessageBoxTest::OnResult, this)));
    testing::PumpPendingMessages();
  }
  // Enter as the UI run loop delivers it: through the dispatcher to the active dialog.
  void PressEnter() {
    Win32DialogDispatcher dispatcher;
    dispatcher.SetActiveDialog(box_->hwnd());
    // The focus may still be on its way into the box: then the key goes to the box itself.
    HWND target = GetFocus();
    if (!target || (target != box_->hwnd() && !IsChild(box_->hwnd(), target)))
      target = box_->hwnd();
    MSG key = testing::MakeKeyDown(target, VK_RETURN);
    EXPECT_EQ(static_cast<uint32_t>(base::MessagePumpDispatcher::POST_DISPATCH_NONE),
              dispatcher.Dispatch(key));
  }

  HWND parent_ = nullptr;
  std::unique_ptr<CustomMessageBox> box_;
  std::vector<int> results_;
};

TEST_F(CustomMessageBoxTest, TwoButtonsAcceptIsTheDefault) {
  Show(37001);
  HWND box = box_->hwnd();
  EXPECT_TRUE(IsControlShown(box, CustomMessageBox::ACCEPT_BUTTON));
  EXPECT_TRUE(IsControlShown(box, CustomMessageBox::CANCEL_BUTTON));
  EXPECT_EQ(GetLocalizedString(37001), testing::GetControlText(box, CustomMessageBox::ACCEPT_BUTTON));
  EXPECT_EQ(GetLocalizedString(37002), testing::GetControlText(box, CustomMessageBox::CANCEL_BUTTON));
  wchar_t title[100] = {};
  GetWindowTextW(box, title, 100);
  EXPECT_EQ(GetLocalizedString(37000), title);
  EXPECT_FALSE(IsWindowEnabled(parent_));
  EXPECT_TRUE(testing::SaveWindowScreenshot(box, L"message_box_two_buttons"));
  PressEnter();
  EXPECT_EQ(std::vector<int>{CustomMessageBox::RESULT_ACCEPT}, results_);
}

// One box per answer the installer asks for: each must give back the icons it was given.
TEST_F(CustomMessageBoxTest, TheIconsGoWithTheBox) {
  Show(37001);
  std::vector<HICON> icons;
  for (WPARAM which : {ICON_BIG, ICON_SMALL}) {
    icons.push_back(reinterpret_cast<HICON>(SendMessageW(box_->hwnd(), WM_GETICON, which, 0)));
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icons.back(), &info)) << which;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  box_.reset();
  testing::PumpPendingMessages();
  for (HICON icon : icons) {
    ICONINFO info = {};
    EXPECT_FALSE(GetIconInfo(icon, &info));
  }
}

TEST_F(CustomMessageBoxTest, OneButtonEnterCancels) {
  Show(0);
  HWND box = box_->hwnd();
  EXPECT_FALSE(IsControlShown(box, CustomMessageBox::ACCEPT_BUTTON));
  EXPECT_TRUE(IsControlShown(box, CustomMessageBox::CANCEL_BUTTON));
  EXPECT_TRUE(testing::SaveWindowScreenshot(box, L"message_box_one_button"));
  PressEnter();
  EXPECT_EQ(std::vector<int>{CustomMessageBox::RESULT_CANCEL}, results_);
}

TEST_F(CustomMessageBoxTest, ResultsOfClicksCloseAndLink) {
  Show(37001);
  HWND box = box_->hwnd();
  ClickButton(box, CustomMessageBox::ACCEPT_BUTTON);
  ClickButton(box, CustomMessageBox::CANCEL_BUTTON);
  SendMessageW(box, WM_CLOSE, 0, 0);
  testing::SendLinkClick(box, CustomMessageBox::TEXT, CHARRANGE{0, 4});
  EXPECT_EQ((std::vector<int>{1, 2, 0, 3}), results_);
  // The box never closes itself.
  EXPECT_TRUE(IsWindow(box));
  EXPECT_TRUE(IsWindowVisible(box));
  box_.reset();
  EXPECT_FALSE(IsWindow(box));
  EXPECT_TRUE(IsWindowEnabled(parent_));
  // A destroyed box is no longer offered the keyboard.
  EXPECT_NE(box, Win32DialogDispatcher::GetInstance()->active_dialog());
}

TEST_F(CustomMessageBoxTest, MissingTemplateLeavesTheParentEnabled) {
  // A module without dialog 102.
  SetResourceModuleForTesting(GetModuleHandleW(L"kernel32.dll"));
  CustomMessageBox box;
  bool shown = box.Show(parent_, 37000, L"text", 37001, 37002,
                        base::Bind(&CustomMessageBoxTest::OnResult, this));
  SetResourceModuleForTesting(nullptr);
  EXPECT_FALSE(shown);
  EXPECT_EQ(nullptr, box.hwnd());
  EXPECT_TRUE(IsWindowEnabled(parent_));
}

TEST(ResourceImagesTest, PngAndJpgBecomeBitmaps) {
  struct Case {
    int id;
    const wchar_t* type;
  };
  for (const Case& c : {Case{139, L"JPG"}, Case{140, L"PNG"}, Case{141, L"PNG"}}) {
    base::ScopedBitmap bitmap = LoadBitmapFromResource(MAKEINTRESOURCEW(c.id), c.type);
    ASSERT_TRUE(bitmap.IsValid()) << c.id;
    BITMAP info = {};
    ASSERT_TRUE(GetObjectW(bitmap.Get(), sizeof(info), &info));
    EXPECT_GT(info.bmWidth, 0);
    EXPECT_GT(info.bmHeight, 0);
    EXPECT_EQ(32, info.bmBitsPixel) << c.id;
  }
  EXPECT_FALSE(LoadBitmapFromResource(MAKEINTRESOURCEW(139), L"PNG").IsValid());
  // Not an image.
  EXPECT_FALSE(LoadBitmapFromResource(MAKEINTRESOURCEW(142), L"TXT").IsValid());
  EXPECT_EQ(nullptr, LoadResourceStream(MAKEINTRESOURCEW(999), L"PNG"));
  Microsoft::WRL::ComPtr<IStream> stream = LoadResourceStream(MAKEINTRESOURCEW(140), L"PNG");
  ASSERT_TRUE(stream);
  char signature[4] = {};
  ULONG read = 0;
  EXPECT_EQ(S_OK, stream->Read(signature, 4, &read));
  EXPECT_EQ(0, memcmp(signature, "\x89PNG", 4));
}

TEST_F(CustomMessageBoxTest, DispatcherOffersMessagesToTheActiveDialogOnly) {
  Show(37001);
  HWND dialog = box_->hwnd();
  HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  Win32DialogDispatcher dispatcher;
  MSG tab = testing::MakeKeyDown(GetDlgItem(dialog, CustomMessageBox::ACCEPT_BUTTON), VK_TAB);
  EXPECT_EQ(static_cast<uint32_t>(base::MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT),
            dispatcher.Dispatch(tab));
  dispatcher.SetActiveDialog(dialog);
  EXPECT_EQ(static_cast<uint32_t>(base::MessagePumpDispatcher::POST_DISPATCH_NONE),
            dispatcher.Dispatch(tab));
  // A deactivation that comes after another dialog became active keeps that one.
  dispatcher.SetActiveDialog(other);
  dispatcher.UnsetActiveDialog(dialog);
  EXPECT_EQ(other, dispatcher.active_dialog());
  dispatcher.UnsetActiveDialog(other);
  EXPECT_EQ(nullptr, dispatcher.active_dialog());
  EXPECT_EQ(static_cast<uint32_t>(base::MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT),
            dispatcher.Dispatch(tab));
  EXPECT_EQ(Win32DialogDispatcher::GetInstance(), Win32DialogDispatcher::GetInstance());
  DestroyWindow(other);
}

}  // namespace
}  // namespace installer
