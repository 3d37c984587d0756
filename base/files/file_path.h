// FilePath: a Windows path value (UTF-16 text, backslash or slash as separators, drive
// letters, roots of two leading separators). Pure text arithmetic: no file-system access.
#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class FilePath {
 public:
  typedef std::wstring StringType;
  typedef wchar_t CharType;

  // Both are separators; the first is the one this type writes.
  static const CharType kSeparators[];
  static const size_t kSeparatorsLength;
  static const CharType kCurrentDirectory[];
  static const CharType kParentDirectory[];
  static const CharType kExtensionSeparator;

  FilePath();
  // The text is cut at its first NUL.
  explicit FilePath(StringPiece16 path);
  FilePath(const FilePath& other);
  FilePath(FilePath&& other) noexcept;
  FilePath& operator=(const FilePath& other);
  FilePath& operator=(FilePath&& other) noexcept;
  ~FilePath();

  [[nodiscard]] static bool IsSeparator(CharType c);
  static FilePath FromUTF8(StringPiece utf8);

  const StringType& value() const { return path_; }
  bool empty() const { return path_.empty(); }
  void clear() { path_.clear(); }

  // Drive letters compare case-insensitively; the rest of the text exactly.
  bool operator==(const FilePath& other) const;
  bool operator!=(const FilePath& other) const { return !(*this == other); }
  // Plain code-unit order of the text, for use as a map key.
  bool operator<(const FilePath& other) const { return path_ < other.path_; }

  // -1, 0 or 1 after upper-casing every unit the way Windows does (CharUpperW).
  [[nodiscard]] static int CompareIgnoreCase(StringPiece16 a, StringPiece16 b);

  std::string AsUTF8() const;
  // The text as bytes when it is pure ASCII, else empty.
  std::string MaybeAsASCII() const;

  FilePath DirName() const;
  FilePath BaseName() const;
  // ".txt", ".tar.gz", ".user.js", or empty; taken from the base name.
  StringType Extension() const;
  FilePath RemoveExtension() const;
  FilePath InsertBeforeExtension(StringPiece16 suffix) const;
  FilePath AddExtension(StringPiece16 extension) const;
  FilePath ReplaceExtension(StringPiece16 extension) const;

  FilePath StripTrailingSeparators() const;
  FilePath AsEndingWithSeparator() const;
  FilePath NormalizePathSeparators() const;

  // Drive ("C:"), root separator(s), then each component.
  void GetComponents(std::vector<StringType>* components) const;
  [[nodiscard]] bool IsParent(const FilePath& child) const;
  // When this is a parent of `child`, appends the rest of `child` to *path (if given).
  [[nodiscard]] bool AppendRelativePath(const FilePath& child, FilePath* path) const;

  // An absolute component is appended like any other, not refused.
  FilePath Append(StringPiece16 component) const;
  FilePath Append(const FilePath& component) const;
  FilePath AppendASCII(StringPiece component) const;

  [[nodiscard]] bool IsAbsolute() const;
  // True when a component is ".." (also when padded with dots, spaces or line breaks,
  // which Windows drops).
  [[nodiscard]] bool ReferencesParent() const;

 private:
  void StripTrailingSeparatorsInternal();

  StringType path_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
