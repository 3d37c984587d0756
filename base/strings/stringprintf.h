// printf-style formatting into std::string / std::wstring through msvcrt's own printf
// family, so conversions behave as on Windows ("%s" narrow in narrow formats, "%ls"
// wide in both). A format error or a text above 32 Mi characters appends nothing.
#ifndef BASE_STRINGS_STRINGPRINTF_H_
#define BASE_STRINGS_STRINGPRINTF_H_

#include <cstdarg>
#include <string>

// gcc checks the formats as msvcrt reads them; clang knows no ms_printf (and refuses it),
// so the check is gcc's alone.
#if defined(__clang__)
#define BASE_PRINTF_FORMAT(format_index, args_index)
#else
#define BASE_PRINTF_FORMAT(format_index, args_index) \
  __attribute__((format(ms_printf, format_index, args_index)))
#endif

namespace base {

std::string StringPrintf(const char* format, ...) BASE_PRINTF_FORMAT(1, 2);
std::wstring StringPrintf(const wchar_t* format, ...);

// Clears |dst|, then appends; returns |dst|.
const std::string& SStringPrintf(std::string* dst, const char* format, ...)
    BASE_PRINTF_FORMAT(2, 3);
const std::wstring& SStringPrintf(std::wstring* dst, const wchar_t* format, ...);

void StringAppendF(std::string* dst, const char* format, ...) BASE_PRINTF_FORMAT(2, 3);
void StringAppendF(std::wstring* dst, const wchar_t* format, ...);

void StringAppendV(std::string* dst, const char* format, va_list ap) BASE_PRINTF_FORMAT(2, 0);
void StringAppendV(std::wstring* dst, const wchar_t* format, va_list ap);

}  // namespace base

#endif  // BASE_STRINGS_STRINGPRINTF_H_
