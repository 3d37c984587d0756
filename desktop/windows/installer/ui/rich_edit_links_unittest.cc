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

TEST(RtfLinkRewriteTest, LinkFieldKeepsEveryCharacterAsUnicode) {
  EXPECT_EQ("{\\rtf1{\\colortbl;\\red104\\green104\\blue104;}{\\field{\\*\\fldinst{HYPERLINK "
            "\"tos\"}}{\\fldrslt{\\ul\\cf1 Terms \\{\\\\\\}}}}}",
            LinkFieldRtf(L"tos", L"Terms {\\}", 0x686868));
  // Greek, and a character beyond 0x7FFF (a signed number in RTF).
  EXPECT_EQ("\\u908?\\u961?\\u959? \\u-1?", EscapeRtf(L"\x038C\x03C1\x03BF \xFFFF"));
}

TEST(RtfLinkRewriteTest, PlainTextHasEveryLabelAndOnlyCompleteLinks) {
  std::vector<RichEditLink> links;
  EXPECT_EQ(L"A-\r\nB", PlainTextOfLinks(L"$1a$2A$3-\r\n$1b$2B$3", &links));
  ASSERT_EQ(2u, links.size());
  EXPECT_EQ(L"a", links[0].target);
  EXPECT_EQ(0, links[0].range.cpMin);
  EXPECT_EQ(1, links[0].range.cpMax);
  // The control keeps a line break as one character.
  EXPECT_EQ(L"B", links[1].label);
  EXPECT_EQ(3, links[1].range.cpMin);
  links.clear();
  // An anchor without "</a>" or without a target stays text, without markers.
  EXPECT_EQ(L"see tosTerms", PlainTextOfLinks(L"see $1tos$2Terms", &links));
  EXPECT_EQ(L"label! B", PlainTextOfLinks(L"$1label$3! $1b$2B$3", &links));
  ASSERT_EQ(1u, links.size());
  EXPECT_EQ(L"b", links[0].target);
}

TEST(RtfLinkRewriteTest, LinkTargetOfClickedRange) {
  EXPECT_EQ(L"tos", GetLinkTargetFromRangeText(L"HYPERLINK \"tos\"Terms of Service"));
  EXPECT_EQ(L"", GetLinkTargetFromRangeText(L"Terms of Service"));
  EXPECT_EQ(L"", GetLinkTargetFromRangeText(L"HYPERLINK \"unterminated"));
}

// A real control shows the whole sentence, the link's label included, in any script:
// as a field where the control draws fields, otherwise as text with the link effect
// (Wine's rich edit drops fields).
TEST(RichEditLinksTest, ControlShowsTheWholeSentence) {
  InitRichEdit();
  HWND control = CreateWindowExW(0, L"RICHEDIT50W", L"", ES_MULTILINE | WS_POPUP, 0, 0, 300, 60,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(control);
  for (const wchar_t* text :
       {L"Read the <a href=\"tos\">Terms</a> first.", L"<a href=\"tos\">Terms</a> first.",
        L"\x039C\x03B5 <a href=\"tos\">\x038C\x03C1\x03BF\x03C5\x03C2</a> \x03C4\x03B7\x03C2 Velum"}) {
    SetRichEditTextWithLinks(control, text, 0x686868);
    std::vector<RichEditLink> links;
    const std::wstring plain = PlainTextOfLinks(ParseAnchors(text), &links);
    EXPECT_TRUE(AreLinksShown(control, links)) << text;
    wchar_t shown[200] = {};
    GetWindowTextW(control, shown, 200);
    const std::wstring label = links.front().label;
    const std::wstring before = plain.substr(0, plain.find(label));
    const std::wstring after = plain.substr(plain.find(label) + label.size());
    EXPECT_EQ(0u, std::wstring(shown).find(before)) << shown;
    EXPECT_NE(std::wstring::npos, std::wstring(shown).find(after)) << shown;
  }
  DestroyWindow(control);
}

}  // namespace
}  // namespace installer
