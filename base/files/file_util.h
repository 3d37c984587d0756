// Whole-file and whole-tree operations on plain Windows paths. Functions that say so
// refuse paths with ".." components or of MAX_PATH (260) characters or more.
//
// Several names here are also Win32 macros (DeleteFile, CopyFile, CreateDirectory,
// ReplaceFile); <windows.h> is included first so the macro renames declaration and
// callers alike. Code inside namespace base calls the system functions as ::NameW.
#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "base/files/file_path.h"
#include "base/result.h"

namespace base {

[[nodiscard]] bool PathExists(const FilePath& path);
[[nodiscard]] bool DirectoryExists(const FilePath& path);
// True when a file can be added to |directory|.
[[nodiscard]] bool PathIsWritable(const FilePath& directory);

// The temporary folder without trailing separators.
[[nodiscard]] bool GetTempDir(FilePath* path);
// The user's profile folder, else the temporary folder, else "C:\".
FilePath GetHomeDir();
[[nodiscard]] bool GetCurrentDirectoryPath(FilePath* path);
// The full path, or the empty path when it cannot be made.
FilePath MakeAbsoluteFilePath(const FilePath& path);

// Creates |path| and every missing parent; refuses a path of MAX_PATH characters or more.
// |error| (may be null) receives a file error code (base/files/file.h) on failure.
[[nodiscard]] bool CreateDirectoryAndGetError(const FilePath& path, int32_t* error);
[[nodiscard]] bool CreateDirectory(const FilePath& path);

// Deletes a file, or a directory (with its contents when |recursive|). A missing path
// is success. A base name with "*" or "?" deletes the matches in its directory. A
// junction or directory link is removed itself; what it points to is never touched.
[[nodiscard]] bool DeleteFile(const FilePath& path, bool recursive);
// DeleteFile for clean-up whose failure harms nothing (a leftover temporary, a partial
// download that the next run replaces): a failure is only logged at verbose level.
void DeleteFileBestEffort(const FilePath& path, bool recursive);
// Deletes the entries of |directory| matching |pattern| (and, when |recursive|, the
// matching subdirectories with their contents).
[[nodiscard]] bool DeleteFileRecursive(const FilePath& directory,
                                       const std::wstring& pattern, bool recursive);

// Creates a new empty file named "<GUID>.tmp" in |directory|.
[[nodiscard]] bool CreateTemporaryFileInDir(const FilePath& directory, FilePath* temp_file);

// Copies one file, overwriting |to|; the copy is never read-only.
[[nodiscard]] bool CopyFile(const FilePath& from, const FilePath& to);
// As CopyFile, but fails (ERROR_FILE_EXISTS) instead of replacing anything at |to|.
// Under Wine a copy that may replace looks the missing name up twice more, each a scan
// of the folder. |source_writable| says the source is not read-only, so the copy's
// attributes need no second look.
[[nodiscard]] bool CopyFileToFreePath(const FilePath& from, const FilePath& to,
                                      bool source_writable);
// Moves a file or directory, replacing an existing target file. Refuses "..".
[[nodiscard]] bool Move(const FilePath& from, const FilePath& to);
// As Move without the ".." check. On failure the thread's last error is the move's.
[[nodiscard]] bool MoveUnsafe(const FilePath& from, const FilePath& to);
// Copies |from| recursively. An existing directory |to| receives |from| as a new
// subfolder. Refuses to copy a folder into itself.
[[nodiscard]] bool CopyDirectory(const FilePath& from, const FilePath& to);
// Moves |from| over |to|, replacing an existing |to| in one step.
[[nodiscard]] bool ReplaceFile(const FilePath& from, const FilePath& to);

// Reads the whole file into |contents| (may be null).
[[nodiscard]] bool ReadFileToString(const FilePath& path, std::string* contents);
// As ReadFileToString, but false when the file holds more than |max_size| bytes;
// |contents| then holds the first |max_size| bytes.
[[nodiscard]] bool ReadFileToStringWithMaxSize(const FilePath& path,
                                               std::string* contents,
                                 size_t max_size);
// Creates or truncates |path| and writes |data|; the count written or -1.
[[nodiscard]] int WriteFile(const FilePath& path, const char* data, int size);
// Appends to an existing file; true only when everything was written.
[[nodiscard]] bool AppendToFile(const FilePath& path, const char* data, int size);
// A stream for binary reading, not inherited by child processes; close with fclose.
FILE* OpenFile(const FilePath& path);

// Where the system reached through |handle|, links resolved, as a DOS path without "\\?\".
[[nodiscard]] Result<FilePath> GetFinalPathOfHandle(HANDLE handle);

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
