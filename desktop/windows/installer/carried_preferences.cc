#include "desktop/windows/installer/carried_preferences.h"

#include <memory>

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
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

// `text` as a URL parser or the file system reads it: without the leading spaces and
// control characters they skip, and without the tabs and line breaks a URL parser drops
// anywhere.
std::string AsRead(const std::string& text) {
  std::string read;
  for (char c : text) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (read.empty() && static_cast<unsigned char>(c) <= 0x20) continue;
    read.push_back(c);
  }
  return read;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A copy of `value` without the strings that name local files; null when `value` is one.
// `where` names the value in the log.
std::unique_ptr<base::Value> Filtered(const base::Value& value, const std::string& where) {
  std::string text;
  if (value.GetAsString(&text)) {
    if (!NamesLocalFile(text)) return value.CreateDeepCopy();
    LOG(WARNING) << "Not carrying the preference override " << where
                 << ": it names a local file";
    return nullptr;
  }
  const base::Dictionary* dictionary = nullptr;
  if (value.GetAsDictionary(&dictionary)) {
    std::unique_ptr<base::Dictionary> kept = base::MakeDictionaryValue();
    for (base::Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
      const std::string key = where.empty() ? it.key() : where + "." + it.key();
      kept->SetWithoutPathExpansion(it.key(), Filtered(it.value(), key));
    }
    return kept;
  }
  const base::List* list = nullptr;
  if (value.GetAsList(&list)) {
    std::unique_ptr<base::List> kept = base::MakeListValue();
    for (size_t i = 0; i < list->size(); ++i) {
      const base::Value* element = nullptr;
      if (list->Get(i, &element))
        kept->Append(Filtered(*element, where + "[" + std::to_string(i) + "]"));
    }
    return kept;
  }
  return value.CreateDeepCopy();
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

bool NamesLocalFile(const std::string& text) {
  const std::string read = AsRead(text);
  if (StartsWithAsciiCaseless(read, "file:")) return true;
  // "C:" and what follows: a drive's path, also one relative to that drive's folder.
  if (read.size() >= 2 && IsAsciiLetter(read[0]) && read[1] == ':') return true;
  // "\\server\share", "\\?\C:\", "//server/share", and "\Windows" from the current
  // drive's root.
  return !read.empty() && (read[0] == '\\' || read[0] == '/');
}

base::Result<std::string> WithoutLocalFileValues(const std::string& json) {
  int code = 0;
  std::string message;
  // As the overrides step reads the file.
  const std::unique_ptr<base::Value> root =
      base::JsonReader::ReadAndReturnError(json, 0, &code, &message);
  if (!root) return base::Failure{0, code, "not JSON: " + message, {}};
  const std::unique_ptr<base::Value> kept = Filtered(*root, std::string());
  std::string text;
  if (!kept) return base::Failure{0, 0, "it is itself a local file's name", {}};
  if (!base::JsonWriter::Write(*kept, &text)) return base::Failure{0, 0, "cannot be written", {}};
  return text;
}

}  // namespace installer
