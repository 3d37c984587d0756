#include "desktop/windows/installer/carried_preferences.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/wininet/url_parts.h"

namespace installer {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithAsciiCaseless(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size() || AsciiLower(text[i]) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsWebPageAddress(const std::string& address) {
  for (char c : address) {
    // Nothing a reader would skip or split at: the address checked is the address used.
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '\\') return false;
  }
  if (!StartsWithAsciiCaseless(address, "http://") && !StartsWithAsciiCaseless(address, "https://"))
    return false;
  ParsedUrl parsed;
  return ParseUrl(base::UTF8ToWide(address), &parsed) && IsHttpScheme(parsed.scheme) &&
         !parsed.host.empty();
}

}  // namespace installer
