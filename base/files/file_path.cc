#include "base/files/file_path.h"

#include <windows.h>

#include <algorithm>

#include "base/logging.h"
#include "base/native_library.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

typedef FilePath::StringType StringType;

const FilePath::CharType FilePath::kSeparators[] = L"\\/";
const size_t FilePath::kSeparatorsLength = 2;
const FilePath::CharType FilePath::kCurrentDirectory[] = L".";
const FilePath::CharType FilePath::kParentDirectory[] = L"..";
const FilePath::CharType FilePath::kExtensionSeparator = L'.';

namespace {

const StringType::size_type npos = StringType::npos;

// Double extensions whose first part is kept with the last ("x.tar.gz", "prefs.user.js").
const wchar_t* const kDoubleExtensions[] = {L"user.js"};
const wchar_t* const kDoubleExtensionSuffixes[] = {L"gz", L"z", L"bz2", L"bz"};

StringType CutAtNul(StringPiece16 text) {
  size_t nul = text.find(L'\0');
  return (nul == StringPiece16::npos ? text : text.substr(0, nul)).as_string();
}

// 1 (the colon) when the text starts with a drive letter, else npos, so that the
// position plus one is 0 and plus two is 1 without a drive letter.
StringType::size_type FindDriveLetter(const StringType& path) {
  if (path.size() >= 2 && path[1] == L':' &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
    return 1;
  }
  return npos;
}

wchar_t ToLowerASCII(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

bool EqualsIgnoringASCIICase(StringPiece16 a, StringPiece16 b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ToLowerASCII(a[i]) != ToLowerASCII(b[i])) return false;
  return true;
}

bool EqualDriveLetterCaseInsensitive(const StringType& a, const StringType& b) {
  if (a.size() != b.size()) return false;
  if (FindDriveLetter(a) == npos || FindDriveLetter(b) == npos) return a == b;
  return EqualsIgnoringASCIICase(StringPiece16(a).substr(0, 2), StringPiece16(b).substr(0, 2)) &&
         a.compare(2, npos, b, 2, npos) == 0;
}

bool IsEmptyOrSpecialCase(const StringType& path) {
  return path.empty() || path == FilePath::kCurrentDirectory ||
         path == FilePath::kParentDirectory;
}

bool AreAllSeparators(const StringType& text) {
  return std::all_of(text.begin(), text.end(), FilePath::IsSeparator);
}

StringType::size_type FindLastSeparator(const StringType& path,
                                        StringType::size_type position = npos) {
  return path.find_last_of(FilePath::kSeparators, position, FilePath::kSeparatorsLength);
}

// Position of the full stop that starts the extension of a base name, or npos.
StringType::size_type ExtensionSeparatorPosition(const StringType& path) {
  if (path == FilePath::kCurrentDirectory || path == FilePath::kParentDirectory) return npos;
  const StringType::size_type last_dot = path.rfind(FilePath::kExtensionSeparator);
  if (last_dot == npos || last_dot == 0) return last_dot;

  const StringType::size_type penultimate_dot =
      path.rfind(FilePath::kExtensionSeparator, last_dot - 1);
  const StringType::size_type last_separator = FindLastSeparator(path, last_dot - 1);
  if (penultimate_dot == npos || (last_separator != npos && penultimate_dot < last_separator))
    return last_dot;

  StringPiece16 after_penultimate = StringPiece16(path).substr(penultimate_dot + 1);
  for (const wchar_t* extension : kDoubleExtensions) {
    if (EqualsIgnoringASCIICase(after_penultimate, extension)) return penultimate_dot;
  }
  StringPiece16 after_last = StringPiece16(path).substr(last_dot + 1);
  const StringType::size_type middle = last_dot - penultimate_dot;
  for (const wchar_t* suffix : kDoubleExtensionSuffixes) {
    if (EqualsIgnoringASCIICase(after_last, suffix) && middle > 1 && middle <= 5)
      return penultimate_dot;
  }
  return last_dot;
}

typedef LPWSTR(WINAPI* CharUpperWFunction)(LPWSTR);

// Looked up once (thread-safe static). user32 is normally loaded already; a process
// that never touched it (a console tool, a test) loads it rather than failing.
CharUpperWFunction GetCharUpperW() {
  static const CharUpperWFunction function = [] {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) user32 = LoadSystemLibrary(L"user32.dll");
    return reinterpret_cast<CharUpperWFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32, "CharUpperW")));
  }();
  CHECK(function) << "CharUpperW is not available";
  return function;
}

wchar_t ToUpperWindows(CharUpperWFunction char_upper, wchar_t c) {
  // A value in the low word is taken as one character and returned upper-cased.
  ULONG_PTR result = reinterpret_cast<ULONG_PTR>(
      char_upper(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<uint16_t>(c)))));
  return static_cast<wchar_t>(LOWORD(result));
}

}  // namespace

FilePath::FilePath() = default;
FilePath::FilePath(StringPiece16 path) : path_(CutAtNul(path)) {}
FilePath::FilePath(const FilePath& other) = default;
FilePath::FilePath(FilePath&& other) noexcept = default;
FilePath& FilePath::operator=(const FilePath& other) = default;
FilePath& FilePath::operator=(FilePath&& other) noexcept = default;
FilePath::~FilePath() = default;

// static
bool FilePath::IsSeparator(CharType c) { return c == kSeparators[0] || c == kSeparators[1]; }

// static
FilePath FilePath::FromUTF8(StringPiece utf8) { return FilePath(UTF8ToWide(utf8)); }

bool FilePath::operator==(const FilePath& other) const {
  return EqualDriveLetterCaseInsensitive(path_, other.path_);
}

// static
int FilePath::CompareIgnoreCase(StringPiece16 a, StringPiece16 b) {
  CharUpperWFunction char_upper = GetCharUpperW();
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    wchar_t upper_a = ToUpperWindows(char_upper, a[i]);
    wchar_t upper_b = ToUpperWindows(char_upper, b[i]);
    if (upper_a != upper_b) return upper_a < upper_b ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string FilePath::AsUTF8() const { return WideToUTF8(path_); }

std::string FilePath::MaybeAsASCII() const {
  return IsStringASCII(path_) ? WideToASCII(path_) : std::string();
}

void FilePath::StripTrailingSeparatorsInternal() {
  // Roots keep their separators: "\", "\\", "C:\" and "C:\\" stay as they are.
  const StringType::size_type start = FindDriveLetter(path_) + 2;
  StringType::size_type last_stripped = npos;
  for (StringType::size_type length = path_.size();
       length > start && IsSeparator(path_[length - 1]); --length) {
    if (length != start + 1 || last_stripped == start + 2 || !IsSeparator(path_[start - 1])) {
      path_.resize(length - 1);
      last_stripped = length;
    }
  }
}

FilePath FilePath::StripTrailingSeparators() const {
  FilePath result(*this);
  result.StripTrailingSeparatorsInternal();
  return result;
}

FilePath FilePath::DirName() const {
  FilePath result(*this);
  result.StripTrailingSeparatorsInternal();
  StringType& text = result.path_;
  const StringType::size_type letter = FindDriveLetter(text);
  const StringType::size_type last_separator = FindLastSeparator(text);
  if (last_separator == npos) {
    text.resize(letter + 1);  // only the drive, or nothing
  } else if (last_separator == letter + 1) {
    text.resize(letter + 2);  // the root after the drive
  } else if (last_separator == letter + 2 && IsSeparator(text[letter + 1])) {
    text.resize(letter + 3);  // a leading pair of separators is a root of its own
  } else if (last_separator != 0) {
    text.resize(last_separator);
  }
  result.StripTrailingSeparatorsInternal();
  if (text.empty()) text = kCurrentDirectory;
  return result;
}

FilePath FilePath::BaseName() const {
  FilePath result(*this);
  result.StripTrailingSeparatorsInternal();
  StringType& text = result.path_;
  const StringType::size_type letter = FindDriveLetter(text);
  if (letter != npos) text.erase(0, letter + 1);
  const StringType::size_type last_separator = FindLastSeparator(text);
  if (last_separator != npos && last_separator < text.size() - 1)
    text.erase(0, last_separator + 1);
  return result;
}

StringType FilePath::Extension() const {
  const StringType base = BaseName().value();
  const StringType::size_type dot = ExtensionSeparatorPosition(base);
  return dot == npos ? StringType() : base.substr(dot);
}

FilePath FilePath::RemoveExtension() const {
  const StringType extension = Extension();
  if (extension.empty()) return *this;
  // The base name, and so its extension, ends the path once trailing separators go.
  StringType stripped = StripTrailingSeparators().value();
  stripped.resize(stripped.size() - extension.size());
  return FilePath(stripped);
}

FilePath FilePath::InsertBeforeExtension(StringPiece16 suffix) const {
  const StringType cut_suffix = CutAtNul(suffix);
  if (cut_suffix.empty()) return *this;
  if (IsEmptyOrSpecialCase(BaseName().value())) return FilePath();
  return FilePath(RemoveExtension().value() + cut_suffix + Extension());
}

FilePath FilePath::AddExtension(StringPiece16 extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value())) return FilePath();
  const StringType cut = CutAtNul(extension);
  if (cut.empty() || cut == L".") return *this;
  StringType text = path_;
  if (cut[0] != kExtensionSeparator && text.back() != kExtensionSeparator)
    text.push_back(kExtensionSeparator);
  return FilePath(text + cut);
}

FilePath FilePath::ReplaceExtension(StringPiece16 extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value())) return FilePath();
  FilePath without = RemoveExtension();
  const StringType cut = CutAtNul(extension);
  if (cut.empty() || cut == L".") return without;
  StringType text = without.value();
  if (cut[0] != kExtensionSeparator) text.push_back(kExtensionSeparator);
  return FilePath(text + cut);
}

FilePath FilePath::AsEndingWithSeparator() const {
  if (path_.empty() || IsSeparator(path_.back())) return *this;
  return FilePath(path_ + kSeparators[0]);
}

FilePath FilePath::NormalizePathSeparators() const {
  StringType text = path_;
  std::replace(text.begin(), text.end(), kSeparators[1], kSeparators[0]);
  return FilePath(text);
}

void FilePath::GetComponents(std::vector<StringType>* components) const {
  components->clear();
  if (path_.empty()) return;
  std::vector<StringType> reversed;
  FilePath current = *this;
  for (FilePath parent = current.DirName(); current != parent; parent = current.DirName()) {
    StringType base = current.BaseName().value();
    if (!AreAllSeparators(base)) reversed.push_back(base);
    current = parent;
  }
  // What remains is the root (separators) or ".", possibly behind a drive.
  StringType root = current.BaseName().value();
  if (!root.empty() && root != kCurrentDirectory) reversed.push_back(root);
  const StringType drive = current.DirName().value();
  if (FindDriveLetter(drive) != npos) reversed.push_back(drive.substr(0, 2));
  components->assign(reversed.rbegin(), reversed.rend());
}

bool FilePath::IsParent(const FilePath& child) const { return AppendRelativePath(child, nullptr); }

bool FilePath::AppendRelativePath(const FilePath& child, FilePath* path) const {
  std::vector<StringType> parent_components;
  std::vector<StringType> child_components;
  GetComponents(&parent_components);
  child.GetComponents(&child_components);
  if (parent_components.empty() || parent_components.size() >= child_components.size())
    return false;

  size_t i = 0;
  // Drive letters never depend on case; the rest may live on a case-sensitive volume.
  if (FindDriveLetter(parent_components[0]) != npos &&
      FindDriveLetter(child_components[0]) != npos) {
    if (!EqualsIgnoringASCIICase(parent_components[0], child_components[0])) return false;
    i = 1;
  }
  for (; i < parent_components.size(); ++i) {
    if (parent_components[i] != child_components[i]) return false;
  }
  if (path) {
    for (; i < child_components.size(); ++i) *path = path->Append(child_components[i]);
  }
  return true;
}

FilePath FilePath::Append(StringPiece16 component) const {
  const StringType appended = CutAtNul(component);
  if (appended.empty()) return *this;
  if (path_ == kCurrentDirectory) return FilePath(appended);

  FilePath result = StripTrailingSeparators();
  StringType& text = result.path_;
  // "C:" + "x" is "C:x" (relative to the drive's current folder), not "C:\x".
  if (!text.empty() && !IsSeparator(text.back()) && FindDriveLetter(text) + 1 != text.size())
    text.push_back(kSeparators[0]);
  text += appended;
  return result;
}

FilePath FilePath::Append(const FilePath& component) const { return Append(component.value()); }

FilePath FilePath::AppendASCII(StringPiece component) const {
  return Append(ASCIIToWide(component));
}

bool FilePath::IsAbsolute() const {
  if (FindDriveLetter(path_) != npos) return path_.size() > 2 && IsSeparator(path_[2]);
  return path_.size() > 1 && IsSeparator(path_[0]) && IsSeparator(path_[1]);
}

bool FilePath::ReferencesParent() const {
  if (path_.find(kParentDirectory) == npos) return false;
  std::vector<StringType> components;
  GetComponents(&components);
  for (const StringType& component : components) {
    // Windows drops trailing dots and spaces, so ". .." also means the parent.
    if (component.find_first_not_of(L". \n\r\t") == npos &&
        component.find(kParentDirectory) != npos) {
      return true;
    }
  }
  return false;
}

}  // namespace base
