#include "base/strings/utf_string_conversions.h"

#include <windows.h>

#include <climits>

#include "base/strings/utf_string_conversion_utils.h"

namespace base {

namespace {

const uint32_t kReplacementCharacter = 0xFFFD;

// Returns false when a replacement character had to be written.
[[nodiscard]] bool ConvertWideToUTF8(const wchar_t* src, size_t length, std::string* output) {
  bool success = true;
  for (size_t i = 0; i < length; ++i) {
    uint32_t unit = static_cast<uint16_t>(src[i]);
    uint32_t code_point = unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      uint32_t next = i + 1 < length ? static_cast<uint16_t>(src[i + 1]) : 0;
      if (unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        code_point = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      } else {
        // Only this unit is consumed: the one after an unpaired lead stands alone.
        code_point = kReplacementCharacter;
        success = false;
      }
    }
    WriteUnicodeCharacter(code_point, output);
  }
  return success;
}

[[nodiscard]] bool ConvertUTF8ToWide(const char* src, size_t length, std::wstring* output) {
  bool success = true;
  size_t i = 0;
  while (i < length) {
    int32_t code_point = Utf8NextChar(src, length, &i);
    if (!IsValidCodepoint(code_point)) {
      code_point = kReplacementCharacter;
      success = false;
    }
    WriteUnicodeCharacter(static_cast<uint32_t>(code_point), output);
  }
  return success;
}

}  // namespace

std::string WideToUTF8(StringPiece16 wide) {
  if (IsStringASCII(wide)) return WideToASCII(wide);
  std::string result;
  // Text that starts non-ASCII is likely to stay so: reserve for three bytes a unit.
  result.reserve(static_cast<uint16_t>(wide[0]) >= 0x80 ? wide.size() * 3 : wide.size());
  (void)ConvertWideToUTF8(wide.data(), wide.size(), &result);  // ill-formed input: U+FFFD
  return result;
}

std::wstring UTF8ToWide(StringPiece utf8) {
  if (IsStringASCII(utf8)) return ASCIIToWide(utf8);
  std::wstring result;
  result.reserve(static_cast<uint8_t>(utf8[0]) >= 0x80 ? utf8.size() / 2 : utf8.size());
  (void)ConvertUTF8ToWide(utf8.data(), utf8.size(), &result);  // ill-formed input: U+FFFD
  return result;
}

std::wstring ASCIIToWide(StringPiece ascii) {
  std::wstring result;
  result.reserve(ascii.size());
  // The byte is taken as signed on purpose: callers rely on 0xE9 becoming U+FFE9.
  for (char c : ascii) result.push_back(static_cast<wchar_t>(static_cast<signed char>(c)));
  return result;
}

std::string WideToASCII(StringPiece16 wide) {
  std::string result;
  result.reserve(wide.size());
  for (wchar_t c : wide) result.push_back(static_cast<char>(c & 0xFF));
  return result;
}

std::string SysWideToUTF8(StringPiece16 wide) {
  // The system takes 32-bit counts; a longer text must not be cut silently.
  if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) return std::string();
  int length = static_cast<int>(wide.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr,
                                   nullptr);
  if (needed <= 0) return std::string();
  std::string result(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &result[0], needed, nullptr,
                          nullptr) != needed) {
    return std::string();
  }
  return result;
}

std::wstring SysUTF8ToWide(StringPiece utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  int length = static_cast<int>(utf8.size());
  int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring result(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &result[0], needed) != needed)
    return std::wstring();
  return result;
}

}  // namespace base
