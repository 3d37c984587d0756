#include "desktop/windows/installer/ui/rich_edit_links.h"

#include <string>

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(ParseAnchorsTest, MarksTargetAndLabel) {
  struct Case {
    const wchar_t* text;
    const wchar_t* expected;
  };
  const Case kCases[] = {
      {L"no links here", L"no links here"},
      {L"", L""},
      {L"By clicking on \"Accept and Install\" you are agreeing to Velum's "
       L"<a href=\"tos\">Terms of Service</a>",
       L"By clicking on \"Accept and Install\" you are agreeing to Velum's "
       L"$1tos$2Terms of Service$3"},
      // A text that opens with a link, and two links.
      {L"<a href=\"x\">X</a> and <a href=\"y\">Y</a>.", L"$1x$2X$3 and $1y$2Y$3."},
      // No closing tag: the label stays, without "$3".
      {L"see <a href=\"tos\">Terms", L"see $1tos$2Terms"},
      // No target.
      {L"<a name=\"n\">label</a>!", L"$1label$3!"},
      // Not even the end of the opening tag.
      {L"a <a href=\"t", L"a $1href=\"t"},
  };
  for (const Case& c : kCases) EXPECT_EQ(c.expected, ParseAnchors(c.text)) << c.text;
}

TEST(ParseAnchorsTest, AnchorTargets) {
  EXPECT_EQ((std::vector<std::wstring>{L"x", L"y"}),
            GetAnchorTargets(L"<a href=\"x\">X</a> and <a href=\"y\">Y</a>."));
  EXPECT_EQ(std::vector<std::wstring>{L"y"},
            GetAnchorTargets(L"<a name=\"n\">N</a><a href=\"y\">Y</a>"));
  EXPECT_TRUE(GetAnchorTargets(L"plain").empty());
}

TEST(RtfLinkRewriteTest, MarkersBecomeHyperlinkFields) {
  const std::string rtf = "{\\rtf1\\ansi See $1tos$2Terms of Service$3 now.\\par}";
  EXPECT_EQ(
      "{\\rtf1\\ansi See {\\field{\\*\\fldinst{HYPERLINK \"tos\"}}{\\fldrslt{\\ul Terms of "
      "Service}}} now.\\par}",
      ReplaceLinkMarkersInRtf(rtf, false));
  EXPECT_EQ(
      "{\\rtf1\\ansi See \\line{\\field{\\*\\fldinst{HYPERLINK \"tos\"}}{\\fldrslt{\\ul Terms of "
      "Service}}} now.\\par}",
      ReplaceLinkMarkersInRtf(rtf, true));
}

TEST(RtfLinkRewriteTest, EveryLinkAndOnlyCompleteOnes) {
  EXPECT_EQ("{\\field{\\*\\fldinst{HYPERLINK \"a\"}}{\\fldrslt{\\ul A}}}-"
            "{\\field{\\*\\fldinst{HYPERLINK \"b\"}}{\\fldrslt{\\ul B}}}",
            ReplaceLinkMarkersInRtf("$1a$2A$3-$1b$2B$3", false));
  // An anchor without "</a>" or without a target leaves no open group behind.
  EXPECT_EQ("see tosTerms", ReplaceLinkMarkersInRtf("see $1tos$2Terms", false));
  EXPECT_EQ("label! {\\field{\\*\\fldinst{HYPERLINK \"b\"}}{\\fldrslt{\\ul B}}}",
            ReplaceLinkMarkersInRtf("$1label$3! $1b$2B$3", false));
  EXPECT_EQ("{\\rtf1 plain}", ReplaceLinkMarkersInRtf("{\\rtf1 plain}", true));
}

TEST(RtfLinkRewriteTest, LinkTargetOfClickedRange) {
  EXPECT_EQ(L"tos", GetLinkTargetFromRangeText(L"HYPERLINK \"tos\"Terms of Service"));
  EXPECT_EQ(L"", GetLinkTargetFromRangeText(L"Terms of Service"));
  EXPECT_EQ(L"", GetLinkTargetFromRangeText(L"HYPERLINK \"unterminated"));
}

// The round trip through a real control. Wine's rich edit drops the field group on
// stream-in (label included), so only what holds on both systems is checked here: the
// markers are gone and the text around the link is kept.
TEST(RichEditLinksTest, ControlTextLosesTheMarkers) {
  InitRichEdit();
  HWND control = CreateWindowExW(0, L"RICHEDIT50W", L"", ES_MULTILINE | WS_POPUP, 0, 0, 300, 60,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(control);
  SetRichEditTextWithLinks(control, L"Read the <a href=\"tos\">Terms</a> first.", 0x686868);
  wchar_t text[200] = {};
  GetWindowTextW(control, text, 200);
  std::wstring shown(text);
  EXPECT_EQ(0u, shown.find(L"Read the ")) << shown;
  EXPECT_NE(std::wstring::npos, shown.find(L" first.")) << shown;
  EXPECT_EQ(std::wstring::npos, shown.find(L"$1")) << shown;
  EXPECT_EQ(std::wstring::npos, shown.find(L"$3")) << shown;
  EXPECT_NE(std::string::npos, GetRichEditRtf(control).find("Read the")) << GetRichEditRtf(control);
  EXPECT_EQ(L"Read the ", GetFirstLine(control).substr(0, 9));
  DestroyWindow(control);
}

}  // namespace
}  // namespace installer
