#include "desktop/windows/installer/startup_checks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace installer {
namespace {

// What the faked system was asked; the fakes are plain function pointers.
struct FakeSystem {
  bool has_sse2 = true;
  std::vector<DWORD> features_asked;
  std::vector<std::wstring> message_boxes;  // owner, text, caption and type of each
  std::vector<int> exit_codes;
} * g_fake;

BOOL WINAPI FakeIsProcessorFeaturePresent(DWORD feature) {
  g_fake->features_asked.push_back(feature);
  return g_fake->has_sse2;
}

int WINAPI FakeMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption,
                          UINT type) {
  g_fake->message_boxes.push_back((owner ? L"owned|" : L"|") + std::wstring(text) + L"|" +
                                  caption + L"|" + std::to_wstring(type));
  return IDOK;
}

void FakeExit(int code) { g_fake->exit_codes.push_back(code); }

TEST(ProcessorCheckTest, OnlyAProcessorWithoutSse2StopsTheProcess) {
  for (bool has_sse2 : {true, false}) {
    SCOPED_TRACE(has_sse2);
    FakeSystem fake;
    fake.has_sse2 = has_sse2;
    g_fake = &fake;
    internal::CheckProcessorSupportsSse2(
        {&FakeIsProcessorFeaturePresent, &FakeMessageBox, &FakeExit});
    g_fake = nullptr;
    EXPECT_EQ(std::vector<DWORD>{PF_XMMI64_INSTRUCTIONS_AVAILABLE}, fake.features_asked);
    if (has_sse2) {
      EXPECT_TRUE(fake.message_boxes.empty());
      EXPECT_TRUE(fake.exit_codes.empty());
    } else {
      EXPECT_EQ(std::vector<std::wstring>{L"|This program requires a computer that "
                                          L"supports SSE2 instructions.|Error|0"},
                fake.message_boxes);
      EXPECT_EQ(std::vector<int>{1}, fake.exit_codes);
    }
  }
}

}  // namespace
}  // namespace installer
