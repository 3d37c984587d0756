// Links in rich-edit controls: localized texts carry HTML-like anchors
// ("... <a href="tos">Terms of Service</a>"), which are turned into RTF HYPERLINK fields
// (or, where the control drops those, text with the link effect) so that the control
// draws them as links and reports clicks with EN_LINK.
//
//   InitRichEdit();                                   // before creating the dialog
//   SetRichEditTextWithLinks(control, text, RGB(0x68, 0x68, 0x68));
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RICH_EDIT_LINKS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RICH_EDIT_LINKS_H_

#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

namespace installer {

// Common controls and the rich-edit library ("Msftedit.dll"); repeated calls are
// harmless. Failures are logged.
void InitRichEdit();

// Each anchor becomes "$1" target "$2" label "$3"; an anchor without href keeps no
// target, one without "</a>" keeps its label as plain text and gets no "$3". Text
// without anchors comes back unchanged.
std::wstring ParseAnchors(const std::wstring& text);

// The targets of the anchors of |text|, in order.
std::vector<std::wstring> GetAnchorTargets(const std::wstring& text);

// |text| as RTF characters: '\\', '{' and '}' escaped, anything beyond ASCII as \uN
// (never code-page bytes, which a reader may decode in another code page).
std::string EscapeRtf(const std::wstring& text);
// An RTF document holding one HYPERLINK field to |target| that shows |label| underlined
// in |color|.
std::string LinkFieldRtf(const std::wstring& target, const std::wstring& label, COLORREF color);

// A link of a text: its target, its label and the characters the label takes.
struct RichEditLink {
  std::wstring target;
  std::wstring label;
  CHARRANGE range = {0, 0};
};
// The text |marked| (from ParseAnchors) shows: each complete link's label in its place
// (its link appended to |links|); an incomplete one stays plain text without markers.
std::wstring PlainTextOfLinks(const std::wstring& marked, std::vector<RichEditLink>* links);
// Whether |control| shows every label of |links|, in order, and no field instruction.
bool AreLinksShown(HWND control, const std::vector<RichEditLink>& links);

// The link target a click reports: |range_text| is the text of the clicked range, which
// may hold the field instruction ("HYPERLINK "tos"Terms of Service"). Empty when the
// range names no target.
std::wstring GetLinkTargetFromRangeText(const std::wstring& range_text);

// Whether |notification| (WM_NOTIFY's lparam) is a left-button click on a link.
bool IsLinkClick(const NMHDR* notification);

// The text of the range a link notification reports.
[[nodiscard]] std::wstring GetLinkRangeText(HWND control, const ENLINK& link);

// Plain text with anchors; the links are coloured |link_color|. Each link is a HYPERLINK
// field where the control shows it (read back after streaming), otherwise its label
// with the link effect (CFE_LINK): the whole text shows, and clicks come as EN_LINK.
void SetRichEditTextWithLinks(HWND control, const std::wstring& text, COLORREF link_color);

void SetRichEditColor(HWND control, COLORREF color);
// The colour of the text the control is given from now on, in place of the colour
// scheme's window text.
void SetRichEditDefaultColor(HWND control, COLORREF color);
// Characters [range.cpMin, range.cpMax).
void SetRichEditRangeColor(HWND control, COLORREF color, const CHARRANGE& range);

// Replaces the text, or the selection with |selection|.
void SetRichEditRtf(HWND control, const std::string& rtf, bool selection = false);

// Line 0 of the control.
[[nodiscard]] std::wstring GetFirstLine(HWND control);

// Hides the caret whenever |control| gets the focus, until the control is destroyed.
void HideCaretSubclass(HWND control);

// Enter and Space in |control| act as a click on its link: its parent gets WM_COMMAND
// with the control's id and BN_CLICKED. Until the control is destroyed.
void LinkKeysSubclass(HWND control);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RICH_EDIT_LINKS_H_
