#include "desktop/windows/installer/startup_checks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace installer {
namespace {

struct FakeSystem {
  bool has_sse2 = true;
  std::vector<DWORD> features_asked;
  int message_boxes = 0;
  HWND owner = reinterpret_cast<HWND>(1);
  std::wstring text;
  std::wstring caption;
  UINT type = 0xFFFF;
  std::vector<int> exit_codes;
};
FakeSystem* g_fake = nullptr;

BOOL WINAPI FakeIsProcessorFeaturePresent(DWORD feature) {
  g_fake->features_asked.push_back(feature);
  return g_fake->has_sse2;
}

int WINAPI FakeMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption,
                          UINT type) {
  ++g_fake->message_boxes;
  g_fake->owner = owner;
  g_fake->text = text;
  g_fake->caption = caption;
  g_fake->type = type;
  return IDOK;
}

void FakeExit(int code) { g_fake->exit_codes.push_back(code); }

class ProcessorCheckTest : public testing::Test {
 protected:
  ProcessorCheckTest() { g_fake = &fake_; }
  ~ProcessorCheckTest() override { g_fake = nullptr; }
  void Check() {
    internal::CheckProcessorSupportsSse2(
        {&FakeIsProcessorFeaturePresent, &FakeMessageBox, &FakeExit});
  }
  FakeSystem fake_;
};

TEST_F(ProcessorCheckTest, ProcessorWithSse2GoesOn) {
  Check();
  EXPECT_EQ(std::vector<DWORD>{10}, fake_.features_asked);
  EXPECT_EQ(0, fake_.message_boxes);
  EXPECT_TRUE(fake_.exit_codes.empty());
}

TEST_F(ProcessorCheckTest, ProcessorWithoutSse2TellsTheUserAndExitsWithOne) {
  fake_.has_sse2 = false;
  Check();
  EXPECT_EQ(1, fake_.message_boxes);
  EXPECT_EQ(nullptr, fake_.owner);
  EXPECT_EQ(L"This program requires a computer that supports SSE2 instructions.",
            fake_.text);
  EXPECT_EQ(L"Error", fake_.caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), fake_.type);
  EXPECT_EQ(std::vector<int>{1}, fake_.exit_codes);
}

}  // namespace
}  // namespace installer
