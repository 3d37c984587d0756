#include "desktop/windows/installer/ui/rich_edit_links.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "base/logging.h"
#include "base/native_library.h"
#include "desktop/windows/installer/ui/key_presses.h"

namespace installer {

namespace {

const wchar_t kAnchorStart[] = L"<a ";
const wchar_t kHref[] = L"href=\"";
const wchar_t kAnchorEnd[] = L"</a>";


const UINT_PTR kHideCaretSubclassId = 0x7e1a;
const UINT_PTR kLinkKeysSubclassId = 0x7e1d;

struct RtfSource {
  const std::string* rtf;
  size_t offset;
};

DWORD CALLBACK ReadRtf(DWORD_PTR cookie, BYTE* buffer, LONG wanted, LONG* given) {
  RtfSource* source = reinterpret_cast<RtfSource*>(cookie);
  size_t left = source->rtf->size() - source->offset;
  size_t count = std::min(left, static_cast<size_t>(std::max<LONG>(wanted, 0)));
  memcpy(buffer, source->rtf->data() + source->offset, count);
  source->offset += count;
  *given = static_cast<LONG>(count);
  return 0;
}

// The rich-edit character position of |index| in |text|: the control keeps a line
// break ("\r\n" or "\n") as one character.
LONG ToCharacterPosition(const std::wstring& text, size_t index) {
  LONG position = 0;
  for (size_t i = 0; i < index && i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    ++position;
  }
  return position;
}

LRESULT CALLBACK HideCaretProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                               UINT_PTR id, DWORD_PTR) {
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, HideCaretProc, id);
  LRESULT result = DefSubclassProc(window, message, wparam, lparam);
  if (message == WM_SETFOCUS) HideCaret(window);
  return result;
}

// Only the colour, fixed (not the scheme's automatic one), of the characters |which| names.
void SetColorFormat(HWND control, WPARAM which, COLORREF color) {
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.crTextColor = color;
  SendMessageW(control, EM_SETCHARFORMAT, which, reinterpret_cast<LPARAM>(&format));
}

bool IsLinkKey(WPARAM key) { return key == VK_RETURN || key == VK_SPACE; }

LRESULT CALLBACK LinkKeysProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                              UINT_PTR id, DWORD_PTR) {
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, LinkKeysProc, id);
  if (message == WM_GETDLGCODE) {
    // The dialog manager would press the default button at Enter.
    const MSG* key = reinterpret_cast<const MSG*>(lparam);
    LRESULT code = DefSubclassProc(window, message, wparam, lparam);
    if (key && key->message == WM_KEYDOWN && IsLinkKey(key->wParam)) code |= DLGC_WANTMESSAGE;
    return code;
  }
  if (message == WM_KEYDOWN && IsLinkKey(wparam)) {
    // A held key follows the link once: its repeats would act on the page it opened.
    if (IsKeyRepeat(lparam)) return 0;
    SendMessageW(GetParent(window), WM_COMMAND,
                 MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(window)), BN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
    return 0;
  }
  // Their characters would reach the read-only text.
  if (message == WM_CHAR && (wparam == L'\r' || wparam == L' ')) return 0;
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace

void InitRichEdit() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xC2FF};
  if (!InitCommonControlsEx(&controls)) PLOG(ERROR) << "InitCommonControlsEx failed.";
  // Kept loaded for the life of the process: the controls' class lives in it.
  if (!base::LoadSystemLibrary(L"Msftedit.dll")) PLOG(ERROR) << "Loading library Msftedit.dll failed.";
}

std::wstring ParseAnchors(const std::wstring& text) {
  std::wstring result;
  size_t position = 0;
  for (;;) {
    size_t anchor = text.find(kAnchorStart, position);
    if (anchor == std::wstring::npos) break;
    result.append(text, position, anchor - position);
    result += L"$1";
    position = anchor + wcslen(kAnchorStart);
    size_t href = text.find(kHref, position);
    if (href != std::wstring::npos) {
      size_t target = href + wcslen(kHref);
      size_t quote = text.find(L'"', target);
      if (quote != std::wstring::npos) {
        result.append(text, target, quote - target);
        result += L"$2";
        position = quote + 1;
      }
    }
    size_t tag_end = text.find(L'>', position);
    if (tag_end == std::wstring::npos) continue;
    position = tag_end + 1;
    size_t end = text.find(kAnchorEnd, position);
    if (end == std::wstring::npos) continue;
    result.append(text, position, end - position);
    result += L"$3";
    position = end + wcslen(kAnchorEnd);
  }
  result.append(text, position, std::wstring::npos);
  return result;
}

std::vector<std::wstring> GetAnchorTargets(const std::wstring& text) {
  std::vector<std::wstring> targets;
  std::wstring marked = ParseAnchors(text);
  size_t position = 0;
  for (;;) {
    size_t start = marked.find(L"$1", position);
    if (start == std::wstring::npos) break;
    size_t end = marked.find(L"$2", start + 2);
    size_t next = marked.find(L"$1", start + 2);
    if (end == std::wstring::npos || end > next) {
      position = start + 2;
      continue;
    }
    targets.push_back(marked.substr(start + 2, end - start - 2));
    position = end + 2;
  }
  return targets;
}

std::string EscapeRtf(const std::wstring& text) {
  std::string rtf;
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'{' || c == L'}') {
      rtf += '\\';
      rtf += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      rtf += static_cast<char>(c);
    } else {
      // RTF's \u takes a signed 16-bit number; '?' stands for readers without Unicode.
      rtf += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
    }
  }
  return rtf;
}

std::string LinkFieldRtf(const std::wstring& target, const std::wstring& label, COLORREF color) {
  return "{\\rtf1{\\colortbl;\\red" + std::to_string(GetRValue(color)) + "\\green" +
         std::to_string(GetGValue(color)) + "\\blue" + std::to_string(GetBValue(color)) +
         ";}{\\field{\\*\\fldinst{HYPERLINK \"" + EscapeRtf(target) +
         "\"}}{\\fldrslt{\\ul\\cf1 " + EscapeRtf(label) + "}}}}";
}

std::wstring PlainTextOfLinks(const std::wstring& marked, std::vector<RichEditLink>* links) {
  std::wstring plain;
  size_t position = 0;
  for (;;) {
    const size_t start = marked.find(L"$1", position);
    if (start == std::wstring::npos) break;
    plain.append(marked, position, start - position);
    const size_t next = std::min(marked.find(L"$1", start + 2), marked.size());
    const size_t middle = marked.find(L"$2", start + 2);
    const size_t end = middle == std::wstring::npos ? middle : marked.find(L"$3", middle + 2);
    if (end == std::wstring::npos || end >= next) {
      // An incomplete link stays plain text, without its markers.
      std::wstring part = marked.substr(start + 2, next - start - 2);
      for (const wchar_t* marker : {L"$2", L"$3"}) {
        const size_t found = part.find(marker);
        if (found != std::wstring::npos) part.erase(found, 2);
      }
      plain += part;
      position = next;
      continue;
    }
    RichEditLink link;
    link.target = marked.substr(start + 2, middle - start - 2);
    link.label = marked.substr(middle + 2, end - middle - 2);
    link.range.cpMin = ToCharacterPosition(plain, plain.size());
    plain += link.label;
    link.range.cpMax = ToCharacterPosition(plain, plain.size());
    links->push_back(link);
    position = end + 2;
  }
  plain.append(marked, position, std::wstring::npos);
  return plain;
}

std::wstring GetLinkTargetFromRangeText(const std::wstring& range_text) {
  const std::wstring instruction = L"HYPERLINK \"";
  size_t start = range_text.find(instruction);
  if (start == std::wstring::npos) return std::wstring();
  start += instruction.size();
  size_t end = range_text.find(L'"', start);
  if (end == std::wstring::npos) return std::wstring();
  return range_text.substr(start, end - start);
}

bool IsLinkClick(const NMHDR* notification) {
  return notification->code == EN_LINK &&
         reinterpret_cast<const ENLINK*>(notification)->msg == WM_LBUTTONUP;
}

std::wstring GetLinkRangeText(HWND control, const ENLINK& link) {
  if (link.chrg.cpMax <= link.chrg.cpMin) return std::wstring();
  std::wstring text(static_cast<size_t>(link.chrg.cpMax - link.chrg.cpMin) + 1, L'\0');
  TEXTRANGEW range = {link.chrg, &text[0]};
  LRESULT copied = SendMessageW(control, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
  return text;
}

void SetRichEditTextWithLinks(HWND control, const std::wstring& text, COLORREF link_color) {
  std::vector<RichEditLink> links;
  const std::wstring plain = PlainTextOfLinks(ParseAnchors(text), &links);
  SetWindowTextW(control, plain.c_str());
  // From the last: a field changes no position before it.
  for (auto link = links.rbegin(); link != links.rend(); ++link) {
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&link->range));
    SetRichEditRtf(control, LinkFieldRtf(link->target, link->label, link_color), true);
  }
  SendMessageW(control, EM_SETSEL, 0, 0);
  if (AreLinksShown(control, links)) return;
  // A control that drops the fields (Wine's draws none) or shows their instruction gets
  // the labels as text with the link effect: the whole sentence, and clicks reported.
  LOG(INFO) << "The rich edit shows no link fields; marking the links as text";
  SetWindowTextW(control, plain.c_str());
  for (const RichEditLink& link : links) {
    SetRichEditRangeColor(control, link_color, link.range);
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&link.range));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_LINK;
    format.dwEffects = CFE_LINK;
    SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  }
  SendMessageW(control, EM_SETSEL, 0, 0);
}

bool AreLinksShown(HWND control, const std::vector<RichEditLink>& links) {
  // A field that opens the text may show as its instruction.
  if (GetFirstLine(control).compare(0, 10, L"HYPERLINK ") == 0) return false;
  const int length = GetWindowTextLengthW(control);
  std::wstring shown(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  shown.resize(static_cast<size_t>(
      std::max(GetWindowTextW(control, &shown[0], static_cast<int>(shown.size())), 0)));
  size_t position = 0;
  for (const RichEditLink& link : links) {
    position = shown.find(link.label, position);
    if (position == std::wstring::npos) return false;
    position += link.label.size();
  }
  return true;
}

void SetRichEditColor(HWND control, COLORREF color) {
  CHARRANGE all = {0, -1};
  SetRichEditRangeColor(control, color, all);
}

void SetRichEditRangeColor(HWND control, COLORREF color, const CHARRANGE& range) {
  CHARRANGE previous = {};
  SendMessageW(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&previous));
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  SetColorFormat(control, SCF_SELECTION, color);
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&previous));
}

void SetRichEditDefaultColor(HWND control, COLORREF color) {
  SetColorFormat(control, SCF_DEFAULT, color);
}

void SetRichEditRtf(HWND control, const std::string& rtf, bool selection) {
  RtfSource source = {&rtf, 0};
  EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&source), 0, ReadRtf};
  SendMessageW(control, EM_STREAMIN, SF_RTF | (selection ? SFF_SELECTION : 0),
               reinterpret_cast<LPARAM>(&stream));
}

std::wstring GetFirstLine(HWND control) {
  LRESULT length = SendMessageW(control, EM_LINELENGTH, 0, 0);
  // EM_GETLINE reads the buffer size from its first word.
  std::wstring line(static_cast<size_t>(std::max<LRESULT>(length, 1)) + 1, L'\0');
  line[0] = static_cast<wchar_t>(line.size());
  LRESULT copied = SendMessageW(control, EM_GETLINE, 0, reinterpret_cast<LPARAM>(&line[0]));
  line.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
  return line;
}

void HideCaretSubclass(HWND control) {
  if (!SetWindowSubclass(control, HideCaretProc, kHideCaretSubclassId, 0))
    PLOG(ERROR) << "Subclassing the control failed.";
}

void LinkKeysSubclass(HWND control) {
  if (!SetWindowSubclass(control, LinkKeysProc, kLinkKeysSubclassId, 0))
    PLOG(ERROR) << "Subclassing the control failed.";
}

}  // namespace installer
